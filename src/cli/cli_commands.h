#pragma once

#include <QStringList>

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

} // namespace kx::cli
