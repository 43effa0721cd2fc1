#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// Runs the command-line front end and collects what it prints.
struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QList<QJsonObject> jsonLines() const {
        QList<QJsonObject> objs;
        for (const QByteArray& line : out.split('\n')) {
            if (line.trimmed().isEmpty())
                continue;
            objs.append(QJsonDocument::fromJson(line).object());
        }
        return objs;
    }
};

// The front end never sees the machine's own devices: commands without --demo work on an
// empty bus.
// `stdoutFile`, when given, receives standard output in place of the pipe (a full device, say).
inline CliRun runCli(const QStringList& args, const QByteArray& input = {}, int timeoutMs = 60000,
                     const QString& stdoutFile = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KXLINK_DEVICES"), QStringLiteral("none"));
    p.setProcessEnvironment(env);
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile);
    p.start(QStringLiteral(KX_CLI_PATH), args);
    CliRun r;
    if (!p.waitForStarted(timeoutMs))
        return r;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
