#pragma once

#include <QIcon>
#include <QString>

struct RemoteEntry;

// The desktop's icon for a phone folder or file, by type, cached for the
// life of the process (GUI thread only).
namespace FileIcons {

// "/folder" for folders (no extension can hold a slash), else the name's
// extension in lower case, empty when it has none.
QString key(const RemoteEntry& entry);

QIcon icon(const RemoteEntry& entry);

} // namespace FileIcons
