#pragma once

#include "display/frame_decoder.h"

#include <QJsonObject>
#include <QString>

namespace kx {

// One decoded frame in the command-line front end's JSON form: accepted, record, the four
// reading texts, and for an accepted frame the strip flag, the lit annunciators and the digits.
QJsonObject decodeJson(const DecodeResult& result, const FrameDecoder& decoder);

} // namespace kx
