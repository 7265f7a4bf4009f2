#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

class QUrl;

namespace paths {

// `name` inside `folder`, with exactly one "/" between them.
QString joined(const QString& folder, const QString& name);

// A Linux name is bytes, not text. A name or path that is not valid UTF-8
// is carried in a QString with each byte of an invalid sequence as the lone
// surrogate U+DC00 + byte, so that it turns back into the very same bytes.
// Every name that goes to the file system or to adb goes through bytes().
QString text(QByteArrayView bytes);
QByteArray bytes(const QString& text);
// Whether bytes() gives back what the text stands for: false for a lone
// surrogate that no byte stands for (none that text() makes).
bool carriesExactly(const QString& text);
// The text as a person reads it: each byte that isn't text shows as U+FFFD.
QString shown(const QString& text);

// The computer path of a dropped or chosen item, by the bytes its URL
// holds, without a trailing "/" (toLocalFile() would put U+FFFD for a byte
// that isn't text, naming no item); and the file URL of such a path. Every
// URL of a computer item is turned into its path, and back, by these.
QString localPath(const QUrl& url);
QUrl localUrl(const QString& path);

// What is at a computer path; a link as a link unless `followLinks`.
enum class Kind { nothing, file, folder, link, other };
Kind kindOf(const QString& path, bool followLinks = false);

// The items directly in a computer folder, by their exact names, unsorted;
// none when it can't be read.
struct LocalItem {
    QString name;
    Kind kind;
    int64_t size; // of a file; 0 else
};
std::vector<LocalItem> localItems(const QString& folder);

// Removes the item at `path`: a folder with all it holds, a link as a link
// (never what it leads to). false with errno when something stays.
bool removeLocalTree(const QString& path);

// The size of a computer file, or of the files in a folder and all it holds
// (a link to a folder is not followed).
int64_t localSize(const QString& path);

} // namespace paths
