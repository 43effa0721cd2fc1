#pragma once

#include "common/result.h"

#include <QString>

namespace kx {

// The folders the program's own folder is chosen from.
//
// A program started from a folder that holds its settings file "myseriesini.ini" (the build
// folder, or a copy carried around on a stick) works in that folder. An installed program's
// folder is shared and read-only, so it works in the user's data folder instead, which is
// filled from the installed templates (default tables, empty settings file, manual) the
// first time it is needed.
struct AppDirPlaces {
    QString exeDir;       // the running executable's folder
    QString dataDir;      // the user's data folder, ~/.local/share/kxlink
    QString templatesDir; // the installed templates, <prefix>/share/kxlink

    // The running program's places. The templates are found beside the executable's folder
    // (../share/kxlink), so an installation works wherever its prefix points.
    static AppDirPlaces system();
};

// The settings file whose presence makes a folder the program's folder.
inline constexpr const char* kSettingsFileName = "myseriesini.ini";

// The executable's folder when it holds the settings file, otherwise the data folder; with
// its trailing separator. Looks at the disk, changes nothing.
QString resolveAppDir(const AppDirPlaces& places);

// Copies into dataDir every template file it lacks, creating the folder (and the folders
// under it) as needed. A file the user already has is never replaced, with one exception:
// the manual under "help/" belongs to the program and follows the installed one when that
// differs in size or time. Each copy is written to a temporary file and renamed into place,
// so an interrupted fill leaves no half-written file to be mistaken for the user's own.
//
// Fails with a message when the folder cannot be made or written, or when templates are
// needed and the templates folder lacks them; what was copied before a failure stays.
Status fillAppDir(const QString& dataDir, const QString& templatesDir);

// Start-up's part: nothing when the executable's folder is the program's folder, otherwise
// fillAppDir() on the data folder.
Status prepareAppDir(const AppDirPlaces& places);

// The running program's folder: resolveAppDir(AppDirPlaces::system()), worked out on the
// first call and kept for the rest of the run. Data files the program ships (the default
// tables, the settings file, the manual) are looked up here, never in the working folder.
QString AppDir();

// Resolves a bare file name against AppDir(); absolute and relative paths with a folder
// part are returned unchanged.
QString resolveInAppDir(const QString& name);

// The folder the chart's pictures are saved in, created once at start: "TestGraph" in the
// user's home folder, with its trailing separator. Messages show this real path.
QString chartPicturesDir();

} // namespace kx
