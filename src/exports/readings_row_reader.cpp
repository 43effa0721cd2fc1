#include "exports/readings_row_reader.h"

#include "common/cp936.h"
#include "common/replacing_file.h"
#include "paradox/paradox_value.h"
#include "paradox/paradox_writer.h"
#include "readings/reading_quantity.h"
#include "readings/readings_table.h"


#include <charconv>
#include <cmath>
#include <cstring>

namespace kx {
namespace {

constexpr std::string_view kOhmUtf8 = "\xCE\xA9";
// A table holds few distinct texts; a damaged or odd one that holds many does not make the
// cache grow without end.
constexpr std::size_t kMaxCachedTexts = 4096;

bool isAscii(std::string_view s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

std::string_view withoutTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::string_view withoutBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::string_view Utf8Texts::convert(std::string_view cp936) {
    if (isAscii(cp936))
        return cp936; // the same bytes in UTF-8
    if (lastIn_.size() == cp936.size() &&
        std::memcmp(lastIn_.data(), cp936.data(), cp936.size()) == 0)
        return lastOut_;
    auto it = done_.find(cp936);
    if (it == done_.end()) {
        if (done_.size() >= kMaxCachedTexts)
            done_.clear();
        const QByteArray utf8 = fromCp936(QByteArrayView(cp936.data(), cp936.size())).toUtf8();
        it = done_.emplace(std::string(cp936), std::string(utf8.constData(), utf8.size())).first;
    }
    lastIn_ = it->first;
    lastOut_ = it->second;
    return lastOut_;
}

ReadingsRowReader::ReadingsRowReader(const ReadingsTable& table, const ReadingsFieldMap& map)
    : table_(table), store_(table.records()), map_(map) {
    using T = px::FieldType;
    columns_.resize(map.size());
    for (std::size_t k = 0; k < map.size(); ++k) {
        Column& c = columns_[k];
        c.field = map[k];
        switch (table.fields()[static_cast<std::size_t>(c.field)].type) {
        case T::Short:
        case T::Long:
        case T::AutoInc:
            c.kind = Column::Kind::Integer;
            break;
        case T::Number:
        case T::Currency:
            c.kind = Column::Kind::Real;
            break;
        case T::Time:
            c.kind = Column::Kind::Time;
            break;
        case T::Timestamp:
            c.kind = Column::Kind::Timestamp;
            break;
        case T::Alpha:
        case T::Bcd:
            c.kind = Column::Kind::Text;
            break;
        default:
            c.kind = Column::Kind::Other;
            break;
        }
    }
    count_ = store_.rowCount();
    auto mark = [this] { changed_ = true; };
    watch_[0] = QObject::connect(&table, &ReadingsTable::aboutToReset, mark);
    watch_[1] = QObject::connect(&table, &ReadingsTable::rowAboutToBeRemoved, mark);
}

ReadingsRowReader::~ReadingsRowReader() {
    for (const QMetaObject::Connection& c : watch_)
        QObject::disconnect(c);
}

Result<std::unique_ptr<ReadingsRowReader>> ReadingsRowReader::open(const ReadingsTable& table,
                                                                   ExportKind kind) {
    if (!table.isOpen())
        return fail(ReadingsTable::closedMessage());
    Result<ReadingsFieldMap> map =
        readingsFieldMap(table.fields(), table.filePath(), kind == ExportKind::Store);
    if (!map)
        return fail(map.error());
    return std::unique_ptr<ReadingsRowReader>(new ReadingsRowReader(table, map.value()));
}

Status ReadingsRowReader::check() const {
    if (changed_)
        return fail(QStringLiteral("The table changed while it was being saved"));
    return {};
}

// The field's own bytes (code page 936) for texts, its display form for anything else.
std::string_view ReadingsRowReader::text(Column& c, std::size_t index, bool trimTrailing) {
    if (store_.isNull(index, c.field))
        return {};
    std::string_view raw;
    if (c.kind == Column::Kind::Text) {
        raw = store_.textValue(index, c.field);
    } else {
        c.scratch = table_.fieldText(static_cast<qint64>(index), c.field);
        raw = c.scratch;
    }
    return trimTrailing ? withoutTrailingBlanks(raw) : raw;
}

ExportNumber ReadingsRowReader::number(Column& c, std::size_t index) {
    ExportNumber n;
    if (store_.isNull(index, c.field))
        return n;
    switch (c.kind) {
    case Column::Kind::Integer:
        n.kind = ExportNumber::Kind::Integer;
        n.integer = store_.intValue(index, c.field);
        return n;
    case Column::Kind::Real:
        n.real = store_.doubleValue(index, c.field);
        if (std::isfinite(n.real)) // not-a-number comes only from damaged files: blank
            n.kind = ExportNumber::Kind::Real;
        return n;
    default:
        break;
    }
    const std::string_view raw = text(c, index);
    const std::string_view digits = withoutBlanks(raw);
    if (digits.empty())
        return n;
    const char* end = digits.data() + digits.size();
    if (auto r = std::from_chars(digits.data(), end, n.integer);
        r.ec == std::errc() && r.ptr == end) {
        n.kind = ExportNumber::Kind::Integer;
        return n;
    }
    if (auto r = std::from_chars(digits.data(), end, n.real);
        r.ec == std::errc() && r.ptr == end && std::isfinite(n.real)) {
        n.kind = ExportNumber::Kind::Real;
        return n;
    }
    n.kind = ExportNumber::Kind::Text;
    n.text = c.utf8.convert(raw);
    return n;
}

void ReadingsRowReader::read(std::size_t index, ExportRow& row) {
    Column& no = columns_[static_cast<std::size_t>(ReadingsField::Number)];
    Column& time = columns_[static_cast<std::size_t>(ReadingsField::Time)];
    Column& value = columns_[static_cast<std::size_t>(ReadingsField::Value)];
    Column& unit = columns_[static_cast<std::size_t>(ReadingsField::Unit)];
    Column& function = columns_[static_cast<std::size_t>(ReadingsField::Function)];
    Column& remark = columns_[static_cast<std::size_t>(ReadingsField::Remark)];

    row.no = number(no, index);

    row.timeMs.reset();
    row.timeText = {};
    if (!store_.isNull(index, time.field)) {
        if (time.kind == Column::Kind::Time) {
            const std::int64_t ms = store_.intValue(index, time.field);
            if (ms >= 0 && ms < px::kMsPerDay)
                row.timeMs = static_cast<std::int32_t>(ms);
        } else if (time.kind == Column::Kind::Timestamp) {
            const double ms = store_.doubleValue(index, time.field);
            if (px::timestampInRange(ms)) {
                qint64 days = 0;
                int msOfDay = 0;
                px::splitTimestamp(ms, &days, &msOfDay);
                row.timeMs = msOfDay;
            }
        } else {
            row.timeText = time.utf8.convert(text(time, index));
        }
    }

    const std::string_view rawUnit = text(unit, index);
    row.unit = unit.utf8.convert(rawUnit);
    row.function = function.utf8.convert(text(function, index));
    row.remark = remark.utf8.convert(text(remark, index));

    std::string_view rawValue;
    if (value.kind == Column::Kind::Integer || value.kind == Column::Kind::Real) {
        // A number kept as a number: its digits, as the meter would show them, for the one
        // reading of value and unit.
        const ExportNumber n = number(value, index);
        valueDigits_.clear();
        if (n.kind == ExportNumber::Kind::Integer) {
            char buf[24];
            const auto r = std::to_chars(buf, buf + sizeof buf, n.integer);
            valueDigits_.assign(buf, r.ptr);
        } else if (n.kind == ExportNumber::Kind::Real) {
            appendPlainNumber(valueDigits_, n.real);
        }
        rawValue = valueDigits_;
        row.value = value.utf8.convert(text(value, index, true));
    } else {
        rawValue = text(value, index, true);
        row.value = value.utf8.convert(rawValue);
    }

    const ReadingQuantity q = readingQuantity(rawValue, rawUnit);
    row.baseValue = q.base;
    if (q.kind == QuantityKind::Resistance)
        row.baseUnit = kOhmUtf8;
    else
        row.baseUnit = row.unit;
}

Status exportStep(const ReadingsRowReader& reader, const ExportProgress& progress,
                  std::size_t done) {
    const auto total = static_cast<qint64>(reader.count());
    if (progress && !progress(static_cast<qint64>(done), total))
        return fail(px::cancelledMessage());
    return reader.check();
}

ChunkedWriter::ChunkedWriter(ReplacingFile& file) : file_(file) {
    text_.reserve(kChunk + 64 * 1024);
}

Status ChunkedWriter::write() {
    const auto n = static_cast<qint64>(text_.size());
    if (Status s = file_.writeAt(at_, text_.data(), n); !s)
        return s;
    at_ += n;
    text_.clear();
    return {};
}

void appendPlainNumber(std::string& out, double v, char decimalMark) {
    if (v == 0)
        v = 0; // no "-0"
    // Wide enough for the longest fixed form of a double (about 330 characters).
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    if (r.ec != std::errc())
        r = std::to_chars(buf, buf + sizeof buf, v); // cannot happen for a finite number
    const std::size_t start = out.size();
    out.append(buf, r.ptr);
    if (decimalMark != '.') {
        for (std::size_t i = start; i < out.size(); ++i) {
            if (out[i] == '.')
                out[i] = decimalMark;
        }
    }
}

} // namespace kx
