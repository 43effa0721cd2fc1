#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

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

// Reads a fuzzer's input from the front: bytes, big-endian words and short texts; past the end,
// zeros and empty texts.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ >= end_; }
    std::uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    std::uint32_t word(int bytes) {
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v << 8 | byte();
        return v;
    }
    // Up to 23 bytes, the length taken from the first.
    std::string text() {
        std::size_t n = byte() % 24;
        n = std::min<std::size_t>(n, static_cast<std::size_t>(end_ - p_));
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

// Stops the run as a crash when a property the target checks does not hold.
inline void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

} // namespace kxfuzz
