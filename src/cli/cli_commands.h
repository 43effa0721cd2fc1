#pragma once

#include <QStringList>

#include <cstddef>

class QJsonObject;

namespace kx::cli {

// Each command takes the arguments after its name and returns the process exit code:
// 0 success, 1 failure (message on stderr), 2 bad usage (usage line on stderr).
int runDecode(const QStringList& args);
int runReplay(const QStringList& args);
int runTable(const QStringList& args);
int runList(const QStringList& args);
int runMonitor(const QStringList& args);
int runRecord(const QStringList& args);
int runExport(const QStringList& args);
int runQuery(const QStringList& args);
int runChart(const QStringList& args);
int runReport(const QStringList& args);

// Shared output helpers: one compact JSON object per line on stdout, messages on stderr.
void printJson(const QJsonObject& o);
void printError(const QString& message);
int usageError(const QString& usage);
// Raw bytes for stdout (table dumps). A failure is remembered: see finishOutput.
void writeOutput(const char* data, std::size_t size);
// Whether writing to stdout has failed; a command that prints as it goes stops then.
bool outputFailed();
// Flushes stdout. When anything written to it was lost (a full disk, a closed pipe, a
// device that refuses it) says so on stderr with the system's reason and turns the exit
// code into a failure; otherwise returns `code` as it is.
int finishOutput(int code);

} // namespace kx::cli
