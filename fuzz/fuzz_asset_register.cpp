// Input: a first byte, then the rest. An even first byte: the rest is a database address, as
// --database takes it. An odd one: the rest is a register file's bytes, opened as the program
// opens the user's register, then listed and read through.
#include "assets/asset_register.h"
#include "fuzz_support.h"

#include <QCoreApplication>
#include <QFile>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Qt loads its database drivers only with an application object.
    static int argc = 1;
    static char name[] = "fuzz_asset_register";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0) {
        const QString text =
            QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
        const kx::Result<kx::DatabaseLocation> l = kx::parseDatabaseUrl(text);
        // A password never shows in what is said about the address, unless the user wrote
        // the same text into another part of it (a socket folder named like an address).
        if (l && !l.value().password.isEmpty()) {
            const kx::DatabaseLocation& a = l.value();
            const QString written = QLatin1Char(':') + a.password + QLatin1Char('@');
            const bool elsewhere = (a.user + QLatin1Char(':') + a.host + QLatin1Char('/') +
                                    a.database + QLatin1Char('@'))
                                       .contains(a.password);
            if (a.shown().contains(written) && !elsewhere)
                __builtin_trap();
        }
        return 0;
    }
    const QString path = kxfuzz::scratchPath("register.sqlite");
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
    kxfuzz::putFile(path, data + 1, size - 1);
    kx::DatabaseLocation location;
    location.path = path;
    auto reg = kx::AssetRegister::open(location);
    if (!reg)
        return 0;
    auto list = reg.value()->list({QString(), true});
    if (!list)
        return 0;
    for (const kx::AssetSummary& s : list.value()) {
        auto tests = reg.value()->tests(s.asset.tag);
        auto trend = reg.value()->trend(s.asset.tag);
        if (tests && !tests.value().empty())
            (void)reg.value()->test(tests.value().front().id);
    }
    (void)reg.value()->allTests();
    return 0;
}
