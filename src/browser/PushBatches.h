#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// A large computer folder of few files merged into a phone folder goes in
// parts: each part is one transfer into a working folder of its own, moved
// into place while the next part is sent.
struct PushBatchLimits {
    // adb sends the files of one folder faster than as many files named
    // one by one, so small files go in parts only when they are many bytes.
    int64_t bytes = 64 << 20;
    int files = 100000;
    // The paths of one part, so that adb's command line stays well short of
    // the system's limit.
    int64_t pathBytes = 128 << 10;
    // A merge whose folder holds at least this many files directly goes in
    // one transfer whatever its size, moving the finished files into place
    // while the rest is sent (where the phone's times tell finished files).
    int movesWhileSending = 100;
};

struct PushBatch {
    QString folder;      // below the copied folder, "" for the folder itself
    QStringList sources; // computer items of that folder, sent under their names
    int64_t bytes = 0;
};

// The parts of `source`, in order; none when it goes in one transfer: it
// fits the limits, or holds an item other than files and folders (a link,
// a device), which only a transfer of its whole folder sends as it is. A
// folder inside goes whole when it fits or holds such an item, else it is
// cut the same way.
std::vector<PushBatch> pushBatches(const QString& source, const PushBatchLimits& limits);

// An item of a computer item copied to the phone that the copy can't carry:
// a pipe, socket or device (no contents to send), a link to a folder (it
// could lead back up the tree) or to nothing, a folder or file that can't be
// read, or a name the phone refuses. Each is the item's own: the copy leaves
// it out, and what it holds, and carries the rest.
struct LeftOutItem {
    enum class Why { notRegular, linkToFolder, brokenLink, unreadableFolder, unreadableFile, name };
    QString path; // below the item copied, "" for that item itself
    Why why;
    int error = 0;    // why it can't be read
    QString sentence; // the phone's refusal of the name
};

// Two items of one folder whose names a storage that ignores letter case
// takes for one, and that folder's path below the item copied.
struct AlikeNames {
    QString folder;
    QString first;
    QString second;
};

// A computer item split into what a copy carries and what it leaves out,
// with what else the copy asks of it: one walk answers every question.
struct CarryPlan {
    std::vector<LeftOutItem> leftOut;
    // With something left out below: every folder down to each such item,
    // parents first ("" for the item itself), each with its items the copy
    // carries whole, which hold nothing left out.
    std::vector<PushBatch> folders;
    int64_t bytes = 0; // of what it carries
    int files = 0;     // directly in the folder copied (links to files too)
    // Of the folders looked into, the first holding alike names, folders
    // before what they hold and each folder's names in sorted order.
    std::optional<AlikeNames> alike;
};

// A name's refusal by the phone, none when the phone takes it.
using NameRefusal = std::function<std::optional<QString>(const QString& name)>;

// The plan for `source`, which is followed when a link; `deep`: through
// every folder, else only the items directly in it.
CarryPlan planCarried(const QString& source, const NameRefusal& refusal, bool deep = true);
