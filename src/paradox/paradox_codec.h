#pragma once

#include "paradox/paradox_value.h"

#include <QLoggingCategory>
#include <QString>

#include <cstdint>
#include <cstring>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcParadox)

// Byte-level encoding of the table format, shared by the reader, the writer and the index.
namespace kx::px::codec {

// The header every table file starts with, and where the field list starts in the header of
// a table of file version 4 or later (earlier ones list their fields right after it).
inline constexpr int kCommonHeader = 0x58;
inline constexpr int kDataHeader4 = 0x78;

inline std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t le16s(const unsigned char* p) {
    return static_cast<std::int16_t>(le16(p));
}
inline std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(unsigned char* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// The record count a table file's header states, read without looking at anything else of the
// file (so neither checked nor trusted beyond a quick refusal); none when the header cannot be
// read or states a negative count.
std::optional<std::int64_t> headerRecordCount(const QString& path);

// Number of leading bytes of a code page 936 text that fit in width bytes without splitting
// a two-byte character.
int cutText(const char* s, int len, int width);

// Writes the value into the field's storage (storageSize(f) bytes). A value that does not
// convert to the field's type gives false and a message naming the field.
bool encodeField(const FieldDef& f, const Value& v, unsigned char* out, QString* error);

// Reads one field; all-zero storage is NULL. Blob fields read as an empty text.
Value decodeField(const FieldDef& f, const unsigned char* in);

// Index entries carry shorts in the record encoding; block numbers use all 16 bits.
inline void putIndexShort(unsigned char* p, std::uint32_t v) {
    v ^= 0x8000u;
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}
inline std::uint32_t indexShort(const unsigned char* p) {
    return static_cast<std::uint32_t>(((p[0] << 8) | p[1]) ^ 0x8000);
}

} // namespace kx::px::codec
