#pragma once

#include <QString>

// Names that follow the executable's file name (the program may be copied and renamed).
namespace AppInfo {
// Full path of the running executable.
QString executablePath();
// File name without folder and extension: the application title and settings key.
QString baseName();
// The program's version, set in one place by the build.
QString version();
// Lets tests pretend the executable lives elsewhere or has another name.
void setExecutablePathForTesting(const QString &path);
} // namespace AppInfo
