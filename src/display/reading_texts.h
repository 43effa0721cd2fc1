#pragma once

#include <string>
#include <string_view>

namespace kx {

// Texts are single-byte code page 936; the ohm sign is the two bytes A6 B8.
inline constexpr std::string_view kOhm = "\xA6\xB8";

namespace texts {
inline constexpr std::string_view DcV = "DCV  600V";
inline constexpr std::string_view AcV = "ACV  600V";
inline constexpr std::string_view Ir500 = "IR:500V 20G\xA6\xB8";
inline constexpr std::string_view Ir1000 = "IR:1000V 40G\xA6\xB8";
inline constexpr std::string_view Ir2500 = "IR:2500 100G\xA6\xB8";
inline constexpr std::string_view Ir5000 = "IR:5000V 1000G\xA6\xB8";

inline constexpr std::string_view Continuous = "Continuous";
inline constexpr std::string_view Timed = "Timed";
inline constexpr std::string_view Pi = "PI";
inline constexpr std::string_view CompNg = "COMP:NG";
inline constexpr std::string_view CompGood = "COMP:GOOD";

inline constexpr std::string_view UnitV = "V";
inline constexpr std::string_view UnitOhm = "\xA6\xB8";
inline constexpr std::string_view UnitMOhm = "M\xA6\xB8";
inline constexpr std::string_view UnitGOhm = "G\xA6\xB8";
} // namespace texts

// The four texts derived from the displayed reading; written only by the frame decoder and
// read by recording. Kept as code page 936 bytes; converted only where they are shown.
struct ReadingTexts {
    std::string ReadingValue = "0000";
    std::string FunctionText{texts::Ir500};
    std::string ModeText = "40.0A";
    std::string UnitText;

    friend bool operator==(const ReadingTexts&, const ReadingTexts&) = default;
};

} // namespace kx
