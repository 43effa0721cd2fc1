// Input: a settings file's bytes, then, after a NUL byte, "section\nkey\nvalue". Reads the key,
// writes it, and checks that a plain value written reads back as written.
#include "app/settings_file.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

bool plainAscii(const QString& s) {
    for (const QChar c : s) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView all(data, static_cast<qsizetype>(size));
    const qsizetype cut = all.indexOf('\0');
    const QByteArrayView file = cut < 0 ? all : all.first(cut);
    const QString request =
        cut < 0 ? QString() : QString::fromUtf8(all.sliced(cut + 1).toByteArray());
    const QStringList parts = request.split(QLatin1Char('\n'));
    const QString section = parts.value(0, QStringLiteral("Historyfile"));
    const QString key = parts.value(1, QStringLiteral("No1"));
    const QString value = parts.value(2);

    const QString before = kx::profileString(file, section, key);
    if (before.size() > kx::kMaxValueLength)
        __builtin_trap();
    const kx::Result<QByteArray> after = kx::withProfileString(file, section, key, value);
    if (!after)
        return 0;
    // A plain value under plain names in a plain file reads back without its outer blanks.
    const bool plain = plainAscii(section) && plainAscii(key) && plainAscii(value) &&
                       !section.isEmpty() && !key.isEmpty() &&
                       value.size() <= kx::kMaxValueLength && file.toByteArray().isValidUtf8();
    if (plain && kx::profileString(after.value(), section, key) != value.trimmed())
        __builtin_trap();
    return 0;
}
