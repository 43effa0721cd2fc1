#include "app/recent_files.h"

#include "app/settings_file.h"

#include <QDir>
#include <QLoggingCategory>

namespace kx {
namespace {
Q_LOGGING_CATEGORY(lcRecent, "kx.recent")

// A caption names its path after "&" and the entry's digit.
qsizetype pathStart(const QString& caption) {
    if (caption.size() >= 2 && caption.at(0) == QLatin1Char('&') && caption.at(1).isDigit())
        return 2;
    return 0;
}

} // namespace

QString RecentFiles::prefix(int position) {
    return QStringLiteral("&%1   ").arg(position);
}

QString RecentFiles::captionFor(int position, const QString& path) {
    return prefix(position) + path;
}

QString RecentFiles::pathOf(const QString& caption) {
    return caption.mid(pathStart(caption)).trimmed();
}

QString RecentFiles::menuText(const QString& caption) {
    const qsizetype start = pathStart(caption);
    QString rest = caption.mid(start);
    rest.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return caption.left(start) + rest;
}

void RecentFiles::setStored(const std::array<QString, kCount>& captions) {
    captions_ = captions;
    for (std::size_t i = 0; i < captions_.size(); ++i)
        visible_[i] = captions_[i].size() > 4;
    separator_ = visible_[0];
}

void RecentFiles::load(const SettingsFile& settings) {
    std::array<QString, kCount> stored;
    for (int p = 1; p <= kCount; ++p)
        stored[index(p)] = settings.readString(section(), key(p));
    setStored(stored);
}

void RecentFiles::add(const QString& path) {
    for (int p = kCount; p >= 2; --p) {
        captions_[index(p)] = captionFor(p, pathOf(captions_[index(p - 1)]));
        visible_[index(p)] = visible_[index(p - 1)];
    }
    captions_[0] = captionFor(1, path);
    visible_[0] = true;
    separator_ = true;
}

Status RecentFiles::save(SettingsFile& settings) const {
    for (int p = 1; p <= kCount; ++p) {
        if (const Status s = settings.writeString(section(), key(p), caption(p)); !s) {
            qCWarning(lcRecent).noquote() << s.error();
            return fail(QStringLiteral("Unable to write to %1")
                            .arg(QDir::toNativeSeparators(settings.path())));
        }
    }
    return {};
}

} // namespace kx
