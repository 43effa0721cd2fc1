#include "recording/table_export.h"

#include "common/cp936.h"
#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_codec.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "recording/field_text.h"
#include "recording/readings_schema.h"
#include "recording/readings_table.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <charconv>
#include <cstring>
#include <string>
#include <vector>

namespace kx {
namespace {

Q_LOGGING_CATEGORY(lcExport, "kx.export")

constexpr qint64 kProgressStep = 8192;        // records between progress reports
constexpr std::size_t kWriteChunk = 1u << 20; // bytes of text gathered before each write

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Checks the target by the rules of every write and, when it exists, takes it for the length of
// the save, so that no other program opens it as a table meanwhile and a table in use is never
// written over.
Result<std::unique_ptr<px::TableLock>> claimTarget(const QString& path,
                                                   const ReadingsTable* source = nullptr) {
    const Result<WriteTarget> target = checkWriteTarget(path);
    if (!target)
        return fail(target.error());
    if (source && target.value().exists && !source->filePath().isEmpty() &&
        QFileInfo(target.value().file).canonicalFilePath() ==
            QFileInfo(source->filePath()).canonicalFilePath())
        return fail(
            QStringLiteral("Cannot write %1: it is the table being saved").arg(shown(path)));
    if (exportFormatFor(path) == ExportFormat::Paradox) {
        if (const Result<WriteTarget> px = checkWriteTarget(px::indexPathFor(path)); !px)
            return fail(px.error());
    }
    if (!target.value().exists)
        return std::unique_ptr<px::TableLock>();
    bool inUse = false;
    Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path, &inUse);
    if (lock)
        return lock;
    if (inUse)
        return fail(QStringLiteral("Cannot write %1: the file is in use by another program")
                        .arg(shown(path)));
    // A file we may replace but not read cannot be locked; that is no reason to refuse.
    return std::unique_ptr<px::TableLock>();
}

// Watches the table for changes that would move or drop records under a running save.
// Appends are harmless: the save writes the records it started with.
class ChangeWatch {
public:
    explicit ChangeWatch(const ReadingsTable& table) {
        auto mark = [this] { changed_ = true; };
        connections_[0] = QObject::connect(&table, &ReadingsTable::aboutToReset, mark);
        connections_[1] = QObject::connect(&table, &ReadingsTable::rowAboutToBeRemoved, mark);
    }
    ~ChangeWatch() {
        for (const QMetaObject::Connection& c : connections_)
            QObject::disconnect(c);
    }
    Status check() const {
        if (changed_)
            return fail(QStringLiteral("The table changed while it was being saved"));
        return {};
    }

private:
    bool changed_ = false;
    QMetaObject::Connection connections_[2];
};

// The six fields a save writes, matched by name or else by position and kind, or the
// message that the table holds no readings.
Result<ReadingsFieldMap> exportFields(const ReadingsTable& table, int exportKind) {
    return readingsFieldMap(table.fields(), table.filePath(), exportKind == 2);
}

// The grid's text of one field, without a detour through a value object for the kinds a
// recording holds: whole numbers, times of day and texts. Other kinds take the general way.
class CellText {
public:
    CellText(const ReadingsTable& table, int field) : table_(table), field_(field) {
        using T = px::FieldType;
        const px::FieldType type = table.fields()[static_cast<std::size_t>(field)].type;
        if (type == T::Short || type == T::Long || type == T::AutoInc)
            kind_ = Kind::Integer;
        else if (type == T::Alpha || type == T::Bcd)
            kind_ = Kind::Text;
        else if (type == T::Time && !timeOfDayTextShowsMilliseconds())
            kind_ = Kind::Seconds;
    }

    void append(std::size_t row, std::string& out) {
        const RecordStore& s = table_.records();
        if (s.isNull(row, field_))
            return;
        switch (kind_) {
        case Kind::Integer: {
            char buf[24];
            const auto r = std::to_chars(buf, buf + sizeof buf, s.intValue(row, field_));
            out.append(buf, r.ptr);
            return;
        }
        case Kind::Text:
            out += s.textValue(row, field_);
            return;
        case Kind::Seconds: {
            const std::int64_t ms = s.intValue(row, field_);
            if (ms < 0 || ms >= 86400000)
                return; // not a time of day: blank, as the grid shows it
            if (seconds_.empty())
                seconds_.resize(86400);
            std::string& text = seconds_[static_cast<std::size_t>(ms / 1000)];
            if (text.empty())
                text = timeOfDayText(static_cast<std::int32_t>(ms / 1000 * 1000));
            out += text;
            return;
        }
        case Kind::Other:
            out += table_.fieldText(static_cast<qint64>(row), field_);
            return;
        }
    }

private:
    enum class Kind { Integer, Text, Seconds, Other };
    const ReadingsTable& table_;
    int field_;
    Kind kind_ = Kind::Other;
    std::vector<std::string> seconds_; // texts by second of the day, made as they are met
};

} // namespace

ExportFormat exportFormatFor(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot < 0 ? QString() : name.mid(dot);
    return ext == QLatin1String(".db") ? ExportFormat::Paradox : ExportFormat::Text;
}

const char* exportFormatName(ExportFormat format) {
    return format == ExportFormat::Paradox ? "paradox" : "text";
}

std::array<const char*, 6> exportFieldNames(int exportKind) {
    return readingsFieldNames(exportKind == 2);
}

Status checkExportTarget(const QString& path) {
    return claimTarget(path).status();
}

QByteArray textExportHeader() {
    return QByteArrayLiteral("No\tTime\tValue\tUnit\tFunction\tRemark\r\n");
}

Status SaveToDB(const ReadingsTable& table, const QString& path, int exportKind,
                const ExportProgress& progress) {
    Result<std::unique_ptr<px::TableLock>> target = claimTarget(path, &table);
    if (!target)
        return target.status();

    // A closed table is opened for the copy from its file, and closed again afterwards.
    std::unique_ptr<ReadingsTable> opened;
    const ReadingsTable* source = &table;
    if (!table.isOpen()) {
        opened = std::make_unique<ReadingsTable>();
        opened->setTableName(table.filePath());
        if (Status s = opened->open(); !s)
            return s;
        source = opened.get();
    }
    // The copy keeps the table's structure and is keyed on its first field, which must be the
    // record number.
    Result<ReadingsFieldMap> matched = exportFields(*source, exportKind);
    if (!matched)
        return matched.status();
    const int key = matched.value()[static_cast<std::size_t>(ReadingsField::Number)];
    if (key != 0)
        return fail(QStringLiteral("Field '%1' is not the first field: the primary index "
                                   "cannot be built on it")
                        .arg(fromCp936(source->fields()[static_cast<std::size_t>(key)].name)));

    const RecordStore& store = source->records();
    const std::vector<px::FieldDef>& fields = store.fields();
    std::vector<int> offsets;
    int at = 0;
    for (const px::FieldDef& f : fields) {
        offsets.push_back(at);
        at += px::storageSize(f);
    }
    const std::size_t count = store.rowCount();
    ChangeWatch watch(*source);
    QString error;
    auto encode = [&](std::size_t row, unsigned char* out, std::size_t fieldCount) -> Status {
        if (Status s = watch.check(); !s)
            return s;
        for (std::size_t f = 0; f < fieldCount; ++f) {
            const int field = static_cast<int>(f);
            unsigned char* cell = out + offsets[f];
            if (store.isNull(row, field))
                continue; // all zero is NULL
            if (fields[f].type == px::FieldType::Alpha) {
                const std::string_view text = store.textValue(row, field);
                const int width = px::storageSize(fields[f]);
                const int size = static_cast<int>(text.size());
                // Texts are cut to their field as they are set; only a longer one needs care.
                const int n = size <= width ? size : px::codec::cutText(text.data(), size, width);
                std::memcpy(cell, text.data(), static_cast<std::size_t>(n));
                continue;
            }
            if (!px::codec::encodeField(fields[f], store.value(row, field), cell, &error))
                return fail(error);
        }
        return {};
    };
    px::WriteOptions options;
    if (progress) {
        // The engine counts its passes over the rows; the user sees records.
        options.progress = [&](std::int64_t done, std::int64_t total) {
            const auto records = static_cast<qint64>(count);
            return progress(total > 0 ? static_cast<qint64>(done) * records / total : 0, records);
        };
    }
    const Status s = px::writeKeyedTableStored(path, fields, count, encode, options);
    if (s && progress)
        progress(static_cast<qint64>(count), static_cast<qint64>(count));
    return s;
}

Status SaveToText(const ReadingsTable& table, const QString& path, int exportKind,
                  const ExportProgress& progress) {
    if (!table.isOpen())
        return fail(ReadingsTable::closedMessage());
    Result<ReadingsFieldMap> fields = exportFields(table, exportKind);
    if (!fields)
        return fields.status();
    Result<std::unique_ptr<px::TableLock>> target = claimTarget(path, &table);
    if (!target)
        return target.status();

    // Written beside the target and put in place only when all of it is on disk; a failed or
    // cancelled save drops the temporary file with the writer.
    Result<std::unique_ptr<ReplacingFile>> opened = ReplacingFile::begin(path);
    if (!opened)
        return opened.status();
    ReplacingFile& out = *opened.value();
    qint64 written = 0;
    auto writeOut = [&](std::string& text) -> Status {
        const auto n = static_cast<qint64>(text.size());
        if (Status s = out.writeAt(written, text.data(), n); !s)
            return s;
        written += n;
        text.clear();
        return {};
    };

    std::vector<CellText> cells;
    for (int f : fields.value())
        cells.emplace_back(table, f);
    const auto count = static_cast<std::size_t>(table.rowCount());
    ChangeWatch watch(table);
    std::string text;
    text.reserve(kWriteChunk + 4096);
    text.append(textExportHeader().constData(),
                static_cast<std::size_t>(textExportHeader().size()));
    for (std::size_t row = 0; row < count; ++row) {
        if (row % kProgressStep == 0 && progress &&
            !progress(static_cast<qint64>(row), static_cast<qint64>(count)))
            return fail(px::cancelledMessage());
        if (Status s = watch.check(); !s)
            return s;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (c)
                text += '\t';
            cells[c].append(row, text);
        }
        text += "\r\n";
        if (text.size() >= kWriteChunk) {
            if (Status s = writeOut(text); !s)
                return s;
        }
    }
    if (Status s = writeOut(text); !s)
        return s;
    if (Status s = out.commit(); !s)
        return s;
    if (progress)
        progress(static_cast<qint64>(count), static_cast<qint64>(count));
    return {};
}

QString textSavedMessage(const QString& path) {
    return QStringLiteral("save table to specified file: ") + path + QStringLiteral(" Scuss!");
}

QString textNotSavedMessage(const QString& path) {
    return QStringLiteral("Could not save table to specified file: ") + path;
}

SaveAsOutcome saveTableAs(const ReadingsTable& table, const QString& path, int exportKind,
                          const ExportProgress& progress) {
    SaveAsOutcome o;
    o.format = exportFormatFor(path);
    ExportProgress watched;
    if (progress) {
        watched = [&](qint64 done, qint64 total) {
            const bool goOn = progress(done, total);
            o.cancelled = o.cancelled || !goOn;
            return goOn;
        };
    }
    if (o.format == ExportFormat::Paradox) {
        const Status s = SaveToDB(table, path, exportKind, watched);
        o.saved = s.ok();
        if (!s && !o.cancelled) {
            o.box = SaveAsOutcome::Box::Error;
            o.text = s.error();
            o.detail = s.error();
        }
        return o;
    }
    // Errors of the table itself go to the error box; the text's own outcome to a plain box.
    if (!table.isOpen() || !exportFields(table, exportKind)) {
        o.box = SaveAsOutcome::Box::Error;
        o.text = table.isOpen() ? exportFields(table, exportKind).error()
                                : ReadingsTable::closedMessage();
        o.detail = o.text;
        return o;
    }
    const Status s = SaveToText(table, path, exportKind, watched);
    o.saved = s.ok();
    o.walkedTable = !o.cancelled;
    if (o.cancelled && !s)
        return o;
    o.box = SaveAsOutcome::Box::Plain;
    o.text = s ? textSavedMessage(path) : textNotSavedMessage(path);
    if (!s) {
        o.detail = s.error();
        qCWarning(lcExport).noquote() << s.error();
    }
    return o;
}

} // namespace kx
