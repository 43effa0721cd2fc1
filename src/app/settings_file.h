#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kx {

// Initialisation files of sections and keys:
//
//   [Historyfile]
//   No1=&1   /home/user/readings.db
//
// Section and key names match without regard to case; the first section and the first key of
// a name count. Lines starting with ';' are comments. Values read back without the blanks
// around them and at most kMaxValueLength characters long; a missing key reads as empty. A
// file that is not valid UTF-8 is taken as code page 936 (a file brought over from the
// meter's original PC). A file in UTF-16 with a byte-order mark is read as its text and
// written back in UTF-16 with the same mark.

constexpr int kMaxValueLength = 2047;

// The value of `key` in `section` of a file's bytes; empty when either is missing.
QString profileString(QByteArrayView file, const QString& section, const QString& key);

// The file's bytes with `key` in `section` set to `value` (written as it stands, blanks
// included). Every other line is kept byte for byte, in its order, with its line end; a key
// not yet there is added after the last line of its section, a missing section at the end of
// the file, with the file's own line ends. Values with line breaks, and names the format cannot
// hold, are refused.
Result<QByteArray> withProfileString(QByteArrayView file, const QString& section,
                                     const QString& key, const QString& value);

// The settings file on disk. Each write reads the file afresh, changes one key and puts the
// whole file back through a temporary file and a rename, so a crash or a full disk never
// leaves a truncated file.
class SettingsFile {
public:
    explicit SettingsFile(QString path) : path_(std::move(path)) {}

    const QString& path() const { return path_; }
    // Whether the file exists as a regular file.
    bool exists() const;
    // Empty when the key, the section or the file is missing or cannot be read.
    QString readString(const QString& section, const QString& key) const;
    // Sets one key; fails with a message when the file or its folder cannot be written or the
    // file is read-only. A missing file is created.
    Status writeString(const QString& section, const QString& key, const QString& value);

private:
    QString path_;
};

// The asset register's location in the settings file ([Assets] Database): "sqlite:PATH",
// "postgresql://..."; empty for the user's default register.
QString databaseSetting(const SettingsFile& settings);
Status setDatabaseSetting(SettingsFile& settings, const QString& url);

} // namespace kx
