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

std::array<QString, RecentFiles::kCount> RecentFiles::stored(const SettingsFile& settings,
                                                             QStringList* dropped) {
    std::array<QString, kCount> out;
    for (int p = 1; p <= kCount; ++p) {
        QString caption = settings.readString(section(), key(p));
        if (caption.contains(QChar(u'\0')) || caption.contains(QLatin1Char('\n')) ||
            caption.contains(QLatin1Char('\r'))) {
            if (dropped)
                dropped->append(caption);
            caption.clear();
        }
        out[index(p)] = caption;
    }
    return out;
}

QStringList RecentFiles::load(const SettingsFile& settings) {
    QStringList dropped;
    loaded_ = stored(settings, &dropped);
    added_.clear();
    setStored(loaded_);
    for (const QString& d : dropped)
        qCWarning(lcRecent).noquote() << "Dropped a recent entry that cannot be kept:" << d;
    return dropped;
}

void RecentFiles::mergeWith(const std::array<QString, kCount>& stored) {
    QStringList paths = added_;
    auto take = [&](const QString& caption, bool shown) {
        const QString path = pathOf(caption);
        if (shown && !path.isEmpty() && !paths.contains(path))
            paths << path;
    };
    for (const QString& caption : stored)
        take(caption, caption.size() > 4);
    for (int p = 1; p <= kCount; ++p)
        take(caption(p), visible(p));
    for (int p = 1; p <= kCount; ++p) {
        const bool shown = p <= paths.size();
        captions_[index(p)] = shown ? captionFor(p, paths[p - 1]) : QString();
        visible_[index(p)] = shown;
    }
    separator_ = visible_[0];
}

void RecentFiles::add(const QString& path) {
    for (int p = kCount; p >= 2; --p) {
        captions_[index(p)] = captionFor(p, pathOf(captions_[index(p - 1)]));
        visible_[index(p)] = visible_[index(p - 1)];
    }
    captions_[0] = captionFor(1, path);
    visible_[0] = true;
    separator_ = true;
    added_.removeAll(path);
    added_.prepend(path);
}

Status RecentFiles::save(SettingsFile& settings) {
    // Another window may have written the list since it was read: its entries are kept.
    const std::array<QString, kCount> now = stored(settings, nullptr);
    if (now != loaded_)
        mergeWith(now);
    for (int p = 1; p <= kCount; ++p) {
        if (const Status s = settings.writeString(section(), key(p), caption(p)); !s) {
            qCWarning(lcRecent).noquote() << s.error();
            return fail(QStringLiteral("Unable to write to %1")
                            .arg(QDir::toNativeSeparators(settings.path())));
        }
    }
    // As the file gives them back: values are read without their blanks.
    for (std::size_t i = 0; i < captions_.size(); ++i)
        loaded_[i] = captions_[i].trimmed();
    added_.clear();
    return {};
}

} // namespace kx
