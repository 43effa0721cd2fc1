#include "exports/table_export.h"

#include "analysis/details_file.h"
#include "common/cp936.h"
#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "exports/export_target.h"
#include "exports/readings_row_reader.h"
#include "paradox/paradox_codec.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "readings/field_text.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "readings/table_file_io.h"
#include "recording/journalled_readings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <charconv>
#include <optional>
#include <string>
#include <vector>

namespace kx {
namespace {

constexpr qint64 kProgressStep = 8192;        // records between progress reports
constexpr std::size_t kWriteChunk = 1u << 20; // bytes of text gathered before each write

// Checks the target by the rules of every write and, when it exists, takes it for the length of
// the save; a keyed copy's index and details are checked with it.
Result<std::unique_ptr<px::TableLock>> claimTarget(const QString& path,
                                                   const ReadingsTable* source = nullptr) {
    QStringList companions;
    if (exportFormatFor(path) == ExportFormat::Paradox)
        companions << px::indexPathFor(path) << testDetailsPath(path);
    return claimExportTarget(path, source, companions);
}

// The six fields a save writes, matched by name or else by position and kind, or the
// message that the table holds no readings.
Result<ReadingsFieldMap> exportFields(const ReadingsTable& table, ExportKind kind) {
    return readingsFieldMap(table.fields(), table.filePath(), kind == ExportKind::Store);
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
    if (ext == QLatin1String(".db"))
        return ExportFormat::Paradox;
    const QString lower = ext.toLower();
    if (lower == QLatin1String(".csv"))
        return ExportFormat::Csv;
    if (lower == QLatin1String(".jsonl"))
        return ExportFormat::JsonLines;
    if (lower == QLatin1String(".xlsx"))
        return ExportFormat::Xlsx;
    return ExportFormat::Text;
}

const char* exportFormatName(ExportFormat format) {
    switch (format) {
    case ExportFormat::Paradox:
        return "paradox";
    case ExportFormat::Text:
        return "text";
    case ExportFormat::Csv:
        return "csv";
    case ExportFormat::JsonLines:
        return "jsonl";
    case ExportFormat::Xlsx:
        return "xlsx";
    }
    return "";
}

Status checkExportTarget(const QString& path) {
    return claimTarget(path).status();
}

QByteArray textExportHeader() {
    return QByteArrayLiteral("No\tTime\tValue\tUnit\tFunction\tRemark\r\n");
}

namespace {

// The keyed copy, with `details` (when given) put in place in the same change as table and
// index.
Status saveKeyed(const ReadingsTable& table, const QString& path, ExportKind kind,
                 const ExportProgress& progress, const DetailsCompanion* details) {
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
    Result<ReadingsFieldMap> matched = exportFields(*source, kind);
    if (!matched)
        return matched.status();
    const int key = matched.value()[static_cast<std::size_t>(ReadingsField::Number)];
    if (key != 0)
        return fail(QStringLiteral("Field '%1' is not the first field: the primary index "
                                   "cannot be built on it")
                        .arg(fromCp936(source->fields()[static_cast<std::size_t>(key)].name)));

    const auto count = source->rowCount();
    px::WriteOptions options;
    if (details)
        details->addTo(options);
    if (progress) {
        // The engine counts its passes over the rows; the user sees records.
        options.progress = [&](std::int64_t done, std::int64_t total) {
            return progress(total > 0 ? static_cast<qint64>(done) * count / total : 0, count);
        };
    }
    const Status s = writeKeyedFile(*source, path, options);
    if (s && progress)
        progress(count, count);
    return s;
}

} // namespace

Status SaveToDB(const ReadingsTable& table, const QString& path, ExportKind kind,
                const ExportProgress& progress) {
    return saveKeyed(table, path, kind, progress, nullptr);
}

Status SaveToText(const ReadingsTable& table, const QString& path, ExportKind kind,
                  const ExportProgress& progress) {
    if (!table.isOpen())
        return fail(ReadingsTable::closedMessage());
    Result<ReadingsFieldMap> fields = exportFields(table, kind);
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
    const TableChangeWatch watch(table);
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

SaveAsOutcome saveTableAs(ReadingsTable& table, const QString& path, ExportKind kind,
                          const ExportProgress& progress, const ExportOptions& options,
                          const TestDetails* details) {
    SaveAsOutcome o;
    o.path = path;
    o.format = exportFormatFor(path);
    o.records = table.rowCount();
    // The outcome carries the message; the caller shows or prints it, once.
    auto ended = [&](SaveAsOutcome::End end, const Status& s) {
        o.end = end;
        o.error = s.error();
        return o;
    };
    // Errors of the table itself come before any file is touched.
    if (table.isOpen()) {
        if (Result<ReadingsFieldMap> m = exportFields(table, kind); !m)
            return ended(SaveAsOutcome::End::TableRefused, m.status());
    } else if (o.format != ExportFormat::Paradox) {
        return ended(SaveAsOutcome::End::TableRefused, fail(ReadingsTable::closedMessage()));
    }
    // A keyed copy's details go beside it, in the same change as the table: the given ones,
    // else those beside the table; none replace an old file of the new name. A table opened
    // on a structure alone has no file, and no details beside one.
    const QString source = table.tableName().isEmpty() ? QString() : table.filePath();
    std::optional<DetailsCompanion> companion;
    if (o.format == ExportFormat::Paradox) {
        const Result<QByteArray> bytes =
            details ? Result<QByteArray>(details->isDefault() ? QByteArray()
                                                              : testDetailsJson(*details))
                    : testDetailsBytes(source);
        if (!bytes)
            return ended(SaveAsOutcome::End::WriteFailed, bytes.status());
        // The table's target is checked first, so a bad one is told as such.
        if (const Status s = claimTarget(path, &table).status(); !s)
            return ended(SaveAsOutcome::End::WriteFailed, s);
        Result<DetailsCompanion> prepared = DetailsCompanion::prepare(path, bytes.value());
        if (!prepared)
            return ended(SaveAsOutcome::End::WriteFailed, prepared.status());
        companion = prepared.take();
    }
    bool cancelled = false;
    ExportProgress watched;
    if (progress) {
        watched = [&](qint64 done, qint64 total) {
            const bool goOn = progress(done, total);
            cancelled = cancelled || !goOn;
            return goOn;
        };
    }
    const Status s = [&] {
        switch (o.format) {
        case ExportFormat::Paradox:
            return saveKeyed(table, path, kind, watched, &*companion);
        case ExportFormat::Text:
            break;
        case ExportFormat::Csv:
            return saveReadingsCsv(table, path, kind, options.csv, watched);
        case ExportFormat::JsonLines:
            return saveReadingsJsonLines(table, path, kind, watched);
        case ExportFormat::Xlsx: {
            // The workbook's tests are judged as the table's details say, where it has any.
            XlsxOptions xlsx = options.xlsx;
            if (details)
                xlsx.results = details->settings;
            else if (!source.isEmpty())
                xlsx.results = readTestDetails(source, xlsx.results).details.settings;
            return saveReadingsXlsx(table, path, kind, xlsx, watched);
        }
        }
        return SaveToText(table, path, kind, watched);
    }();
    // The text export went through the records: the table stays on its last one, as after any
    // walk, whether or not the file could then be written.
    if (o.format == ExportFormat::Text && !cancelled)
        table.last();
    if (s)
        return ended(SaveAsOutcome::End::Saved, s);
    return ended(cancelled ? SaveAsOutcome::End::Cancelled : SaveAsOutcome::End::WriteFailed, s);
}

SaveAsOutcome saveTableFileAs(const QString& source, const QString& target, ExportKind kind,
                              const ExportOptions& options) {
    const QString to = QFileInfo(target).absoluteFilePath();
    auto refused = [&](SaveAsOutcome::End end, const Status& s) {
        SaveAsOutcome o;
        o.end = end;
        o.format = exportFormatFor(to);
        o.path = to;
        o.error = s.error();
        return o;
    };
    if (const Status s = checkExportTarget(to); !s)
        return refused(SaveAsOutcome::End::WriteFailed, s);
    // A table too long for a workbook is refused from its header, before it is loaded.
    if (exportFormatFor(to) == ExportFormat::Xlsx) {
        if (const std::optional<std::int64_t> n = px::codec::headerRecordCount(source)) {
            if (const Status s = checkXlsxReadingCount(to, *n); !s)
                return refused(SaveAsOutcome::End::WriteFailed, s);
        }
    }
    ReadingsTable table;
    const Result<JournalledReadings> opened =
        openTableToRead(table, QFileInfo(source).absoluteFilePath(), QDateTime::currentDateTime());
    if (!opened)
        return refused(SaveAsOutcome::End::TableRefused, opened.status());
    SaveAsOutcome o = saveTableAs(table, to, kind, {}, options);
    o.sourceNote = opened.value().message;
    return o;
}

} // namespace kx
