#include "common/app_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef KX_TEMPLATES_FROM_BIN
#define KX_TEMPLATES_FROM_BIN "../share/kxlink"
#endif

namespace kx {
namespace {
Q_LOGGING_CATEGORY(lcAppDir, "kx.appdir")

QString withSlash(QString dir) {
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString systemReason(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// The manual belongs to the program, not to the user: it follows the installed one.
bool isProgramOwned(const QString& relativePath) {
    return relativePath.startsWith(QLatin1String("help/"));
}

bool sameCopy(const QFileInfo& a, const QFileInfo& b) {
    return a.size() == b.size() &&
           qAbs(a.lastModified().msecsTo(b.lastModified())) < 1000; // coarse file systems
}

Status makeFolder(const QString& path) {
    const QString dir = QDir::cleanPath(path); // "x/" would never be seen as a file
    const QFileInfo info(dir);
    if (info.exists() && !info.isDir())
        return fail(
            QStringLiteral("Cannot use %1 for kxlink's files: it is not a folder").arg(dir));
    std::error_code ec;
    std::filesystem::create_directories(QFile::encodeName(dir).toStdString(), ec);
    if (ec) {
        return fail(QStringLiteral("Cannot create the folder %1 for kxlink's files: %2")
                        .arg(dir, QString::fromLocal8Bit(ec.message())));
    }
    return {};
}

// Copies `from` to `to` through a temporary file in the target's folder. Without `replace`
// a file that appears at `to` meanwhile wins and the copy is dropped.
Status copyThroughTemporary(const QString& from, const QString& to, bool replace) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read the template %1: %2").arg(from, in.errorString()));
    const QString folder = QFileInfo(to).absolutePath();
    QTemporaryFile out(folder + QStringLiteral("/.kxlink-copy-XXXXXX"));
    if (!out.open()) {
        return fail(
            QStringLiteral("Cannot write in the folder %1: %2").arg(folder, out.errorString()));
    }
    const auto writeFailed = [&] {
        return fail(QStringLiteral("Cannot copy %1 to %2: %3").arg(from, to, out.errorString()));
    };
    QByteArray chunk;
    while (!(chunk = in.read(1 << 16)).isEmpty()) {
        if (out.write(chunk) != chunk.size())
            return writeFailed();
    }
    if (in.error() != QFileDevice::NoError)
        return fail(QStringLiteral("Cannot read the template %1: %2").arg(from, in.errorString()));
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther);
    if (!out.flush())
        return writeFailed();
    out.setFileTime(QFileInfo(in).lastModified(), QFileDevice::FileModificationTime);
    out.close();
    if (out.error() != QFileDevice::NoError)
        return writeFailed();

    const QByteArray tmpName = QFile::encodeName(out.fileName());
    if (replace) {
        if (std::rename(tmpName.constData(), QFile::encodeName(to).constData()) != 0)
            return fail(QStringLiteral("Cannot replace %1: %2").arg(to, systemReason(errno)));
    } else if (!QFile::rename(out.fileName(), to)) {
        if (QFileInfo::exists(to) || QFileInfo(to).isSymLink())
            return {}; // someone else's copy came first; it is kept
        return fail(QStringLiteral("Cannot create %1").arg(to));
    }
    out.setAutoRemove(false); // the temporary name is gone: it is the target now
    return {};
}

} // namespace

AppDirPlaces AppDirPlaces::system() {
    AppDirPlaces p;
    p.exeDir = QCoreApplication::instance()
                   ? QCoreApplication::applicationDirPath()
                   : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    // Without any home folder there is no data folder: the executable's folder is all there is.
    p.dataDir = data.isEmpty() ? p.exeDir : data + QStringLiteral("/kxlink");
    p.templatesDir =
        QDir::cleanPath(p.exeDir + QLatin1Char('/') + QStringLiteral(KX_TEMPLATES_FROM_BIN));
    return p;
}

QString resolveAppDir(const AppDirPlaces& places) {
    const QString exe = withSlash(places.exeDir);
    if (places.dataDir.isEmpty() || QFileInfo::exists(exe + QLatin1String(kSettingsFileName)))
        return exe;
    return withSlash(places.dataDir);
}

Status fillAppDir(const QString& dataDir, const QString& templatesDir) {
    const QString data = withSlash(dataDir);
    const QFileInfo templates(templatesDir);
    if (templatesDir.isEmpty() || !templates.isDir() ||
        !QFileInfo::exists(withSlash(templatesDir) + QLatin1String(kSettingsFileName))) {
        // Nothing to copy from; a folder that already has its settings file still works.
        if (QFileInfo::exists(data + QLatin1String(kSettingsFileName)))
            return {};
        return fail(
            QStringLiteral("kxlink's template files are missing from %1; "
                           "install kxlink again.")
                .arg(templatesDir.isEmpty() ? QStringLiteral("its installation") : templatesDir));
    }
    if (Status s = makeFolder(data); !s)
        return s;

    const QDir root(templates.absoluteFilePath());
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    int copied = 0;
    while (it.hasNext()) {
        const QString from = it.next();
        const QString rel = root.relativeFilePath(from);
        const QString to = data + rel;
        const QFileInfo target(to);
        const bool present = target.exists() || target.isSymLink();
        const bool programOwned = isProgramOwned(rel);
        if (present && (!programOwned || sameCopy(target, it.fileInfo())))
            continue;
        if (Status s = makeFolder(target.absolutePath()); !s)
            return s;
        if (Status s = copyThroughTemporary(from, to, programOwned); !s)
            return s;
        ++copied;
    }
    if (copied > 0)
        qCInfo(lcAppDir).noquote() << "copied" << copied << "template files into" << data;
    return {};
}

Status prepareAppDir(const AppDirPlaces& places) {
    const QString dir = resolveAppDir(places);
    if (dir == withSlash(places.exeDir))
        return {};
    return fillAppDir(places.dataDir, places.templatesDir);
}

QString AppDir() {
    // Worked out once: the folder does not move during a run, and callers ask often.
    static const QString dir = resolveAppDir(AppDirPlaces::system());
    return dir;
}

QString chartPicturesDir() {
    return QDir::homePath() + QStringLiteral("/TestGraph/");
}

QString resolveInAppDir(const QString& name) {
    if (name.contains(QLatin1Char('/')) || QFileInfo(name).isAbsolute())
        return name;
    return AppDir() + name;
}

} // namespace kx
