#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include "recording/paradox_writer.h"

// Paths and small file helpers shared by the table-file tests.
inline QString fixture(const char* name) {
    return QStringLiteral(KX_SHARED_DIR "/fixtures/paradox/") + QLatin1String(name);
}

inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool putFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Write options with the given block size.
inline kx::px::WriteOptions blocks(int size) {
    kx::px::WriteOptions o;
    o.blockSize = size;
    return o;
}
