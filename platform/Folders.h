#pragma once

#include <QString>

// Where the program puts and looks for files when it is installed rather than run from
// its build folder: installed under /usr, the program's folder is read-only for users.
namespace Folders {
// True when the current user may create files in the folder (an existing folder only).
bool writable(const QString &folder);
// The folder itself unless it exists and cannot be written; then the user's documents.
QString writableOrDocuments(const QString &folder);
// The folder for the page that the viewer and the printer get: the working folder when
// it can be written (the page then keeps its bare name), else the user's cache folder.
QString pageFolder();
// The help file, named after the executable with ".chm": beside it first, then in the
// installed data folder.
QString helpFileFor(const QString &executablePath);
} // namespace Folders
