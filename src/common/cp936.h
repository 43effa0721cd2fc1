#pragma once

#include <QByteArrayView>
#include <QString>

#include <string>
#include <string_view>

namespace kx {

// The program keeps every text as single-byte code page 936 bytes (the ohm sign is the two
// bytes A6 B8), the way the tables and export files hold them. These convert at the edges
// where texts are shown or typed: widgets, JSON, file names. A byte sequence that is no code
// page 936 text (a lead byte without its second byte, a byte no text holds) reads as U+FFFD,
// one for each such byte, never as nothing.
QString fromCp936(QByteArrayView bytes);
std::string toCp936(const QString& text);

} // namespace kx
