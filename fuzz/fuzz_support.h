#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

// Helpers shared by the fuzz targets.
namespace kxfuzz {

// A folder of the fuzzing process's own, for inputs that the code under test reads as files;
// in memory where the system offers a memory file system, since every run writes its input.
inline const QTemporaryDir& scratchDir() {
    static const QTemporaryDir dir((QDir(QStringLiteral("/dev/shm")).exists()
                                        ? QStringLiteral("/dev/shm")
                                        : QDir::tempPath()) +
                                   QStringLiteral("/kxfuzz-XXXXXX"));
    return dir;
}

inline QString scratchPath(const char* name) {
    return scratchDir().filePath(QString::fromLatin1(name));
}

inline void putFile(const QString& path, const std::uint8_t* data, std::size_t size) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
}

} // namespace kxfuzz
