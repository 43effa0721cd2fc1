#pragma once

#include "display/frame_decoder.h"

#include <QJsonObject>
#include <QString>

#include <string_view>

namespace kx {

// Code page 936 bytes to a QString, for the edges of the program (display, JSON).
QString fromCp936(std::string_view bytes);
// And back, for texts entered or shown by the program that end up in tables.
std::string toCp936(const QString& text);

// One decoded frame in the command-line front end's JSON form: accepted, record, the four
// reading texts, and for an accepted frame the strip flag, the lit annunciators and the digits.
QJsonObject decodeJson(const DecodeResult& result, const FrameDecoder& decoder);

} // namespace kx
