// Input: the marker a change of several files leaves while it renames them (".NAME.commit"), as
// a crash, a damaged disk or someone else may leave it; "@" stands for the marker's folder.
// Finishing it may only ever rename our temporaries over their targets in that folder and
// remove files that belong to the first target (its index, its details): the checks below
// find any other file touched, and no file outside the folder is named to begin with unless
// the input names it.
#include "common/replacing_file.h"
#include "fuzz_support.h"

#include <QDir>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>

namespace {

const char* const kFiles[] = {"t.db",
                              "t.px",
                              "t.results.json",
                              ".t.db.0000abcd.tmp",
                              ".t.px.0000abcd.tmp",
                              ".t.db.12345678.old",
                              "other"};

QString folder() {
    static const QString dir = [] {
        const QString d = kxfuzz::scratchPath("marker");
        QDir().mkpath(d);
        return d;
    }();
    return dir;
}

void put(const QString& name, const QByteArray& bytes) {
    QFile f(folder() + QLatin1Char('/') + name);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QDir dir(folder());
    for (const QString& n :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        QFile::remove(dir.filePath(n));
    for (const char* name : kFiles)
        put(QString::fromLatin1(name), name);
    QByteArray marker(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    marker.replace('@', QFile::encodeName(folder()));
    put(QStringLiteral(".t.db.commit"), marker);

    (void)kx::finishInterruptedReplace(dir.filePath(QStringLiteral("t.db")));

    // "other" is nobody's: it is never touched. A target holds its own bytes or those of its
    // temporary, nothing else; only the files that belong to t.db may go.
    auto bytesOf = [&](const char* name) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    };
    if (bytesOf("other") != "other")
        __builtin_trap();
    const QByteArray db = bytesOf("t.db"), px = bytesOf("t.px");
    if (db != "t.db" && db != ".t.db.0000abcd.tmp")
        __builtin_trap();
    if (px != "t.px" && px != ".t.px.0000abcd.tmp" && px != "<missing>")
        __builtin_trap();
    const QByteArray details = bytesOf("t.results.json");
    if (details != "t.results.json" && details != "<missing>")
        __builtin_trap();
    return 0;
}
