#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cstddef>

namespace kx::px {
class Value;
}

namespace kx::cli {

// Standard output of the command-line front end: one compact JSON object per line, UTF-8,
// keys in the order the JSON library keeps them (sorted), each line whole and flushed as soon
// as it is known. Messages go to standard error. This is the only place that writes to either.

// One object as one line.
void printJson(const QJsonObject& o);
// A message for the user on stderr.
void printError(const QString& message);
// Raw bytes for stdout (table dumps, help texts). A failure is remembered: see finishOutput.
void writeOutput(const char* data, std::size_t size);
void writeOutput(const QString& text);
// Whether writing to stdout has failed; a command that prints as it goes stops then.
bool outputFailed();
// Flushes stdout. When anything written to it was lost (a full disk, a closed pipe, a
// device that refuses it) says so on stderr with the system's reason and turns the exit
// code into a failure; otherwise returns `code` as it is.
int finishOutput(int code);

// Values in their JSON form. Table texts are code page 936 bytes.
QString jsonText(const QByteArray& cp936);
// Numbers stay numbers (a number that is not finite is null), blanks are null, logical
// values are booleans, and every other value is its text form.
QJsonValue jsonValue(const px::Value& v);

} // namespace kx::cli
