#pragma once

#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

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
inline QProcessEnvironment cliEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KXLINK_DEVICES"), QStringLiteral("none"));
    return env;
}

// `stdoutFile`, when given, receives standard output in place of the pipe (a full device, say).
inline CliRun runCli(const QStringList& args, const QByteArray& input = {}, int timeoutMs = 60000,
                     const QString& stdoutFile = {}) {
    QProcess p;
    p.setProcessEnvironment(cliEnvironment());
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

// The words of `line` as arguments; a word starting with '@' names a file in `dir`.
inline QStringList cliArgs(const QTemporaryDir& dir, const char* line) {
    QStringList args;
    for (const QString& word : QString::fromUtf8(line).split(' ', Qt::SkipEmptyParts))
        args << (word.startsWith('@') ? dir.filePath(word.mid(1)) : word);
    return args;
}

// One reading as a live table's record, timed a second per record number.
inline kx::px::Record readingRow(std::int32_t no, const QByteArray& value = "1.5",
                                 const QByteArray& unit = "M\xA6\xB8",
                                 const QByteArray& function = "IR:500V 20G\xA6\xB8",
                                 const QByteArray& mode = "Continuous") {
    return {kx::px::Value(no),       kx::px::Value::timeOfDay(1000 * no),
            kx::px::Value(value),    kx::px::Value(unit),
            kx::px::Value(function), kx::px::Value(mode)};
}

// Records 1 to n, made by `row` (readingRow's defaults unless given).
inline std::vector<kx::px::Record> readingRows(
    int n, const std::function<kx::px::Record(int)>& row = [](int i) { return readingRow(i); }) {
    std::vector<kx::px::Record> rows;
    for (int i = 1; i <= n; ++i)
        rows.push_back(row(i));
    return rows;
}

// A readings table file `name` in `dir`, keyed on No when asked.
inline QString tableFile(const QTemporaryDir& dir, const char* name,
                         const std::vector<kx::px::Record>& rows, bool keyed = false) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    const kx::Status s = keyed ? kx::px::writeKeyedTable(path, kx::readingsFields(), rows)
                               : kx::px::writeTable(path, kx::readingsFields(), rows);
    EXPECT_TRUE(s.ok()) << s.error().toStdString();
    return path;
}

// What a folder holds, below it too: each entry's kind, a plain file's size and digest.
// Pipes and devices are never opened.
inline std::map<std::string, std::string> folderState(const QString& folder) {
    std::map<std::string, std::string> state;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo f(it.next());
        std::string& s = state[f.filePath().mid(folder.size() + 1).toStdString()];
        if (f.isSymLink()) {
            s = "link to " + f.symLinkTarget().toStdString();
        } else if (f.isDir()) {
            s = "folder";
        } else if (f.isFile()) {
            QFile file(f.filePath());
            s = file.open(QIODevice::ReadOnly)
                    ? QStringLiteral("%1 bytes %2")
                          .arg(f.size())
                          .arg(QString::fromLatin1(
                              QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1)
                                  .toHex()))
                          .toStdString()
                    : "unreadable file";
        } else {
            s = "special";
        }
    }
    return state;
}
