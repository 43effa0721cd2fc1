#include "app/settings_file.h"

#include "common/cp936.h"
#include "common/regular_file.h"
#include "common/replacing_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <optional>
#include <vector>

namespace kx {
namespace {

// A settings file is a few lines; anything this large is not one.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView b) {
    qsizetype from = 0, to = b.size();
    while (from < to && isBlank(b[from]))
        ++from;
    while (to > from && isBlank(b[to - 1]))
        --to;
    return b.sliced(from, to - from);
}

// Texts of the file are UTF-8 unless the file is not valid UTF-8, in which case it comes from
// a system that wrote code page 936.
struct TextCodec {
    bool utf8 = true;

    static TextCodec of(QByteArrayView file) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        [[maybe_unused]] const QString text = decoder(file);
        return TextCodec{!decoder.hasError()};
    }
    QString decode(QByteArrayView b) const { return utf8 ? QString::fromUtf8(b) : fromCp936(b); }
    std::optional<QByteArray> encode(const QString& text) const {
        if (utf8)
            return text.toUtf8();
        const std::string bytes = toCp936(text);
        QByteArray out(bytes.data(), static_cast<qsizetype>(bytes.size()));
        if (fromCp936(out) != text)
            return std::nullopt;
        return out;
    }
};

// A file in UTF-16 with its byte-order mark (as editors on some systems save it) is read and
// changed as UTF-8 text and written back in its own encoding.
struct Utf16Text {
    QStringConverter::Encoding encoding = QStringConverter::Utf16LE;
    QByteArray bom;
    QByteArray utf8;   // the text after the mark
    bool exact = true; // the text encodes back to the very bytes it came from

    static std::optional<Utf16Text> of(QByteArrayView file) {
        Utf16Text t;
        if (file.startsWith("\xFF\xFE"))
            t.encoding = QStringConverter::Utf16LE;
        else if (file.startsWith("\xFE\xFF"))
            t.encoding = QStringConverter::Utf16BE;
        else
            return std::nullopt;
        t.bom = file.first(2).toByteArray();
        const QByteArrayView body = file.sliced(2);
        QStringDecoder decoder(t.encoding, QStringDecoder::Flag::Stateless);
        const QString text = decoder(body);
        t.utf8 = text.toUtf8();
        t.exact = !decoder.hasError() && t.encode(t.utf8) == file;
        return t;
    }
    QByteArray encode(const QByteArray& utf8) const {
        QStringEncoder encoder(encoding, QStringEncoder::Flag::Stateless);
        return bom + QByteArray(encoder(QString::fromUtf8(utf8)));
    }
};

struct Line {
    enum class Kind { Blank, Section, Key, Other };
    Kind kind = Kind::Other;
    qsizetype start = 0; // first byte
    qsizetype end = 0;   // end of the content, before the line end
    qsizetype next = 0;  // first byte of the next line
    QByteArrayView name; // section or key name, trimmed
    QByteArrayView value;
};

std::vector<Line> parseLines(QByteArrayView file) {
    std::vector<Line> lines;
    qsizetype pos = file.startsWith("\xEF\xBB\xBF") ? 3 : 0; // a byte-order mark stays
    while (pos < file.size()) {
        Line l;
        l.start = pos;
        qsizetype nl = file.indexOf('\n', pos);
        if (nl < 0) {
            l.end = l.next = file.size();
        } else {
            l.next = nl + 1;
            l.end = (nl > pos && file[nl - 1] == '\r') ? nl - 1 : nl;
        }
        const QByteArrayView content = trimmed(file.sliced(l.start, l.end - l.start));
        if (content.isEmpty()) {
            l.kind = Line::Kind::Blank;
        } else if (content.front() == '[') {
            l.kind = Line::Kind::Section;
            const qsizetype close = content.indexOf(']');
            l.name = trimmed(content.sliced(1, (close < 0 ? content.size() : close) - 1));
        } else if (content.front() == ';') {
            l.kind = Line::Kind::Other;
        } else if (const qsizetype eq = content.indexOf('='); eq >= 0) {
            l.kind = Line::Kind::Key;
            l.name = trimmed(content.first(eq));
            l.value = content.sliced(eq + 1);
        }
        lines.push_back(l);
        pos = l.next;
    }
    return lines;
}

bool sameName(const TextCodec& codec, QByteArrayView stored, const QString& wanted) {
    return codec.decode(stored).compare(wanted, Qt::CaseInsensitive) == 0;
}

// The lines [first, last) of the first section of that name; first is its header.
struct SectionSpan {
    std::size_t header = 0;
    std::size_t end = 0;
};

std::optional<SectionSpan> findSection(const std::vector<Line>& lines, const TextCodec& codec,
                                       const QString& section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Line::Kind::Section || !sameName(codec, lines[i].name, section))
            continue;
        std::size_t j = i + 1;
        while (j < lines.size() && lines[j].kind != Line::Kind::Section)
            ++j;
        return SectionSpan{i, j};
    }
    return std::nullopt;
}

std::optional<std::size_t> findKey(const std::vector<Line>& lines, const TextCodec& codec,
                                   const SectionSpan& span, const QString& key) {
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        if (lines[i].kind == Line::Kind::Key && sameName(codec, lines[i].name, key))
            return i;
    }
    return std::nullopt;
}

QString cutValue(QString v) {
    if (v.size() <= kMaxValueLength)
        return v;
    qsizetype n = kMaxValueLength;
    if (v.at(n - 1).isHighSurrogate())
        --n; // never half a character
    v.truncate(n);
    return v;
}

bool hasLineBreak(const QString& s) {
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r')) ||
           s.contains(QChar(u'\0'));
}

} // namespace

QString profileString(QByteArrayView file, const QString& section, const QString& key) {
    if (const std::optional<Utf16Text> u = Utf16Text::of(file))
        return profileString(u->utf8, section, key);
    const TextCodec codec = TextCodec::of(file);
    const std::vector<Line> lines = parseLines(file);
    const std::optional<SectionSpan> span = findSection(lines, codec, section);
    if (!span)
        return {};
    const std::optional<std::size_t> at = findKey(lines, codec, *span, key);
    if (!at)
        return {};
    return cutValue(codec.decode(lines[*at].value).trimmed());
}

Result<QByteArray> withProfileString(QByteArrayView file, const QString& section,
                                     const QString& key, const QString& value) {
    if (section.trimmed().isEmpty() || section.trimmed() != section || hasLineBreak(section) ||
        section.contains(QLatin1Char(']')))
        return fail(QStringLiteral("Invalid section name '%1'").arg(section));
    if (key.trimmed().isEmpty() || key.trimmed() != key || hasLineBreak(key) ||
        key.contains(QLatin1Char('=')) || key.startsWith(QLatin1Char('[')) ||
        key.startsWith(QLatin1Char(';')))
        return fail(QStringLiteral("Invalid key name '%1'").arg(key));
    if (hasLineBreak(value))
        return fail(QStringLiteral("The value of %1 holds a line break").arg(key));
    if (const std::optional<Utf16Text> u = Utf16Text::of(file)) {
        // Changed as UTF-8, written back as it came; a damaged text is not rewritten, since
        // its other lines could not be kept as they are.
        if (!u->exact)
            return fail(QStringLiteral("The file's UTF-16 text is damaged"));
        Result<QByteArray> changed = withProfileString(u->utf8, section, key, value);
        if (!changed)
            return changed;
        return u->encode(changed.value());
    }

    const TextCodec codec = TextCodec::of(file);
    const std::optional<QByteArray> line = codec.encode(key + QLatin1Char('=') + value);
    const std::optional<QByteArray> header =
        codec.encode(QLatin1Char('[') + section + QLatin1Char(']'));
    if (!line || !header)
        return fail(
            QStringLiteral("The value of %1 cannot be written in the file's code page").arg(key));
    const qsizetype firstBreak = file.indexOf('\n');
    const QByteArray eol =
        firstBreak > 0 && file[firstBreak - 1] == '\r' ? QByteArray("\r\n") : QByteArray("\n");

    const std::vector<Line> lines = parseLines(file);
    QByteArray out;
    out.reserve(file.size() + line->size() + header->size() + 8);
    const std::optional<SectionSpan> span = findSection(lines, codec, section);
    if (!span) {
        out += file;
        if (!out.isEmpty() && !out.endsWith('\n'))
            out += eol;
        out += *header + eol + *line + eol;
        return out;
    }
    if (const std::optional<std::size_t> at = findKey(lines, codec, *span, key)) {
        // The line's own line end and everything around it stay.
        out += file.first(lines[*at].start);
        out += *line;
        out += file.sliced(lines[*at].end);
        return out;
    }
    // After the section's last line that is not blank: blank lines before the next section
    // stay where they are.
    std::size_t last = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        if (lines[i].kind != Line::Kind::Blank)
            last = i;
    }
    const Line& after = lines[last];
    out += file.first(after.next);
    if (after.next == after.end)
        out += eol; // the file ended without a line end
    out += *line + eol;
    out += file.sliced(after.next);
    return out;
}

bool SettingsFile::exists() const {
    return fileKind(path_) == FileKind::Regular;
}

QString SettingsFile::readString(const QString& section, const QString& key) const {
    if (!exists() || QFileInfo(path_).size() > kMaxFileSize)
        return {};
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return profileString(f.readAll(), section, key);
}

Status SettingsFile::writeString(const QString& section, const QString& key, const QString& value) {
    const QString shown = QDir::toNativeSeparators(path_);
    const FileKind kind = fileKind(path_);
    QByteArray before;
    if (kind != FileKind::Missing) {
        if (kind != FileKind::Regular)
            return fail(QStringLiteral("Cannot write %1: it is not a regular file").arg(shown));
        if (isReadOnlyFile(path_))
            return fail(QStringLiteral("Cannot write %1: the file is read-only").arg(shown));
        if (QFileInfo(path_).size() > kMaxFileSize)
            return fail(QStringLiteral("Cannot write %1: the file is too large").arg(shown));
        QFile in(path_);
        if (!in.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("Cannot read %1: %2").arg(shown, in.errorString()));
        before = in.readAll();
    }
    Result<QByteArray> after = withProfileString(before, section, key, value);
    if (!after)
        return fail(QStringLiteral("Cannot write %1: %2").arg(shown, after.error()));

    // Never half a file in place of the old one.
    Result<std::unique_ptr<ReplacingFile>> out = ReplacingFile::begin(path_);
    if (!out)
        return out.status();
    if (Status s = out.value()->writeAt(0, after.value().constData(), after.value().size()); !s)
        return s;
    return out.value()->commit();
}

QString databaseSetting(const SettingsFile& settings) {
    return settings.readString(QStringLiteral("Assets"), QStringLiteral("Database"));
}

Status setDatabaseSetting(SettingsFile& settings, const QString& url) {
    return settings.writeString(QStringLiteral("Assets"), QStringLiteral("Database"), url);
}

} // namespace kx
