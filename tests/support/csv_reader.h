#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A strict reader of comma-separated text as RFC 4180 has it, to check what the exports write:
// every record ends in CR LF, a field is either plain (no delimiter, quote, CR or LF in it) or
// wholly in double quotes with its quotes doubled. Anything else (a bare CR or LF, a quote in
// a plain field, text after a closing quote, an open quote at the end) is no CSV: nothing.
namespace kxtest {

using CsvRecords = std::vector<std::vector<std::string>>;

inline std::optional<CsvRecords> readStrictCsv(std::string_view text, char delimiter) {
    CsvRecords records;
    std::vector<std::string> record;
    std::string field;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        field.clear();
        if (text[i] == '"') {
            ++i;
            for (;;) {
                if (i >= n)
                    return std::nullopt; // the quote never closes
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
        } else {
            while (i < n && text[i] != delimiter && text[i] != '\r' && text[i] != '\n') {
                if (text[i] == '"')
                    return std::nullopt;
                field += text[i++];
            }
        }
        record.push_back(field);
        if (i < n && text[i] == delimiter) {
            ++i;
            if (i == n)
                return std::nullopt; // a record cut after its delimiter
            continue;
        }
        if (i + 1 < n && text[i] == '\r' && text[i + 1] == '\n') {
            i += 2;
            records.push_back(std::move(record));
            record.clear();
            continue;
        }
        return std::nullopt; // a bare CR or LF, text after a closing quote, no line end
    }
    if (!record.empty())
        return std::nullopt; // the last record has no CR LF
    return records;
}

} // namespace kxtest
