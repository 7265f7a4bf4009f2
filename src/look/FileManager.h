#pragma once

#include <QStringList>

// Showing files of this computer in the desktop's file manager.
namespace FileManager {

// Selects the files in a file manager window through the freedesktop
// ShowItems call; where no file manager answers it, the folders holding the
// files are opened instead. Returns at once.
void reveal(const QStringList& paths);

} // namespace FileManager
