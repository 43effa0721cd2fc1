#pragma once

#include "common/result.h"

#include <QString>
#include <QStringList>

#include <array>

namespace kx {

class SettingsFile;

// The five recent-file entries of the File menu. Each entry is kept as its menu caption: "&",
// its position as one digit, three blanks, then the full path ("&1   /home/user/a.db"); the
// settings file stores the captions so, under the keys "No1" to "No5" of "Historyfile".
// Each entry has its own visibility; the separator above the entries shows once an entry 1
// has been listed.
class RecentFiles {
public:
    static constexpr int kCount = 5;

    static QString section() { return QStringLiteral("Historyfile"); }
    static QString key(int position) { return QStringLiteral("No%1").arg(position); }
    // "&1   " .. "&5   ".
    static QString prefix(int position);
    static QString captionFor(int position, const QString& path);
    // The path a caption names: what follows its "&" and digit, without the blanks around it.
    static QString pathOf(const QString& caption);
    // The menu text of a caption: every "&" of the path doubled so that Qt shows it instead of
    // taking it for an accelerator; the digit stays the entry's accelerator.
    static QString menuText(const QString& caption);

    // Positions run from 1 to 5.
    const QString& caption(int position) const { return captions_[index(position)]; }
    bool visible(int position) const { return visible_[index(position)]; }
    QString path(int position) const { return pathOf(caption(position)); }
    bool separatorVisible() const { return separator_; }

    // Start-up: the captions as stored. An entry longer than 4 characters is shown; the
    // separator shows with entry 1 alone.
    void setStored(const std::array<QString, kCount>& captions);
    // Reads the captions stored. An entry holding a NUL or a line break could never be
    // written back: it is dropped, and given back so the user can be told.
    QStringList load(const SettingsFile& settings);

    // A file was opened: every entry moves down one place, keeping its visibility (the path
    // of entry 5 is lost; an entry that never held a file becomes its bare prefix and stays
    // hidden), and the path becomes entry 1, shown.
    void add(const QString& path);

    // Writes the five captions, one key at a time in order. The first key that cannot be
    // written stops the writing with "Unable to write to <settings file>". When another
    // window of the program changed the stored list since it was read here, the two are
    // merged first: the files opened here, then those stored, then the rest of this list.
    Status save(SettingsFile& settings);

private:
    static std::size_t index(int position) { return static_cast<std::size_t>(position - 1); }
    static std::array<QString, kCount> stored(const SettingsFile& settings, QStringList* dropped);
    void mergeWith(const std::array<QString, kCount>& stored);
    std::array<QString, kCount> captions_{};
    std::array<bool, kCount> visible_{};
    bool separator_ = false;
    std::array<QString, kCount> loaded_{}; // as the settings file held them when last read
    QStringList added_;                    // paths added since, the newest first
};

} // namespace kx
