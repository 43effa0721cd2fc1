#pragma once

#include <QString>

namespace kx {

// The folder of the running program with its trailing separator. Data files that the
// program ships (the default tables, the settings file) are looked up here, never in the
// working folder, so starting the program from elsewhere works.
QString AppDir();

// Resolves a bare file name against AppDir(); absolute and relative paths with a folder
// part are returned unchanged.
QString resolveInAppDir(const QString& name);

// The folder the chart's pictures are saved in, created once at start: "TestGraph" in the
// user's home folder, with its trailing separator. Messages show this real path.
QString chartPicturesDir();

} // namespace kx
