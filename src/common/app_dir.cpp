#include "common/app_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kx {

QString AppDir() {
    QString dir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
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
