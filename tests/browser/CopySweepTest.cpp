// Every copy broken at every step on purpose. Each shape of copy (a new file,
// a replaced file, Keep Both, a folder merged with new, replaced, case-alike
// and hidden items; to the phone and to the computer) runs once through the
// browser model to count the steps it takes through the phone's files, then
// once per step k with a fault at step k: Stop, the phone gone, the phone
// frozen and then Stop, a refused rename, full storage, storage that
// ignores letter case, a step carried out whose answer is lost (then the
// phone back, or Stop), an MTP phone that can't describe an item, a
// computer file the answer covers written to in place, the save folder's
// drive away and back, and a second process on the same settings (over adb:
// it starts, lists the folder and copies an item of its own into it, which
// changes nothing of this copy); copies to the computer also into a save
// folder on a disk without birth times and on one that ignores letter case
// and can't exchange names, as vfat. After each run, byte for byte on both sides: what was
// there is unchanged or whole new, nothing partial under a name the person
// sees, no working file left once the phone is back and listed, Stop ended
// the job quickly, the message says what happened in the person's words (and
// after Stop only what a frozen phone left), and the model takes the next copy.
//
// The suite runs a sample of steps (the first of each kind and the last);
// VANTELORQUIST_SWEEP=full runs every step (`cmake --build build --target
// copy_sweep`). Each case prints one line, "SWEEP ok|FAIL ...".

#include "BrowserFakes.h"
#include "FakePhoneHarness.h"
#include "MTPConnection.h"
#include "Paths.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"
#include "WorkerPool.h"
#include "WorkingNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

#include <thread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <chrono>
#include <iostream>
#include <map>
#include <mutex>
#include <set>

#include <dirent.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace browsertest;
using Steady = std::chrono::steady_clock;

namespace {

// ---- the steps of a copy ---------------------------------------------------------------

// What a phone file call does with its turn: the test's fault, then the call.
class Script {
public:
    // Counts the job's calls from now on; at step `faultAt` (1-based, 0 none)
    // `inject` runs with the step's kind, on the job's thread, before the call.
    void arm(int faultAt, std::function<void(const QString& kind)> inject)
    {
        std::lock_guard lock(m_mutex);
        m_armed = true;
        m_faultAt = faultAt;
        m_inject = std::move(inject);
        m_steps.clear();
        m_jobThread.reset();
        m_jobToken.reset();
    }
    QStringList disarm()
    {
        std::lock_guard lock(m_mutex);
        m_armed = false;
        m_inject = {};
        return m_steps;
    }
    QStringList steps() const
    {
        std::lock_guard lock(m_mutex);
        return m_steps;
    }

    // From the fault at a step: that step is carried out, and then its
    // answer is lost: it fails, or (`thenWait`) waits for a Stop.
    void loseAnswer(bool thenWait)
    {
        std::lock_guard lock(m_mutex);
        m_losing = std::this_thread::get_id();
        m_thenWait = thenWait;
    }
    // After a call: whether its answer is lost, then failing or waiting.
    // `quiet`: a call that never fails reads "I can't tell" instead.
    bool lost(const Cancel& cancel, bool quiet = false)
    {
        bool wait = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_losing != std::this_thread::get_id())
                return false;
            m_losing.reset();
            wait = m_thenWait;
        }
        if (wait)
            testsupport::waitUntil([&] { return cancel.isCancelled(); }, std::chrono::seconds(10));
        if (quiet)
            return true;
        if (cancel.isCancelled())
            throw Cancelled();
        throw ADBError::failed(u"The phone stopped answering."_s);
    }

    // One call: counted when the job's worker makes it; the fault comes at
    // its turn.
    void step(const QString& kind, const QString& path, const Cancel& cancel)
    {
        std::function<void(const QString&)> inject;
        {
            std::lock_guard lock(m_mutex);
            if (!m_armed)
                return;
            // The job's worker makes every step of the copy, its clean-up
            // and finishing steps under tokens of their own included; a
            // thread working beside it for the job has the job's token.
            if (!m_jobThread && cancel.token().stop_possible()) {
                m_jobThread = std::this_thread::get_id();
                m_jobToken = cancel.token();
            }
            if (!m_jobThread
                || (*m_jobThread != std::this_thread::get_id() && !(m_jobToken && cancel.token() == *m_jobToken)))
                return; // a listing or a poll beside the job
            m_steps.append(kind + u' ' + path);
            if (int(m_steps.size()) == m_faultAt)
                inject = m_inject;
        }
        if (inject)
            inject(kind);
    }

private:
    mutable std::mutex m_mutex;
    bool m_armed = false;
    int m_faultAt = 0;
    std::function<void(const QString&)> m_inject;
    QStringList m_steps;
    std::optional<std::thread::id> m_jobThread;
    std::optional<std::stop_token> m_jobToken;
    std::optional<std::thread::id> m_losing;
    bool m_thenWait = false;
};

// The phone's files as the model uses them, every call a step of the script.
class SteppedFiles : public PhoneFiles {
public:
    SteppedFiles(std::shared_ptr<PhoneFiles> inner, std::shared_ptr<Script> script)
        : m_inner(std::move(inner)), m_script(std::move(script))
    {
    }
    std::vector<RemoteEntry> list(const QString& path, bool showHidden, const Cancel& cancel) override
    {
        m_script->step(u"list"_s, path, cancel);
        auto entries = m_inner->list(path, showHidden, cancel);
        m_script->lost(cancel);
        return entries;
    }
    std::vector<RemoteEntry> listAll(const QString& path, const Cancel& cancel) override
    {
        m_script->step(u"list"_s, path, cancel);
        auto entries = m_inner->listAll(path, cancel);
        m_script->lost(cancel);
        return entries;
    }
    using PhoneFiles::pull;
    void pull(const QString& path, const QString& destination, const Progress& progress, const Cancel& cancel) override
    {
        m_script->step(u"pull"_s, path, cancel);
        m_inner->pull(path, destination, progress, cancel);
        m_script->lost(cancel);
    }
    void push(const QString& source, const QString& destination, const Progress& progress, const Cancel& cancel) override
    {
        m_script->step(u"push"_s, destination, cancel);
        m_inner->push(source, destination, progress, cancel);
        m_script->lost(cancel);
    }
    bool exists(const QString& path, const Cancel& cancel) override
    {
        m_script->step(u"exists"_s, path, cancel);
        const bool there = m_inner->exists(path, cancel);
        return !m_script->lost(cancel, true) && there;
    }
    std::optional<bool> existence(const QString& path, const Cancel& cancel) override
    {
        m_script->step(u"existence"_s, path, cancel);
        const std::optional<bool> there = m_inner->existence(path, cancel);
        return m_script->lost(cancel, true) ? std::nullopt : there;
    }
    void remove(const QString& path, const Cancel& cancel) override
    {
        m_script->step(u"remove"_s, path, cancel);
        m_inner->remove(path, cancel);
        m_script->lost(cancel);
    }
    void removeOwn(const QString& path, const Cancel& cancel) override
    {
        m_script->step(u"remove"_s, path, cancel);
        m_inner->removeOwn(path, cancel);
        m_script->lost(cancel);
    }
    void makeFolder(const QString& path, const Cancel& cancel) override
    {
        m_script->step(u"makeFolder"_s, path, cancel);
        m_inner->makeFolder(path, cancel);
        m_script->lost(cancel);
    }
    void move(const QString& from, const QString& to, const Cancel& cancel) override
    {
        m_script->step(u"move"_s, from + u" → "_s + to, cancel);
        m_inner->move(from, to, cancel);
        m_script->lost(cancel);
    }
    std::optional<Clash> putInPlace(const QString& from, const QString& to, const Covered& covered,
                                    const Cancel& cancel) override
    {
        // The swap has a token of its own that outlives a Stop for a moment.
        m_script->step(u"putInPlace"_s, from + u" → "_s + to, cancel);
        const std::optional<Clash> clash = m_inner->putInPlace(from, to, covered, cancel);
        m_script->lost(cancel);
        return clash;
    }
    bool canRename(const Cancel& cancel) override
    {
        m_script->step(u"canRename"_s, {}, cancel);
        return m_inner->canRename(cancel);
    }
    bool takeName(const QString& from, const QString& to, const Cancel& cancel) override
    {
        m_script->step(u"takeName"_s, from + u" → "_s + to, cancel);
        const bool took = m_inner->takeName(from, to, cancel);
        m_script->lost(cancel);
        return took;
    }
    bool mergesOnPhone() const override { return m_inner->mergesOnPhone(); }
    bool pullsFoldersWhole() const override { return m_inner->pullsFoldersWhole(); }
    bool putsInPlaceAtOnce() const override { return m_inner->putsInPlaceAtOnce(); }
    std::vector<Clash> mergeInto(const QString& from, const QString& to, const QString& since,
                                 const Cancel& cancel) override
    {
        m_script->step(u"mergeInto"_s, from + u" → "_s + to, cancel);
        std::vector<Clash> clashes = m_inner->mergeInto(from, to, since, cancel);
        m_script->lost(cancel);
        return clashes;
    }
    void pushInto(const QStringList& sources, const QString& folder, const Progress& progress,
                  const Cancel& cancel) override
    {
        m_script->step(u"push"_s, folder, cancel);
        m_inner->pushInto(sources, folder, progress, cancel);
        m_script->lost(cancel);
    }
    void makeFolders(const QString& base, const QStringList& relative, const Cancel& cancel) override
    {
        m_script->step(u"makeFolder"_s, base + u": "_s + relative.join(u' '), cancel);
        m_inner->makeFolders(base, relative, cancel);
        m_script->lost(cancel);
    }
    bool markTime(const QString& folder, const Cancel& cancel) override
    {
        m_script->step(u"markTime"_s, folder, cancel);
        const bool marked = m_inner->markTime(folder, cancel);
        m_script->lost(cancel);
        return marked;
    }
    // Beside the transfer, as often as time allows: not a step of its own.
    void moveWholeFiles(const QString& from, const QString& to, const QString& marked, const QString& since,
                        const Cancel& cancel) override
    {
        m_inner->moveWholeFiles(from, to, marked, since, cancel);
    }
    QString markSince(const QString& folder, const Cancel& cancel) override
    {
        m_script->step(u"markSince"_s, folder, cancel);
        const QString mark = m_inner->markSince(folder, cancel);
        m_script->lost(cancel);
        return mark;
    }
    void checkStorable(const QString& name) const override { m_inner->checkStorable(name); }
    DeviceInfo info(const Cancel& cancel) override { return m_inner->info(cancel); }

private:
    std::shared_ptr<PhoneFiles> m_inner;
    std::shared_ptr<Script> m_script;
};

// The real adb tool, its phone files stepped.
class SteppedAdbSource : public AdbSource {
public:
    explicit SteppedAdbSource(std::shared_ptr<Script> script) : m_script(std::move(script)) {}
    std::optional<ADB> locate() override { return m_real->locate(); }
    std::vector<Device> devices(const ADB& adb, const Cancel& cancel) override { return m_real->devices(adb, cancel); }
    std::optional<QString> displayName(const ADB& adb, const QString& serial, const Cancel& cancel) override
    {
        return m_real->displayName(adb, serial, cancel);
    }
    std::optional<QString> serialNumber(const ADB& adb, const QString& serial, const Cancel& cancel) override
    {
        return m_real->serialNumber(adb, serial, cancel);
    }
    std::shared_ptr<PhoneFiles> files(const ADB& adb, const QString& serial) override
    {
        return std::make_shared<SteppedFiles>(m_real->files(adb, serial), m_script);
    }

private:
    std::shared_ptr<AdbSource> m_real = makeSystemAdbSource();
    std::shared_ptr<Script> m_script;
};

// ---- what the two sides hold ------------------------------------------------------------

// Relative path → bytes; a folder holds this marker.
using Tree = std::map<QString, QByteArray>;
const QByteArray folderMark = QByteArray("\x01<folder>");

// ---- items a copy to the phone can't carry ------------------------------------------------
// On the computer: a pipe, a link (its target after the mark), and a folder
// no one may read (made with what it holds, then shut).
const QByteArray pipeMark = QByteArray("\x01<pipe>");
const QByteArray linkMark = QByteArray("\x01<link>");
const QByteArray shutMark = QByteArray("\x01<shut folder>");

// Run as root, the copies would read a folder no one may read: this process
// and every thread it starts give up passing over file modes (the programs
// it starts have them back). Before main(), so before any thread.
const bool modesBind = [] {
    if (::geteuid() != 0)
        return true;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[capability / 32].effective &= ~(1u << (capability % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
}();

// The odd item `bytes` marks, made at `disk`; false for any other bytes.
bool madeOdd(const std::filesystem::path& disk, const QByteArray& bytes)
{
    if (bytes == pipeMark) {
        if (::mkfifo(disk.c_str(), 0644) != 0)
            ADD_FAILURE() << "couldn't make the pipe " << disk;
        return true;
    }
    if (bytes.startsWith(linkMark)) {
        if (::symlink(bytes.mid(linkMark.size()).constData(), disk.c_str()) != 0)
            ADD_FAILURE() << "couldn't make the link " << disk;
        return true;
    }
    if (bytes == shutMark) {
        std::error_code error;
        std::filesystem::create_directories(disk, error);
        return true;
    }
    return false;
}

// Shuts the folders marked so once what they hold is written.
void shut(const QString& root, const std::map<QString, QByteArray>& tree)
{
    for (const auto& [path, bytes] : tree) {
        const QByteArray disk = paths::bytes(root + u'/' + path);
        if (bytes != shutMark)
            continue;
        ::chmod(disk.constData(), 0);
        if (DIR* open = ::opendir(disk.constData())) {
            ::closedir(open);
            ADD_FAILURE() << "this process reads a shut folder: " << (modesBind ? "" : "it passes over file modes");
        }
    }
}

// Every folder below `root` opened again, to be read or removed.
void openShut(const QString& root)
{
    for (const paths::LocalItem& item : paths::localItems(root)) {
        if (item.kind != paths::Kind::folder)
            continue;
        ::chmod(paths::bytes(root + u'/' + item.name).constData(), 0755);
        openShut(root + u'/' + item.name);
    }
}

QByteArray pattern(qsizetype size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed) % 251);
    return bytes;
}

// Names are bytes here (paths::bytes()): some of the shapes' aren't text.
std::filesystem::path onDisk(const QString& path)
{
    return std::filesystem::path(paths::bytes(path).toStdString());
}

void writeTree(const QString& root, const Tree& tree)
{
    for (const auto& [path, bytes] : tree) {
        const QString full = root + u'/' + path;
        std::error_code error;
        if (bytes == folderMark) {
            std::filesystem::create_directories(onDisk(full), error);
            continue;
        }
        std::filesystem::create_directories(onDisk(full).parent_path(), error);
        if (madeOdd(onDisk(full), bytes))
            continue;
        FILE* out = std::fopen(onDisk(full).c_str(), "wb");
        const bool written = out && std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out) == size_t(bytes.size());
        if (!out || std::fclose(out) != 0 || !written)
            ADD_FAILURE() << "couldn't write " << full.toStdString();
    }
    shut(root, tree);
}

void readInto(Tree& tree, const QString& root, const QString& below)
{
    for (const paths::LocalItem& item : paths::localItems(below.isEmpty() ? root : root + u'/' + below)) {
        const QString relative = below.isEmpty() ? item.name : below + u'/' + item.name;
        const QString full = root + u'/' + relative;
        if (item.kind == paths::Kind::other) {
            tree[relative] = pipeMark; // never opened: that waits for a writer
            continue;
        }
        if (paths::kindOf(full, true) == paths::Kind::folder) {
            tree[relative] = folderMark;
            if (item.kind == paths::Kind::folder)
                readInto(tree, root, relative);
            continue;
        }
        QByteArray bytes;
        if (FILE* in = std::fopen(onDisk(full).c_str(), "rb")) {
            char buffer[65536];
            for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
                bytes.append(buffer, qsizetype(n));
            std::fclose(in);
        } else {
            bytes = "<unreadable>";
        }
        tree[relative] = bytes;
    }
}

Tree readTree(const QString& root)
{
    Tree tree;
    readInto(tree, root, {});
    return tree;
}

[[maybe_unused]] void clearFolder(const QString& root)
{
    openShut(root);
    for (const paths::LocalItem& item : paths::localItems(root))
        paths::removeLocalTree(root + u'/' + item.name);
}

// A working name of a copy, of any form, or the MTP layer's own ".NAME.vantelorquist".
bool isWorkingName(const QString& path)
{
    const QString name = paths::shown(path.section(u'/', -1));
    return workingnameform::withItemNames(name) != name
           || (name.startsWith(u'.') && name.endsWith(u".vantelorquist"_s));
}

// The phone's items with each copy the message says it kept under its
// working name (a rename refused after the old item went) read as the item
// it stands for, which it must hold whole.
Tree withKeptCopies(Tree tree, const QString& message)
{
    static const QRegularExpression kept(u"The new copy is in (\\S+) as the hidden item “([^”]+)”"_s);
    for (auto it = kept.globalMatch(message); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString folder = match.captured(1).mid(QStringLiteral("/sdcard").size());
        if (folder.startsWith(u'/'))
            folder.remove(0, 1);
        const QString name = match.captured(2);
        const std::optional<workingnameform::Parts> parts = workingnameform::parse(name);
        const QString own = parts ? parts->item : QString();
        const QString from = folder.isEmpty() ? name : folder + u'/' + name;
        // A name that isn't text shows its bytes as U+FFFD.
        const auto item = std::find_if(tree.begin(), tree.end(),
                                       [&](const auto& one) { return paths::shown(one.first) == from; });
        if (own.isEmpty() || item == tree.end())
            continue;
        // As shown, each unit keeps its place: the name's own part is as long.
        const QString ownBytes = item->first.section(u'/', -1).mid(1, own.size());
        const QByteArray bytes = item->second;
        tree.erase(item);
        tree[folder.isEmpty() ? ownBytes : folder + u'/' + ownBytes] = bytes;
    }
    return tree;
}

// The note of a clean-up or a swap the phone didn't answer in time, which
// names the person's item and says what becomes of it.
bool isCleanUpNote(const QString& message)
{
    return message.contains(u"when the phone is next reachable"_s)
           || message.contains(u"delete it on the phone once the phone answers again"_s);
}

QString shown(const QByteArray& bytes)
{
    if (bytes == folderMark)
        return u"a folder"_s;
    return QString::number(bytes.size()) + u" bytes"_s;
}

// What broke of the promises about one side's items. `completes`: the
// outcomes of a whole copy, any one of them right.
QStringList compare(const QString& side, const Tree& before, const std::vector<Tree>& completes, const Tree& after)
{
    const auto wholeAt = [&](const QString& path, const QByteArray& bytes) {
        return std::any_of(completes.begin(), completes.end(), [&](const Tree& complete) {
            const auto it = complete.find(path);
            return it != complete.end() && it->second == bytes;
        });
    };
    const auto madeAt = [&](const QString& path) -> std::optional<QByteArray> {
        for (const Tree& complete : completes)
            if (const auto it = complete.find(path); it != complete.end())
                return it->second;
        return std::nullopt;
    };
    QStringList problems;
    for (const auto& [path, bytes] : before) {
        const auto now = after.find(path);
        if (now == after.end())
            problems << side + u" lost “"_s + path + u"”"_s;
        else if (now->second != bytes && !wholeAt(path, now->second))
            problems << side + u" “"_s + path + u"” is neither the old nor the whole new item ("_s + shown(now->second)
                            + u")"_s;
    }
    for (const auto& [path, bytes] : after) {
        if (before.count(path) || wholeAt(path, bytes))
            continue;
        const std::optional<QByteArray> whole = madeAt(path);
        if (isWorkingName(path))
            problems << side + u" holds a working file “"_s + path + u"” ("_s + shown(bytes) + u")"_s;
        else if (!whole)
            problems << side + u" holds an item no copy makes: “"_s + path + u"” ("_s + shown(bytes) + u")"_s;
        else
            problems << side + u" holds a partial “"_s + path + u"” ("_s + shown(bytes) + u" of "_s + shown(*whole)
                            + u")"_s;
    }
    return problems;
}

// ---- the shapes --------------------------------------------------------------------------

enum class Answer { replace = 0, keepBoth = 1 };

struct Shape {
    const char* name;
    bool toPhone;
    QString item;  // the top item copied, in the source folder
    Answer answer;
    Tree phone;    // before, below /sdcard
    Tree computer; // before: "source/..." and "saved/..."
    // What a whole copy changes: on the phone, on the computer; and on a
    // phone that ignores letter case, when that differs.
    Tree phoneAfter;
    Tree computerAfter;
    std::optional<Tree> caselessPhoneAfter;
    // A folder merged on the phone goes in parts this small.
    std::optional<PushBatchLimits> parts = std::nullopt;
    // Names that aren't UTF-8, which only adb carries.
    bool notText = false;
    // Items a whole copy leaves out (folders where its files go), which its
    // message names.
    QStringList leftOut = {};
    // Only for the USB phone (names alike but for their Unicode form).
    bool mtpOnly = false;
    // Copies to the computer whose save folder is on a person's stick
    // (SaveDisk::stick), with these folders there its owner can't write to.
    bool onStick = false;
    QStringList readOnly = {};
};

const QByteArray phoneKeep = pattern(90000, 'k');
const QByteArray computerKeep = pattern(110000, 'K');

Tree withPrefix(const QString& prefix, const Tree& tree)
{
    Tree out;
    for (const auto& [path, bytes] : tree)
        out[prefix + path] = bytes;
    return out;
}

Tree overlaid(Tree tree, const Tree& changes)
{
    for (const auto& [path, bytes] : changes)
        tree[path] = bytes;
    return tree;
}

// Folders copied to the phone holding what the copy can't carry, new and
// merged (whole, in parts, moved while sent): a pipe among the files, a link
// back up the tree, a folder no one may read; over USB also names that
// aren't UTF-8. Each is left out and named, every other item copied.
std::vector<Shape> oddItemsToPhone()
{
    const auto odd = [](const char* bytes) { return paths::text(bytes); };
    const auto computer = [](const QString& folder, const Tree& items) {
        Tree tree = withPrefix(u"source/"_s + folder + u'/', items);
        tree[u"source"_s] = tree[u"saved"_s] = tree[u"source/"_s + folder] = folderMark;
        return tree;
    };
    Tree work{{u"a.txt"_s, pattern(30000, 'a')},   {u"m.txt"_s, pattern(20000, 'm')},
              {u"pipe"_s, pipeMark},              {u"z.txt"_s, pattern(10000, 'z')},
              {u"sub"_s, folderMark},             {u"sub/b.txt"_s, pattern(40000, 'b')},
              {u"sub/up"_s, linkMark + ".."},      {u"shut"_s, shutMark},
              {u"shut/secret.txt"_s, "the secret"}};
    const Tree workCopied = withPrefix(u"Work/"_s, {{u"a.txt"_s, work.at(u"a.txt"_s)},
                                                   {u"m.txt"_s, work.at(u"m.txt"_s)},
                                                   {u"z.txt"_s, work.at(u"z.txt"_s)},
                                                   {u"sub"_s, folderMark},
                                                   {u"sub/b.txt"_s, work.at(u"sub/b.txt"_s)}});
    const QStringList workOut{u"Work/pipe"_s, u"Work/sub/up"_s, u"Work/shut"_s};
    const Tree keep{{u"keep.bin"_s, phoneKeep}};
    Tree newWork = workCopied;
    newWork[u"Work"_s] = folderMark;
    // Merged into a folder that holds the unreadable one's namesake.
    const Tree workThere{{u"Work"_s, folderMark},        {u"Work/a.txt"_s, "the phone's a"},
                         {u"Work/sub"_s, folderMark},    {u"Work/sub/old.txt"_s, "stays"},
                         {u"Work/shut"_s, folderMark},   {u"Work/shut/theirs.txt"_s, "stays"}};
    const Tree usb{{u"ok.mp3"_s, pattern(30000, 'o')},
                   {odd("caf\xe9.mp3"), pattern(20000, 'e')},
                   {u"sub"_s, folderMark},
                   {odd("sub/x\xff.bin"), pattern(10000, 'x')},
                   {u"sub/y.bin"_s, pattern(10000, 'y')}};
    const Tree usbCopied{{u"Odd/ok.mp3"_s, usb.at(u"ok.mp3"_s)},
                         {u"Odd/sub"_s, folderMark},
                         {u"Odd/sub/y.bin"_s, usb.at(u"sub/y.bin"_s)}};
    const QStringList usbOut{u"Odd/caf\uFFFD.mp3"_s, u"Odd/sub/x\uFFFD.bin"_s};
    const Tree usbThere{{u"Odd"_s, folderMark}, {u"Odd/ok.mp3"_s, "the phone's ok"}, {u"Odd/sub"_s, folderMark}};
    Tree newUsb = usbCopied;
    newUsb[u"Odd"_s] = folderMark;
    const PushBatchLimits parts{.bytes = 60000, .files = 2, .pathBytes = 1 << 20};
    return {
        {"OddItemsInNewFolderToPhone", true, u"Work"_s, Answer::replace, keep, computer(u"Work"_s, work), newWork, {},
         std::nullopt, std::nullopt, false, workOut},
        {"OddItemsInMergeOnPhone", true, u"Work"_s, Answer::replace, overlaid(keep, workThere),
         computer(u"Work"_s, work), workCopied, {}, std::nullopt, std::nullopt, false, workOut},
        {"OddItemsInMergeOnPhoneInParts", true, u"Work"_s, Answer::replace, overlaid(keep, workThere),
         computer(u"Work"_s, work), workCopied, {}, std::nullopt, parts, false, workOut},
        {"OddItemsInMergeOnPhoneMovingWhileSent", true, u"Work"_s, Answer::replace, overlaid(keep, workThere),
         computer(u"Work"_s, work), workCopied, {}, std::nullopt, PushBatchLimits{.movesWhileSending = 1}, false,
         workOut},
        {"NotTextInNewFolderToPhoneOverUsb", true, u"Odd"_s, Answer::replace, keep, computer(u"Odd"_s, usb), newUsb, {},
         std::nullopt, std::nullopt, false, usbOut, true},
        {"NotTextInMergeOnPhoneOverUsb", true, u"Odd"_s, Answer::replace, overlaid(keep, usbThere),
         computer(u"Odd"_s, usb), usbCopied, {}, std::nullopt, std::nullopt, false, usbOut, true},
    };
}

// ---- odd items inside folders copied to the computer ----------------------------------
// Each item the computer's disk refuses is left out alone and named; every
// other item arrives. On a person's stick unless said.
void addOddItemsToComputer(std::vector<Shape>& all, const Tree& savedBefore)
{
    const QByteArray ok = pattern(40000, 'o');
    const QByteArray zz = pattern(30000, 'z');
    // `merged`: into a Mixed there, whose ok.txt the copy replaces.
    const auto newFolder = [&](const char* name, const QString& odd, bool notText, bool mtpOnly, bool onStick,
                               bool merged = false) {
        const Tree phone{{u"Mixed"_s, folderMark},          {u"Mixed/ok.txt"_s, ok},
                         {u"Mixed/"_s + odd, "refused"},     {u"Mixed/in"_s, folderMark},
                         {u"Mixed/in/fine.txt"_s, "fine"},   {u"Mixed/zz.txt"_s, zz}};
        Tree after = withPrefix(u"saved/"_s, phone);
        after.erase(u"saved/Mixed/"_s + odd);
        const Tree there = merged ? overlaid(savedBefore, {{u"saved/Mixed"_s, folderMark}, {u"saved/Mixed/ok.txt"_s, "old ok"}})
                                  : savedBefore;
        all.push_back({name, false, u"Mixed"_s, Answer::replace, phone, there, {}, after, std::nullopt,
                       std::nullopt, notText, {odd.section(u'/', -1)}, mtpOnly, onStick});
    };
    // vfat's refused characters, in the folder and a folder below it.
    newFolder("VfatNamesInFolderToComputer", u"in/q?.txt"_s, false, false, true);
    newFolder("VfatNameInFolderToComputer", u"a:b.txt"_s, false, false, true);
    newFolder("VfatNameInMergeToComputer", u"a:b.txt"_s, false, false, true, true);
    // Bytes that aren't UTF-8, which only adb carries.
    newFolder("NotTextInFolderToComputer", paths::text("caf\xe9.txt"), true, false, true);
    // 90 CJK characters, 270 bytes: more than ext4 or tmpfs hold (a phone's
    // exFAT card holds 255 characters). Only the USB phone's storage isn't a
    // folder of this computer.
    newFolder("LongNameInFolderToComputer", QString(90, QChar(0x5b57)) + u".txt"_s, false, true, true);
    // A folder of the merge its owner can't write to.
    const Tree phone{{u"Album"_s, folderMark},          {u"Album/a.txt"_s, ok},
                     {u"Album/sub"_s, folderMark},      {u"Album/sub/c.txt"_s, "new c"},
                     {u"Album/sub/d.txt"_s, "new d"},   {u"Album/z.txt"_s, zz}};
    const Tree there{{u"saved"_s, folderMark},          {u"saved/Album"_s, folderMark},
                     {u"saved/Album/sub"_s, folderMark}, {u"saved/Album/sub/c.txt"_s, "old c"}};
    all.push_back({"UnwritableFolderToComputer", false, u"Album"_s, Answer::replace, phone, there, {},
                   {{u"saved/Album/a.txt"_s, ok}, {u"saved/Album/z.txt"_s, zz}}, std::nullopt, std::nullopt, false,
                   {u"c.txt"_s, u"d.txt"_s}, false, true, {u"saved/Album/sub"_s}});
}

std::vector<Shape> shapes()
{
    const Tree phoneAlbum{{u"Album"_s, folderMark},
                          {u"Album/a.txt"_s, "the phone's a"},
                          {u"Album/Photo.jpg"_s, pattern(70000, 'p')},
                          {u"Album/.hidden"_s, "the phone's hidden"}};
    const Tree computerAlbum{{u"Album"_s, folderMark},
                             {u"Album/a.txt"_s, "the computer's a, longer"},
                             {u"Album/b.txt"_s, pattern(50000, 'b')},
                             {u"Album/photo.JPG"_s, pattern(80000, 'P')},
                             {u"Album/.hidden"_s, "the computer's hidden"},
                             {u"Album/sub"_s, folderMark},
                             {u"Album/sub/c.txt"_s, pattern(40000, 'c')}};
    Tree phoneSide{{u"keep.bin"_s, phoneKeep}};
    phoneSide.insert(phoneAlbum.begin(), phoneAlbum.end());
    Tree computerSide = withPrefix(u"source/"_s, computerAlbum);
    computerSide[u"source"_s] = folderMark;
    computerSide[u"saved"_s] = folderMark;
    computerSide[u"source/new.bin"_s] = pattern(120000, 'n');
    computerSide[u"source/keep.bin"_s] = computerKeep;

    Tree merged{{u"Album/a.txt"_s, computerAlbum.at(u"Album/a.txt"_s)},
                {u"Album/b.txt"_s, computerAlbum.at(u"Album/b.txt"_s)},
                {u"Album/.hidden"_s, computerAlbum.at(u"Album/.hidden"_s)},
                {u"Album/sub"_s, folderMark},
                {u"Album/sub/c.txt"_s, computerAlbum.at(u"Album/sub/c.txt"_s)}};
    Tree mergedCaseless = merged;
    merged[u"Album/photo.JPG"_s] = computerAlbum.at(u"Album/photo.JPG"_s);
    // The phone's own name stays; the new bytes go under it.
    mergedCaseless[u"Album/Photo.jpg"_s] = computerAlbum.at(u"Album/photo.JPG"_s);

    // To the computer: the phone holds what is copied, the save folder what is in the way.
    Tree phoneToCopy{{u"song.bin"_s, pattern(100000, 's')}, {u"keep.bin"_s, phoneKeep}};
    phoneToCopy.insert(phoneAlbum.begin(), phoneAlbum.end());
    phoneToCopy[u"Album/b.txt"_s] = pattern(60000, 'B');
    phoneToCopy[u"Album/sub"_s] = folderMark;
    phoneToCopy[u"Album/sub/c.txt"_s] = pattern(30000, 'C');
    const Tree savedBefore{{u"saved"_s, folderMark},
                           {u"saved/keep.bin"_s, computerKeep},
                           {u"saved/Album"_s, folderMark},
                           {u"saved/Album/a.txt"_s, "the computer's a"},
                           {u"saved/Album/photo.JPG"_s, pattern(20000, 'q')},
                           {u"saved/Album/.hidden"_s, "the computer's hidden"}};
    Tree fromPhone;
    for (const auto& [path, bytes] : phoneToCopy) {
        if (path.startsWith(u"Album"_s))
            fromPhone[u"saved/"_s + path] = bytes;
    }

    // Latin-1 names, as old archives and memory cards hold: a file, and a
    // folder holding such names, each way, new and merged with Replace.
    const auto odd = [](const char* bytes) { return paths::text(bytes); };
    const QString cafe = odd("caf\xe9.mp3");
    const Tree oddFolder{{u"Odd"_s, folderMark},
                         {u"Odd/"_s + cafe, pattern(60000, 'e')},
                         {odd("Odd/d\xe9j\xe0"), folderMark},
                         {odd("Odd/d\xe9j\xe0/x\xff.bin"), pattern(30000, 'x')},
                         {u"Odd/plain.txt"_s, "plain"}};
    const Tree oddThere{{u"Odd"_s, folderMark},
                        {u"Odd/"_s + cafe, "the old café"},
                        {odd("Odd/only\xfc.txt"), "stays"}};
    Tree oddMerged = oddFolder;
    oddMerged.erase(u"Odd"_s);
    const QByteArray oddFile = pattern(50000, 'l');
    Tree phoneOdd = overlaid(oddThere, {{cafe, "the phone's old café"}});
    Tree computerOdd = withPrefix(u"source/"_s, oddFolder);
    computerOdd[u"source"_s] = folderMark;
    computerOdd[u"saved"_s] = folderMark;
    computerOdd[u"source/"_s + cafe] = oddFile;
    Tree phoneOddNew = phoneOdd;
    std::erase_if(phoneOddNew, [](const auto& item) { return item.first.startsWith(u"Odd"_s); });
    Tree phoneToCopyOdd = overlaid(oddFolder, {{cafe, oddFile}});
    const Tree savedOdd = overlaid(withPrefix(u"saved/"_s, oddThere), {{u"saved"_s, folderMark},
                                                                     {u"saved/"_s + cafe, "the computer's old café"}});
    Tree savedOddNew = savedOdd;
    std::erase_if(savedOddNew, [](const auto& item) { return item.first.startsWith(u"saved/Odd"_s); });
    // Only the files' names aren't text here, as in the folder that lost its song.
    Tree oddFiles = oddFolder;
    oddFiles.erase(odd("Odd/d\xe9j\xe0"));
    oddFiles.erase(odd("Odd/d\xe9j\xe0/x\xff.bin"));
    oddFiles[u"Odd/sub"_s] = folderMark;
    oddFiles[odd("Odd/sub/x\xff.bin")] = pattern(30000, 'x');
    Tree oddFilesMerged = oddFiles;
    oddFilesMerged.erase(u"Odd"_s);
    const std::vector<Shape> notTextShapes{
        {"NotTextReplaceOnPhone", true, cafe, Answer::replace, phoneOdd, computerOdd, {{cafe, oddFile}}, {},
         std::nullopt, std::nullopt, true},
        {"NotTextNewFolderToPhone", true, u"Odd"_s, Answer::replace, phoneOddNew, computerOdd, oddFolder, {},
         std::nullopt, std::nullopt, true},
        {"NotTextMergeOnPhone", true, u"Odd"_s, Answer::replace, phoneOdd, computerOdd, oddMerged, {}, std::nullopt,
         std::nullopt, true},
        {"NotTextReplaceOnComputer", false, cafe, Answer::replace, phoneToCopyOdd, savedOdd, {},
         {{u"saved/"_s + cafe, oddFile}}, std::nullopt, std::nullopt, true},
        {"NotTextNewFolderToComputer", false, u"Odd"_s, Answer::replace, phoneToCopyOdd, savedOddNew, {},
         withPrefix(u"saved/"_s, oddFolder), std::nullopt, std::nullopt, true},
        {"NotTextMergeToComputer", false, u"Odd"_s, Answer::replace, overlaid(oddFiles, {{cafe, oddFile}}), savedOdd,
         {}, withPrefix(u"saved/"_s, oddFilesMerged), std::nullopt, std::nullopt, true},
    };

    std::vector<Shape> all{
        {"NewFileToPhone", true, u"new.bin"_s, Answer::replace, phoneSide, computerSide,
         {{u"new.bin"_s, computerSide.at(u"source/new.bin"_s)}}, {}, std::nullopt},
        {"ReplaceOnPhone", true, u"keep.bin"_s, Answer::replace, phoneSide, computerSide,
         {{u"keep.bin"_s, computerKeep}}, {}, std::nullopt},
        {"KeepBothOnPhone", true, u"keep.bin"_s, Answer::keepBoth, phoneSide, computerSide,
         {{u"keep 2.bin"_s, computerKeep}}, {}, std::nullopt},
        {"MergeFolderOnPhone", true, u"Album"_s, Answer::replace, phoneSide, computerSide, merged, {}, mergedCaseless},
        {"MergeFolderOnPhoneInParts", true, u"Album"_s, Answer::replace, phoneSide, computerSide, merged, {},
         mergedCaseless, PushBatchLimits{.bytes = 60000, .files = 2, .pathBytes = 1 << 20}},
        {"MergeFolderOnPhoneMovingWhileSent", true, u"Album"_s, Answer::replace, phoneSide, computerSide, merged, {},
         mergedCaseless, PushBatchLimits{.movesWhileSending = 1}},
        {"NewFileToComputer", false, u"song.bin"_s, Answer::replace, phoneToCopy, savedBefore, {},
         {{u"saved/song.bin"_s, phoneToCopy.at(u"song.bin"_s)}}, std::nullopt},
        {"ReplaceOnComputer", false, u"keep.bin"_s, Answer::replace, phoneToCopy, savedBefore, {},
         {{u"saved/keep.bin"_s, phoneKeep}}, std::nullopt},
        {"KeepBothOnComputer", false, u"keep.bin"_s, Answer::keepBoth, phoneToCopy, savedBefore, {},
         {{u"saved/keep 2.bin"_s, phoneKeep}}, std::nullopt},
        {"MergeFolderToComputer", false, u"Album"_s, Answer::replace, phoneToCopy, savedBefore, {}, fromPhone,
         std::nullopt},
    };
    all.insert(all.end(), notTextShapes.begin(), notTextShapes.end());

    // A folder holding one name in both Unicode forms (a memory card that
    // took files from another system): each arrives with its own bytes.
    const Tree twins{{u"Twins"_s, folderMark},
                     {u"Twins/caf\u00e9.txt"_s, "the composed one"},
                     {u"Twins/cafe\u0301.txt"_s, pattern(30000, 'd')}};
    all.push_back({"TwinsToComputer", false, u"Twins"_s, Answer::replace, overlaid(phoneToCopy, twins), savedBefore,
                   {}, withPrefix(u"saved/"_s, twins), std::nullopt, std::nullopt, false, {}, true});
    // Several clashes in one merge: folders where two of its files go. Each
    // is left out alone and named; the rest is copied.
    const Tree clashSource{{u"Album"_s, folderMark},
                           {u"Album/a.txt"_s, pattern(30000, '1')},
                           {u"Album/x.txt"_s, pattern(20000, '2')},
                           {u"Album/y.txt"_s, pattern(20000, '3')},
                           {u"Album/z.txt"_s, pattern(30000, '4')}};
    const Tree clashThere{{u"Album"_s, folderMark},
                          {u"Album/a.txt"_s, "the old a"},
                          {u"Album/x.txt"_s, folderMark},
                          {u"Album/x.txt/inside"_s, "stays"},
                          {u"Album/y.txt"_s, folderMark},
                          {u"Album/y.txt/inside"_s, "stays"}};
    const Tree clashMerged{{u"Album/a.txt"_s, clashSource.at(u"Album/a.txt"_s)},
                           {u"Album/z.txt"_s, clashSource.at(u"Album/z.txt"_s)}};
    Tree clashComputer = withPrefix(u"source/"_s, clashSource);
    clashComputer[u"source"_s] = folderMark;
    clashComputer[u"saved"_s] = folderMark;
    Tree clashSaved = withPrefix(u"saved/"_s, clashThere);
    clashSaved[u"saved"_s] = folderMark;
    all.push_back({"ClashesInMergeOnPhone", true, u"Album"_s, Answer::replace, clashThere, clashComputer, clashMerged, {},
                   std::nullopt, std::nullopt, false, {u"x.txt"_s, u"y.txt"_s}});
    all.push_back({"ClashesInMergeToComputer", false, u"Album"_s, Answer::replace, clashSource, clashSaved, {},
                   withPrefix(u"saved/"_s, clashMerged), std::nullopt, std::nullopt, false, {u"x.txt"_s, u"y.txt"_s}});
    const std::vector<Shape> oddToPhone = oddItemsToPhone();
    all.insert(all.end(), oddToPhone.begin(), oddToPhone.end());
    addOddItemsToComputer(all, savedBefore);
    return all;
}

// What another writer (a camera, another program) does to the destination
// while the copy runs: items it makes at names the copy would take, and
// items the copy would replace that it removes. Below /sdcard on the phone,
// "saved/..." on the computer.
struct AnotherWriter {
    Tree makes;
    std::set<QString> removes;
    // Made where it removed, a folder where the copy replaces a file.
    Tree remakes;
    // Where a Keep Both copy goes when the numbered name it would take was taken first.
    Tree keptBothElsewhere;
    // What it adds to the end of a file the answer covers, written in place
    // (a log, an editor that saves in place).
    Tree appends = {};
};

AnotherWriter anotherWriter(const Shape& shape)
{
    const QByteArray theirs = "another writer's";
    const QString name = QLatin1StringView(shape.name);
    if (name == u"NewFileToPhone"_s)
        return {{{u"new.bin"_s, theirs}}, {}, {}, {}};
    if (name == u"ReplaceOnPhone"_s)
        return {{}, {u"keep.bin"_s}, {{u"keep.bin"_s, folderMark}, {u"keep.bin/theirs.txt"_s, theirs}}, {}};
    if (name == u"KeepBothOnPhone"_s)
        return {{{u"keep 2.bin"_s, theirs}}, {}, {}, {{u"keep 3.bin"_s, computerKeep}}};
    if (name.startsWith(u"MergeFolderOnPhone"_s))
        return {{{u"Album/b.txt"_s, theirs}, {u"Album/other.txt"_s, theirs}},
                {u"Album/a.txt"_s},
                {{u"Album/a.txt"_s, theirs}}, // another file in its place
                {}};
    if (name == u"NewFileToComputer"_s)
        return {{{u"saved/song.bin"_s, theirs}}, {}, {}, {}};
    if (name == u"ReplaceOnComputer"_s)
        return {{}, {u"saved/keep.bin"_s}, {{u"saved/keep.bin"_s, folderMark}, {u"saved/keep.bin/theirs.txt"_s, theirs}}, {},
                {{u"saved/keep.bin"_s, "\na line written in place"}}};
    if (name == u"KeepBothOnComputer"_s)
        return {{{u"saved/keep 2.bin"_s, theirs}}, {}, {}, {{u"saved/keep 3.bin"_s, phoneKeep}}};
    if (name == u"MergeFolderToComputer"_s)
        return {{{u"saved/Album/b.txt"_s, theirs}, {u"saved/Album/other.txt"_s, theirs}},
                {u"saved/Album/a.txt"_s},
                {{u"saved/Album/a.txt"_s, theirs}}, // another file in its place
                {},
                {{u"saved/Album/a.txt"_s, "\na line written in place"}}};
    return {};
}

// The other writer of the USB phone's own faults: it removes the item a
// copy to the phone replaces and makes one of the same size and time there
// (`alike`), or it only removes the item a copy is of or replaces.
AnotherWriter phoneWriter(const Shape& shape, bool alike)
{
    const QString name = QLatin1StringView(shape.name);
    // (Keep Both never replaces: an item gone before it asked is simply new.)
    if (name == u"ReplaceOnPhone"_s || name == u"ReplaceOnComputer"_s || name == u"KeepBothOnComputer"_s) {
        if (alike && !shape.toPhone)
            return {};
        return {{}, {u"keep.bin"_s}, alike ? Tree{{u"keep.bin"_s, pattern(phoneKeep.size(), 'z')}} : Tree{}, {}};
    }
    if (name.startsWith(u"MergeFolder"_s)) {
        if (alike && !shape.toPhone)
            return {};
        // As long as the phone's a.txt.
        return {{}, {u"Album/a.txt"_s}, alike ? Tree{{u"Album/a.txt"_s, "theirs, alike"}} : Tree{}, {}};
    }
    if (alike)
        return {};
    if (name == u"NewFileToComputer"_s)
        return {{}, {u"song.bin"_s}, {}, {}};
    if (name == u"TwinsToComputer"_s)
        return {{}, {u"Twins/cafe\u0301.txt"_s}, {}, {}};
    return {};
}

// Another owner's copy works in the target folder (another person's
// process, another computer on the phone): its working item of the same
// item, half written, and a copy it kept; on the computer also an earlier
// version's working file. None is ours: after every run each is as it was.
// On the phone, then on the computer.
std::pair<Tree, Tree> anotherOwnersItems(const Shape& shape)
{
    const QString mark = browserpaths::workingnames::markFor(u"another owner"_s);
    const QString folder = shape.toPhone ? QString() : u"saved/"_s;
    Tree items;
    const QString working = folder + browserpaths::temporaryName(shape.item, mark);
    if (shape.item == u"Album"_s) {
        items[working] = folderMark;
        items[working + u"/a.txt"_s] = "another owner's a, half";
        items[folder + u"Album/"_s + browserpaths::temporaryName(u"b.txt"_s, mark)] = "another owner's b, half";
    } else {
        items[working] = "another owner's copy, half";
    }
    items[folder + browserpaths::temporaryName(u"keep.bin"_s, mark)] = "another owner's kept copy";
    if (shape.toPhone)
        return {items, {}};
    items[folder + workingnameform::fixed(shape.item)] = "an earlier version's copy, half";
    return {{}, items};
}

// ---- the faults --------------------------------------------------------------------------

enum class Fault {
    stop, gone, frozen, refusedRename, storageFull, caseless, appears, vanishes, answerLost, answerLostThenStop,
    undescribed, writtenInPlace,
    // The USB phone's: the answer to a replace's delete, or to a rename,
    // lost (the copy must end whole and without a word); the other writer
    // making an item like the one it removed; an item removed on the phone.
    deleteAnswerLost, renameAnswerLost, remadeAlike, removedOnPhone,
    saveFolderAway, secondProcess,
    // The save folder's disk fills (on a stick).
    saveDiskFull
};

// The disk the computer's folders are on.
enum class SaveDisk {
    plain,        // this one's
    noBirthTimes, // as ext4 with 128-byte inodes, or a network mount
    caseless,     // as vfat: ignores letter case, exchanges no names, makes no links
    // As exfat-fuse: the same, no rename with flags, and a node number per spelling looked up.
    caselessPerSpelling,
    stick,        // a person's: refuses names vfat can't hold, keeps folders' rights from root, fills
};

const char* diskName(SaveDisk disk)
{
    switch (disk) {
    case SaveDisk::plain: return "";
    case SaveDisk::noBirthTimes: return "OnDiskWithoutBirthTimes";
    case SaveDisk::caseless: return "OnDiskIgnoringCase";
    case SaveDisk::caselessPerSpelling: return "OnFuseDiskNumberingPerSpelling";
    case SaveDisk::stick: return "OnAStick";
    }
    return "?";
}

const char* faultName(Fault fault)
{
    switch (fault) {
    case Fault::stop: return "Stop";
    case Fault::gone: return "PhoneGone";
    case Fault::frozen: return "FrozenThenStop";
    case Fault::refusedRename: return "RefusedRename";
    case Fault::storageFull: return "StorageFull";
    case Fault::caseless: return "CaselessStorage";
    case Fault::appears: return "AnotherWriterMakes";
    case Fault::vanishes: return "AnotherWriterRemoves";
    case Fault::answerLost: return "AnswerLostThenBack";
    case Fault::answerLostThenStop: return "AnswerLostThenStop";
    case Fault::undescribed: return "ItemNotDescribed";
    case Fault::writtenInPlace: return "CoveredFileWrittenInPlace";
    case Fault::deleteAnswerLost: return "DeleteAnswerLost";
    case Fault::renameAnswerLost: return "RenameAnswerLost";
    case Fault::remadeAlike: return "AnotherWriterRemakesAlike";
    case Fault::removedOnPhone: return "RemovedOnThePhone";
    case Fault::saveFolderAway: return "SaveFolderAwayAndBack";
    case Fault::secondProcess: return "SecondProcessOnTheSameSettings";
    case Fault::saveDiskFull: return "SaveDiskFills";
    }
    return "?";
}

// Whether the fault means anything at a step of that kind.
bool appliesAt(Fault fault, const QString& kind)
{
    switch (fault) {
    case Fault::refusedRename:
        return kind == u"move"_s || kind == u"putInPlace"_s || kind == u"takeName"_s || kind == u"mergeInto"_s;
    case Fault::storageFull: return kind == u"push"_s || kind == u"makeFolder"_s;
    case Fault::answerLost:
    case Fault::answerLostThenStop: return kind != u"canRename"_s; // no answer to lose
    case Fault::deleteAnswerLost: return kind == u"putInPlace"_s;
    case Fault::renameAnswerLost: return kind == u"putInPlace"_s || kind == u"takeName"_s;
    default: return true;
    }
}

// The phone the copies run against, with its fault switches.
class PhoneSide {
public:
    virtual ~PhoneSide() = default;
    virtual const char* name() const = 0;
    // Fresh content below /sdcard, every fault off; case comparison as asked.
    virtual void reset(const Tree& content, bool caseless) = 0;
    virtual Tree snapshot() = 0;
    virtual std::shared_ptr<AdbSource> adbSource() = 0;
    virtual std::shared_ptr<MtpSource> mtpSource() = 0;
    virtual void setGone() = 0;
    virtual void setFrozen(bool frozen) = 0;
    virtual void setRefuseRenames() = 0;
    virtual void setStorageFull() = 0;
    // Transfers slow enough to break in the middle.
    virtual void setSlow(bool slow) = 0;
    // Whether its files are found by names that differ in case only.
    virtual bool lookupIgnoresCase() const { return false; }
    // Another writer's item made, or removed, below /sdcard.
    virtual void put(const QString& path, const QByteArray& bytes) = 0;
    virtual void take(const QString& path) = 0;
    // The step of `kind` about to be made is carried out, and its answer is
    // lost: it fails, or (`thenWait`) never comes.
    virtual void loseAnswer(const QString& kind, bool thenWait)
    {
        Q_UNUSED(kind);
        script->loseAnswer(thenWait);
    }
    // The phone can't describe the item at `path` (below /sdcard) from now on.
    virtual void setUndescribed(const QString& path) { Q_UNUSED(path); }
    // The next answer to this MTP operation is lost: its read times out.
    virtual void loseAnswerTo(uint16_t operation) { Q_UNUSED(operation); }
    // Every fault off and the phone reachable again; false when it isn't.
    virtual bool restore() = 0;
    std::shared_ptr<Script> script = std::make_shared<Script>();
};

#ifdef SWEEP_ADB
class AdbPhoneSide : public PhoneSide {
public:
    explicit AdbPhoneSide(FakePhoneHarness& harness) : m_harness(harness) {}
    const char* name() const override { return "adb"; }
    // Whether the storage ignores letter case is the harness's, from its start.
    void reset(const Tree& content, bool) override
    {
        clearFolder(m_harness.storage());
        writeTree(m_harness.storage(), content);
    }
    Tree snapshot() override { return readTree(m_harness.storage()); }
    std::shared_ptr<AdbSource> adbSource() override { return std::make_shared<SteppedAdbSource>(script); }
    std::shared_ptr<MtpSource> mtpSource() override { return std::make_shared<FakeMtpSource>(); }
    void setGone() override { m_harness.setUnreachable(true); }
    void setFrozen(bool frozen) override { m_harness.setUnresponsive(frozen); }
    void setRefuseRenames() override { m_harness.setRefuseMoves(true); }
    void setStorageFull() override { m_harness.setStorageFull(true); }
    void setSlow(bool slow) override { m_harness.setChunkDelay(slow ? 250 : 0); }
    void put(const QString& path, const QByteArray& bytes) override
    {
        writeTree(m_harness.storage(), {{path, bytes}});
    }
    void take(const QString& path) override { QFile::remove(m_harness.storage() + u'/' + path); }
    bool restore() override
    {
        m_harness.setChunkDelay(0);
        m_harness.setUnresponsive(false);
        m_harness.setRefuseMoves(false);
        m_harness.setStorageFull(false);
        m_harness.setUnreachable(false);
        return m_harness.waitForState(u"device"_s, 30000);
    }

private:
    FakePhoneHarness& m_harness;
};

#endif

// The simulated USB phone; its connection made on first use and again after a replug.
class SimulatedSource : public MtpSource {
public:
    SimulatedSource(std::shared_ptr<mtpsim::SimulatedPhone> phone, std::shared_ptr<Script> script)
        : m_phone(std::move(phone)), m_script(std::move(script))
    {
        m_host->plug(m_phone);
    }
    ~SimulatedSource() override { dropConnection(); }
    std::vector<Device> devices(const QSet<QString>&, const Cancel&) override { return {mtpPhone(u"SIM0001"_s)}; }
    std::shared_ptr<PhoneFiles> connection(const QString&) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_connection) {
            m_connection = std::make_shared<MTPConnection>(m_host, m_host->registryID(m_phone), u"SIM0001"_s, u"Pixel 7"_s);
            m_connection->check();
        }
        return std::make_shared<SteppedFiles>(m_connection, m_script);
    }
    void unplug() { m_host->unplug(m_phone); }
    void replug()
    {
        if (m_host->registryID(m_phone))
            return;
        dropConnection();
        m_host->plug(m_phone);
    }

private:
    void dropConnection()
    {
        std::shared_ptr<MTPConnection> old;
        {
            std::lock_guard lock(m_mutex);
            old = std::move(m_connection);
        }
        if (old)
            old->close().wait();
    }

    std::mutex m_mutex;
    std::shared_ptr<mtpsim::SimulatedUsbHost> m_host = std::make_shared<mtpsim::SimulatedUsbHost>();
    std::shared_ptr<mtpsim::SimulatedPhone> m_phone;
    std::shared_ptr<Script> m_script;
    std::shared_ptr<MTPConnection> m_connection;
};

class MtpPhoneSide : public PhoneSide {
public:
    const char* name() const override { return "mtp"; }
    bool lookupIgnoresCase() const override { return true; }
    // At the USB phone: the first command the step makes that carries its
    // effect (a rename, a deletion, a file sent, a folder made; for a look,
    // any) is carried out and its response lost.
    void loseAnswer(const QString& kind, bool thenWait) override
    {
        std::set<uint16_t> codes;
        if (kind == u"push"_s)
            codes = {0x100D};
        else if (kind == u"remove"_s)
            codes = {0x100B};
        else if (kind == u"makeFolder"_s)
            codes = {0x100C};
        else if (kind == u"move"_s || kind == u"putInPlace"_s || kind == u"takeName"_s || kind == u"mergeInto"_s)
            codes = {0x9804, 0x1019};
        else
            codes = {0x1007, 0x1008, 0x1009, 0x9805};
        m_phone->configure([&](auto& s) {
            s.loseAnswerOf = codes;
            s.lostAnswerWaits = thenWait;
        });
    }
    void loseAnswerTo(uint16_t operation) override
    {
        m_phone->configure([&](auto& s) {
            s.loseAnswerOf = {operation};
            s.lostAnswerWaits = false;
        });
    }
    // A phone that lists item by item, and can't describe this one.
    void setUndescribed(const QString& path) override
    {
        const auto object = m_phone->objectAt(path);
        m_phone->configure([&](auto& s) {
            s.responseFor[0x9805] = 0x2002;
            if (object)
                s.undescribed.insert(object->handle);
        });
    }
    void reset(const Tree& content, bool caseless) override
    {
        m_source.reset();
        m_phone = std::make_shared<mtpsim::SimulatedPhone>();
        m_phone->configure([&](auto& s) { s.caseInsensitiveNames = caseless; });
        std::map<QString, uint32_t> folders{{QString(), 0}};
        for (const auto& [path, bytes] : content) { // parents sort before what they hold
            const QString parent = path.contains(u'/') ? path.section(u'/', 0, -2) : QString();
            const QString name = path.section(u'/', -1);
            if (bytes == folderMark)
                folders[path] = m_phone->addFolder(folders.at(parent), name);
            else
                m_phone->addFile(folders.at(parent), name, bytes);
        }
        m_source = std::make_shared<SimulatedSource>(m_phone, script);
    }
    Tree snapshot() override
    {
        Tree tree;
        for (const auto& object : m_phone->objects())
            tree[m_phone->pathOf(object.handle)] = object.isFolder() ? folderMark : object.content->bytes();
        return tree;
    }
    std::shared_ptr<AdbSource> adbSource() override { return std::make_shared<FakeAdbSource>(); }
    std::shared_ptr<MtpSource> mtpSource() override { return m_source; }
    void setGone() override { m_source->unplug(); }
    void setFrozen(bool frozen) override
    {
        m_phone->configure([&](auto& s) { s.unresponsive = frozen; });
    }
    void setRefuseRenames() override
    {
        // Access_Denied for a rename and a move.
        m_phone->configure([](auto& s) {
            s.responseFor[0x9804] = 0x200F;
            s.responseFor[0x1019] = 0x200F;
        });
    }
    void setStorageFull() override
    {
        m_phone->configure([](auto& s) { s.storageFull = true; });
    }
    void put(const QString& path, const QByteArray& bytes) override
    {
        const QString parent = path.contains(u'/') ? path.section(u'/', 0, -2) : QString();
        const std::optional<uint32_t> folder = handleOf(parent);
        if (folder && bytes == folderMark)
            m_phone->addFolder(*folder, path.section(u'/', -1));
        else if (folder)
            m_phone->addFile(*folder, path.section(u'/', -1), bytes);
    }
    void take(const QString& path) override
    {
        if (const std::optional<uint32_t> handle = handleOf(path); handle && *handle)
            m_phone->removeObject(*handle);
    }
    void setSlow(bool slow) override
    {
        m_phone->configure([&](auto& s) { s.delayPerMiB = slow ? std::chrono::seconds(10) : std::chrono::seconds(0); });
    }
    bool restore() override
    {
        m_phone->configure([](auto& s) {
            s.delayPerMiB = {};
            s.unresponsive = false;
            s.storageFull = false;
            s.responseFor.clear();
            s.loseAnswerOf.clear();
            s.lostAnswerWaits = false;
            s.undescribed.clear();
        });
        m_source->replug();
        return true;
    }

private:
    std::optional<uint32_t> handleOf(const QString& path) const
    {
        if (path.isEmpty())
            return 0;
        for (const auto& object : m_phone->objects())
            if (m_phone->pathOf(object.handle) == path)
                return object.handle;
        return std::nullopt;
    }

    std::shared_ptr<mtpsim::SimulatedPhone> m_phone;
    std::shared_ptr<SimulatedSource> m_source;
};

// ---- one run -------------------------------------------------------------------------------

bool fullSweep()
{
    return qEnvironmentVariable("VANTELORQUIST_SWEEP") == u"full"_s;
}

// The computer's folders go in VANTELORQUIST_SWEEP_DISK when set: a real
// disk of another kind to try (a loop-mounted ext4 with 128-byte inodes, a
// vfat image).
QString computerFolderTemplate()
{
    const QString disk = qEnvironmentVariable("VANTELORQUIST_SWEEP_DISK");
    return disk.isEmpty() ? QDir::tempPath() + u"/sweep-XXXXXX"_s : disk + u"/sweep-XXXXXX"_s;
}

// A generous bound on Stop; the promise is a second, and the lines print the time taken.
constexpr auto stopBound = std::chrono::seconds(5);
// How far into a slowed transfer a fault comes.
constexpr auto midwayDelay = std::chrono::milliseconds(100);

struct Outcome {
    QStringList problems;
    QStringList steps;
    QString message;
    QStringList details; // the whole list behind the message
    bool note = false;   // a note of what the person's Stop left, not a failure
    std::optional<qint64> stopMs;
    bool landed = true; // false: the copy was over before its fault came
};

// A kept copy is named by its own name, which is ours.
QString withoutKeptNames(QString message)
{
    static const QRegularExpression kept(u"(The new copy is in \\S+ as the hidden item )“[^”]+”"_s);
    return message.replace(kept, u"\\1“…”"_s);
}

// Texts that are the tools' or ours, never the person's.
QStringList rawTextIn(const QString& message)
{
    QStringList found;
    static const QRegularExpression progress(u"\\[\\s*\\d+%\\]"_s);
    if (progress.match(message).hasMatch())
        found << u"a progress line"_s;
    if (!message.isValidUtf16())
        found << u"a byte of a name that isn't text, raw"_s;
    for (const QString& raw : {u".vantelorquist"_s, u"adb: error"_s, u"adb: "_s, u"remote "_s, u"error: "_s,
                               u"failed to copy"_s})
        if (message.contains(raw))
            found << u"“"_s + raw + u"”"_s;
    return found;
}

// What a second process on the same settings did: how it ended, and the
// items it copied (below /sdcard; "saved/..." on the computer).
struct SecondRun {
    int code = -1;
    QString output;
    Tree onPhone;
    Tree onComputer;
};

class Runner {
public:
    Runner(PhoneSide& phone, const Shape& shape, bool caseless, SaveDisk disk = SaveDisk::plain)
        : m_phone(phone), m_shape(shape), m_caseless(caseless), m_disk(disk)
    {
    }

    // A second process on these settings, as a start from another login
    // makes: it starts, lists the folder the copy works in (hidden items
    // shown) and copies an item of its own into it, while this copy waits
    // at its step.
    SecondRun startSecond(const QString& computer, const QString& elsewhere, const QString& settingsFile)
    {
        SecondRun run;
        QStringList args{settingsFile, u"/sdcard"_s};
        const QByteArray bytes = "the second process's copy";
        if (m_shape.toPhone) {
            writeTree(elsewhere, {{u"second.txt"_s, bytes}});
            args << u"upload"_s << elsewhere + u"/second.txt"_s;
            run.onPhone[u"second.txt"_s] = bytes;
        } else {
            m_phone.put(u"second.bin"_s, bytes);
            args << u"download"_s << u"second.bin"_s << computer + u"/saved"_s;
            run.onPhone[u"second.bin"_s] = bytes;
            run.onComputer[u"saved/second.bin"_s] = bytes;
        }
#ifdef SECOND_PROCESS_BINARY
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        // The same settings, so the same owner as this process's.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"SWEEP_OWNER"_s, u"model test"_s);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(SECOND_PROCESS_BINARY), args);
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished(5000);
        }
        run.output = QString::fromLocal8Bit(process.readAll()).trimmed();
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
#endif
        return run;
    }

    // The copy with `fault` at step k (0: none); what broke.
    Outcome run(std::optional<Fault> asked, int k)
    {
        // The USB phone's other writer is checked as the one that removes.
        const bool alike = asked == Fault::remadeAlike;
        const bool removedOnPhone = asked == Fault::removedOnPhone;
        const std::optional<Fault> fault = alike || removedOnPhone ? std::optional<Fault>(Fault::vanishes) : asked;
        // A lost answer the phone's word settles, and an item gone from
        // the phone before a copy to it merged: whole, and not a word.
        const bool settled = asked == Fault::deleteAnswerLost || asked == Fault::renameAnswerLost
                             || (removedOnPhone && m_shape.toPhone);
        Outcome outcome;
        QTemporaryDir computer(computerFolderTemplate()), settingsFolder, elsewhere, control;
        // Names that aren't text are beyond QTemporaryDir's own removal.
        const auto emptied = qScopeGuard([&] { clearFolder(computer.path()); });
        const auto [othersOnPhone, othersOnComputer] = anotherOwnersItems(m_shape);
        m_phone.reset(overlaid(m_shape.phone, othersOnPhone), m_caseless);
        writeTree(computer.path(), overlaid(m_shape.computer, othersOnComputer));
        for (const QString& path : m_shape.readOnly)
            QFile::setPermissions(computer.filePath(path), QFile::ReadOwner | QFile::ExeOwner);
        const auto writable = qScopeGuard([&] {
            for (const QString& path : m_shape.readOnly)
                QFile::setPermissions(computer.filePath(path), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        // While this is there, the stick is full.
        const QString full = control.filePath(u"full"_s);
        // Unmounted before the folder is emptied.
        std::unique_ptr<FakePhoneHarness::DiskMount> disk;
        if (m_disk != SaveDisk::plain) {
            const bool vfat = m_disk == SaveDisk::caseless;
            const bool exfatFuse = m_disk == SaveDisk::caselessPerSpelling;
            const bool stick = m_disk == SaveDisk::stick;
            FakePhoneHarness::Disk kind{vfat || exfatFuse,
                                        vfat || stick ? u"noreplace"_s : exfatFuse ? u"plain"_s : u"all"_s,
                                        !vfat && !exfatFuse && !stick};
            kind.numbersPerSpelling = exfatFuse;
            if (stick) {
                kind.vfatNames = true;
                kind.honourModes = true;
                kind.fullWhen = full;
            }
            QString why;
            disk = FakePhoneHarness::mountDisk(computer.path(), kind, &why);
            if (!disk) {
                outcome.problems << u"the save folder's disk couldn't be mounted: "_s + why;
                return outcome;
            }
        }
        // On a disk that ignores letter case, one spelling of a name stands for all.
        const bool caselessDisk = m_disk == SaveDisk::caseless || m_disk == SaveDisk::caselessPerSpelling;
        const auto key = [&](const QString& path) { return caselessDisk ? path.toCaseFolded() : path; };
        const auto keyed = [&](const Tree& tree) {
            Tree out;
            for (const auto& [path, bytes] : tree)
                out[key(path)] = bytes;
            return out;
        };
        const Tree phoneBefore = m_phone.snapshot();
        const Tree computerBefore = keyed(readTree(computer.path()));

        QSettings settings(settingsFolder.filePath(u"settings.ini"_s), QSettings::IniFormat);
        auto desktop = std::make_shared<ScriptedDesktop>();
        desktop->answer = int(m_shape.answer);
        std::unique_ptr<BrowserModel> model =
            newModel(m_phone.adbSource(), m_phone.mtpSource(), settings, std::make_shared<ManualClock>(), desktop);
        const auto fail = [&](const QString& problem) {
            outcome.problems << problem;
            return outcome;
        };
        if (!ready(*model))
            return fail(u"the model found no ready phone"_s);
        model->setAskWhereToSave(false);
        if (m_shape.parts)
            model->setPushBatchLimits(*m_shape.parts);
        model->setSaveFolder(computer.filePath(u"saved"_s));
        model->setRevealAfterCopy(false);

        // Listed before the copy: the steps counted are the copy's alone.
        std::optional<RemoteEntry> entry;
        if (!m_shape.toPhone && !(entry = listed(*model, m_shape.item)))
            return fail(u"the phone's listing lacks “"_s + m_shape.item + u"”"_s);

        std::optional<Steady::time_point> stopped, ended;
        QObject::connect(model.get(), &BrowserModel::jobChanged, model.get(), [&] {
            if (!model->job() && !ended)
                ended = Steady::now();
        });
        std::atomic<bool> frozenNow = false;
        std::atomic<bool> landed = false;
        std::atomic<bool> cancelled = false;
        BrowserModel* receiver = model.get();
        AnotherWriter writer = alike || removedOnPhone ? phoneWriter(m_shape, alike) : anotherWriter(m_shape);
        if (caselessDisk) {
            writer.makes = keyed(writer.makes);
            writer.remakes = keyed(writer.remakes);
            writer.keptBothElsewhere = keyed(writer.keptBothElsewhere);
            std::set<QString> removes;
            for (const QString& path : writer.removes)
                removes.insert(key(path));
            writer.removes = removes;
        }
        std::atomic<int> questionsBefore = 0;
        std::atomic<bool> savedAway = false;
        std::optional<SecondRun> second;
        const auto stopNow = [&, receiver] {
            stopped = Steady::now();
            receiver->cancelJob();
            cancelled = true;
        };
        // What the other writer makes, on the computer ("saved/...") or the phone.
        const auto put = [&](const Tree& items) {
            for (const auto& [path, bytes] : items) {
                if (path.startsWith(u"saved/"_s))
                    writeTree(computer.path(), {{path, bytes}});
                else
                    m_phone.put(path, bytes);
            }
        };
        const auto act = [&] {
            switch (*fault) {
            case Fault::stop:
            case Fault::caseless: stopNow(); break;
            case Fault::gone: m_phone.setGone(); break;
            case Fault::frozen:
                m_phone.setFrozen(true);
                frozenNow = true;
                break;
            case Fault::refusedRename: m_phone.setRefuseRenames(); break;
            case Fault::storageFull: m_phone.setStorageFull(); break;
            case Fault::appears:
                questionsBefore = int(desktop->questions.size());
                put(writer.makes);
                break;
            case Fault::vanishes:
                questionsBefore = int(desktop->questions.size());
                for (const QString& path : writer.removes) {
                    if (path.startsWith(u"saved/"_s))
                        QFile::remove(computer.filePath(path));
                    else
                        m_phone.take(path);
                }
                put(writer.remakes);
                break;
            case Fault::answerLost:
            case Fault::answerLostThenStop: break; // at the step itself
            case Fault::undescribed: m_phone.setUndescribed(u"Album/b.txt"_s); break;
            case Fault::writtenInPlace:
                for (const auto& [path, bytes] : writer.appends) {
                    FILE* out = std::fopen(onDisk(computer.filePath(path)).c_str(), "ab");
                    if (!out || std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out) != size_t(bytes.size()))
                        ADD_FAILURE() << "couldn't write to " << path.toStdString();
                    if (out)
                        std::fclose(out);
                }
                break;
            case Fault::deleteAnswerLost: m_phone.loseAnswerTo(0x100B); break;
            case Fault::renameAnswerLost: m_phone.loseAnswerTo(0x9804); break;
            case Fault::remadeAlike:
            case Fault::removedOnPhone: break; // as the removal above
            case Fault::saveFolderAway:
                // Its drive unmounted or unplugged: the folder is no longer at its path.
                savedAway = QDir().rename(computer.filePath(u"saved"_s), computer.filePath(u"saved-away"_s));
                break;
            case Fault::secondProcess: second = startSecond(computer.path(), elsewhere.path(), settings.fileName()); break;
            case Fault::saveDiskFull: writeTree(control.path(), {{u"full"_s, "full"}}); break;
            }
        };
        // A copy that ended before its fault came is left alone, and so is the phone.
        QTimer midway;
        midway.setSingleShot(true);
        QObject::connect(&midway, &QTimer::timeout, [&] {
            if (ended) // the copy's, not the next one's
                return;
            landed = true;
            act();
        });
        m_phone.script->arm(fault ? k : 0, [&, receiver](const QString& kind) {
            const bool transfer = kind == u"push"_s || kind == u"pull"_s;
            if (*fault == Fault::deleteAnswerLost || *fault == Fault::renameAnswerLost) {
                landed = true;
                act();
                return;
            }
            const bool lose = *fault == Fault::answerLost || *fault == Fault::answerLostThenStop;
            if (lose) {
                // The step goes whole; then its answer is lost, and a Stop follows a wait.
                landed = true;
                m_phone.loseAnswer(kind, *fault == Fault::answerLostThenStop);
                if (*fault == Fault::answerLostThenStop)
                    frozenNow = true;
                return;
            }
            const bool during = transfer && *fault != Fault::refusedRename && *fault != Fault::storageFull
                                && *fault != Fault::undescribed && *fault != Fault::appears
                                && *fault != Fault::vanishes && *fault != Fault::writtenInPlace
                                && *fault != Fault::secondProcess;
            if (during) {
                // Into a slowed transfer, once part of it has gone.
                m_phone.setSlow(true);
                // On the GUI thread, by a timer that goes with this run.
                QMetaObject::invokeMethod(&midway, [&] { midway.start(midwayDelay); }, Qt::QueuedConnection);
                return;
            }
            landed = true;
            if (*fault == Fault::stop || *fault == Fault::caseless) {
                QMetaObject::invokeMethod(receiver, stopNow, Qt::QueuedConnection);
                testsupport::waitUntil([&] { return cancelled.load(); }, stopBound);
                return;
            }
            // The switches are the stand-ins' own, safe from any thread.
            act();
        });

        if (m_shape.toPhone) {
            model->upload(urls({computer.filePath(u"source/"_s + m_shape.item)}));
        } else {
            model->download({*entry});
        }
        bool over = testsupport::waitUntil([&] { return !model->job() || frozenNow; }, std::chrono::seconds(60));
        if (frozenNow) {
            // Frozen: a moment without an answer, then Stop.
            testsupport::waitUntil([&] { return !model->job(); }, std::chrono::milliseconds(300));
            stopped = Steady::now();
            model->cancelJob();
            over = testsupport::waitUntil([&] { return !model->job(); }, stopBound);
        } else if (stopped) {
            over = over && testsupport::waitUntil([&] { return !model->job(); }, stopBound);
        }
        if (stopped && ended)
            outcome.stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(*ended - *stopped).count();
        if (stopped && !over)
            outcome.problems << u"the job did not end within 5 s of Stop"_s;
        else if (!over)
            outcome.problems << u"the job did not end within 60 s"_s;

        // Room on the stick again.
        QFile::remove(full);
        // The save folder's drive back.
        if (savedAway) {
            if (QFileInfo::exists(computer.filePath(u"saved"_s)))
                outcome.problems << u"the copy made the save folder anew while its drive was away"_s;
            else if (!QDir().rename(computer.filePath(u"saved-away"_s), computer.filePath(u"saved"_s)))
                outcome.problems << u"the save folder could not be put back"_s;
        }
        const bool restoredBefore = m_phone.restore();
        if (!over && !testsupport::waitUntil([&] { return !model->job(); }, std::chrono::seconds(10))) {
            outcome.steps = m_phone.script->disarm();
            outcome.problems << u"the job never ended, even with the phone back"_s;
            (void)model.release(); // its worker still runs; ending it here would hang the sweep
            return outcome;
        }
        testsupport::waitUntil([&] { return !model->isLoading(); }, std::chrono::seconds(30));
        outcome.steps = m_phone.script->disarm();
        // A worker thread reused after the job (a listing once it ended) can
        // take the fault's turn after the phone came back: back once more,
        // now that nothing injects.
        const bool reachable = m_phone.restore() && restoredBefore;
        outcome.landed = !fault || landed;
        outcome.message = model->errorMessage().value_or(QString());
        outcome.details = model->errorDetails();
        outcome.note = model->errorIsNote();
        if (!reachable)
            return fail(u"the phone did not come back"_s);

        // The phone reachable again and its folders listed: stale working files go now.
        if (!ready(*model))
            return fail(u"the phone is not ready after the fault"_s);
        listAgain(*model);
        if (m_shape.toPhone && m_shape.computer.at(u"source/"_s + m_shape.item) == folderMark) {
            model->navigate(u"/sdcard/"_s + m_shape.item);
            settle(*model);
            model->navigate(u"/sdcard"_s);
            settle(*model);
        }

        // The MTP layer finds a name as the phone may compare it, ignoring
        // case: on its phone either reading of a case-alike name is whole.
        std::vector<Tree> phoneCompletes;
        if (!m_caseless)
            phoneCompletes.push_back(overlaid(phoneBefore, m_shape.phoneAfter));
        if (m_shape.caselessPhoneAfter && (m_caseless || m_phone.lookupIgnoresCase()))
            phoneCompletes.push_back(overlaid(phoneBefore, *m_shape.caselessPhoneAfter));
        else if (m_caseless)
            phoneCompletes.push_back(overlaid(phoneBefore, m_shape.phoneAfter));
        std::vector<Tree> computerCompletes{overlaid(computerBefore, keyed(m_shape.computerAfter))};
        // What the copy itself makes, before another writer's items count.
        const std::vector<Tree> phoneWhole = phoneCompletes;
        const std::vector<Tree> computerWhole = computerCompletes;
        Tree phoneAsBefore = phoneBefore;
        Tree computerAsBefore = computerBefore;
        // An item made before the copy asked is one the person was asked
        // about, and their answer covers it.
        for (qsizetype q = questionsBefore; q < desktop->questions.size(); ++q)
            std::erase_if(writer.makes, [&](const auto& made) {
                return desktop->questions[q].message.contains(u"“"_s + made.first.section(u'/', -1) + u"”"_s);
            });
        // An item remade alike before the question is the one the answer covers.
        if (alike && landed && questionsBefore < desktop->questions.size()) {
            for (const auto& [path, bytes] : writer.remakes)
                phoneAsBefore[path] = bytes;
            writer.remakes.clear();
            writer.removes.clear();
        }
        // So is whatever was in the folder the question named by then: an
        // answer to replace covers what it held as it was put.
        if (fault && landed && m_shape.toPhone && questionsBefore < desktop->questions.size()
            && (*fault == Fault::appears || *fault == Fault::vanishes)) {
            const QString inside = m_shape.item + u'/';
            if (*fault == Fault::vanishes)
                std::erase_if(writer.removes, [&](const QString& path) {
                    if (!path.startsWith(inside))
                        return false;
                    phoneAsBefore.erase(path);
                    return true;
                });
            Tree& covered = *fault == Fault::appears ? writer.makes : writer.remakes;
            for (auto it = covered.begin(); it != covered.end();) {
                if (!it->first.startsWith(inside)) {
                    ++it;
                    continue;
                }
                phoneAsBefore[it->first] = it->second;
                // Where the copy puts nothing, it stays as it came.
                for (Tree& complete : phoneCompletes)
                    complete.try_emplace(it->first, it->second);
                it = covered.erase(it);
            }
        }
        if (fault && landed && (*fault == Fault::appears || *fault == Fault::vanishes)) {
            // What another writer made is theirs and stays as they made it;
            // what they removed is neither the copy's to keep nor to lose.
            const auto theirs = [&](Tree& before, std::vector<Tree>& completes, bool computerSide) {
                for (const auto& [path, bytes] : writer.makes) {
                    if (path.startsWith(u"saved/"_s) != computerSide || *fault != Fault::appears)
                        continue;
                    before[path] = bytes;
                    for (Tree& complete : completes)
                        complete[path] = bytes;
                }
                const std::vector<Tree> asIs = completes;
                for (Tree complete : asIs) {
                    for (const auto& [path, bytes] : writer.keptBothElsewhere) {
                        if (path.startsWith(u"saved/"_s) == computerSide && *fault == Fault::appears)
                            complete[path] = bytes;
                    }
                    completes.push_back(complete);
                }
                for (const QString& path : writer.removes) {
                    if (path.startsWith(u"saved/"_s) != computerSide || *fault != Fault::vanishes)
                        continue;
                    before.erase(path);
                    const std::vector<Tree> more = completes;
                    for (Tree complete : more) {
                        complete.erase(path);
                        completes.push_back(complete);
                    }
                }
                for (const auto& [path, bytes] : writer.remakes) {
                    if (path.startsWith(u"saved/"_s) != computerSide || *fault != Fault::vanishes)
                        continue;
                    before[path] = bytes;
                    for (Tree& complete : completes)
                        complete[path] = bytes;
                }
            };
            theirs(phoneAsBefore, phoneCompletes, false);
            theirs(computerAsBefore, computerCompletes, true);
        }
        // A file the answer covers, written in place: as written, or the
        // new copy written to once in its place.
        if (fault == Fault::writtenInPlace && landed) {
            for (const auto& [path, bytes] : writer.appends) {
                if (const auto old = computerAsBefore.find(key(path)); old != computerAsBefore.end())
                    old->second += bytes;
                for (Tree& complete : computerCompletes)
                    if (const auto copied = complete.find(key(path)); copied != complete.end())
                        copied->second += bytes;
            }
        }
        // An item gone from the phone before a copy to the computer listed
        // it is no part of that copy.
        if (removedOnPhone && landed && !m_shape.toPhone) {
            for (const QString& path : writer.removes) {
                const QString saved = u"saved/"_s + path;
                const auto before = computerBefore.find(saved);
                const std::vector<Tree> more = computerCompletes;
                for (Tree complete : more) {
                    if (before != computerBefore.end())
                        complete[saved] = before->second;
                    else
                        complete.erase(saved);
                    computerCompletes.push_back(complete);
                }
            }
        }
        // What the second process copied is its own, there whatever became of this copy.
        if (second) {
            if (second->code != 0)
                outcome.problems << u"the second process's own copy failed: "_s + second->output;
            const auto add = [](Tree& before, std::vector<Tree>& completes, const Tree& items) {
                for (const auto& [path, bytes] : items) {
                    before[path] = bytes;
                    for (Tree& complete : completes)
                        complete[path] = bytes;
                }
            };
            add(phoneAsBefore, phoneCompletes, second->onPhone);
            add(computerAsBefore, computerCompletes, second->onComputer);
        }
        const Tree phoneAfter = withKeptCopies(m_phone.snapshot(), outcome.message);
        const Tree computerAfter = keyed(readTree(computer.path()));
        for (const auto& [path, bytes] : writer.appends) {
            const auto now = computerAfter.find(key(path));
            const auto written = computerAsBefore.find(key(path));
            if (fault == Fault::writtenInPlace && landed && now != computerAfter.end() && written != computerAsBefore.end()
                && now->second == written->second
                && !outcome.message.contains(u"“"_s + paths::shown(path.section(u'/', -1)) + u"”"_s))
                outcome.problems << u"the file written in place was left out, and the message doesn't name it"_s;
        }
        outcome.problems << compare(u"the phone"_s, phoneAsBefore, phoneCompletes, phoneAfter)
                         << compare(u"the computer"_s, computerAsBefore, computerCompletes, computerAfter);
        const Tree& theirs = fault == Fault::vanishes ? writer.remakes : writer.makes;
        for (const auto& [path, bytes] : theirs) {
            if ((fault != Fault::appears && fault != Fault::vanishes) || !landed)
                break;
            const Tree& side = path.startsWith(u"saved/"_s) ? computerAfter : phoneAfter;
            const auto there = side.find(path);
            if (there == side.end() || there->second != bytes)
                outcome.problems << u"another writer's “"_s + path + u"” was replaced or removed"_s;
        }
        const bool complete = std::find(phoneCompletes.begin(), phoneCompletes.end(), phoneAfter) != phoneCompletes.end()
                              && std::find(computerCompletes.begin(), computerCompletes.end(), computerAfter)
                                     != computerCompletes.end();

        const bool waited = fault == Fault::frozen || fault == Fault::answerLostThenStop;
        // A Stop that came once the copy had ended (at the listing after it) stopped nothing.
        const bool stop = (fault == Fault::stop || waited || fault == Fault::caseless)
                          && !(stopped && ended && *ended < *stopped);
        // After Stop only a note: what a frozen phone left, or the items
        // clashes left out before the Stop.
        // (A Stop that came as the copy ended may find those told as its end.)
        const bool leftOutTold =
            !m_shape.leftOut.isEmpty()
            && (outcome.message.contains(u" wasn't copied: a folder of that name"_s)
                || std::any_of(m_shape.leftOut.begin(), m_shape.leftOut.end(), [&](const QString& name) {
                       return outcome.message.contains(u"“"_s + paths::shown(name) + u"”"_s);
                   }));
        if (stop && !outcome.message.isEmpty() && !(waited && isCleanUpNote(outcome.message)) && !leftOutTold)
            outcome.problems << u"Stop left a message"_s;
        if (stop && !outcome.message.isEmpty() && !outcome.note && !leftOutTold)
            outcome.problems << u"what Stop left is told as a failure"_s;
        if (fault == Fault::undescribed && !outcome.message.isEmpty() && !outcome.message.contains(u"“Album”"_s)
            && !outcome.message.contains(u"“b.txt”"_s))
            outcome.problems << u"the message names neither the item the phone couldn't describe nor its folder"_s;
        if (!stop && outcome.message.isEmpty() && !complete)
            outcome.problems << u"the copy stopped short without a word"_s;
        // A second process on the same settings changes nothing of this copy.
        // (The clashes a shape leaves out are told whatever else runs.)
        const bool saysMoreThanItsClashes = !outcome.message.isEmpty() && !leftOutTold;
        if (fault == Fault::secondProcess && landed && (!complete || saysMoreThanItsClashes))
            outcome.problems << u"the second process changed this copy"_s;
        // A phone frozen as a replacing file takes the old one's place keeps
        // the new copy, or can't be told to remove it: either is said.
        const bool frozenAtSwap = fault == Fault::frozen && landed && k <= int(outcome.steps.size())
                                  && outcome.steps[k - 1].startsWith(u"putInPlace "_s);
        if (frozenAtSwap && !isCleanUpNote(outcome.message))
            outcome.problems << u"Stop at a frozen swap said nothing of the new copy"_s;
        if (const QStringList raw = rawTextIn(withoutKeptNames(outcome.message)); !raw.isEmpty())
            outcome.problems << u"the message holds "_s + raw.join(u", "_s);
        if (!fault && !outcome.message.isEmpty() && m_shape.leftOut.isEmpty())
            outcome.problems << u"the copy without a fault failed"_s;
        if (settled && landed && (!complete || saysMoreThanItsClashes))
            outcome.problems << u"what the phone could tell left the copy short or said it failed"_s;
        // A copy that goes to its end names every item it didn't copy, in
        // its message or the list behind it; so does one that a failure
        // ended, to the computer, counting what it never came to.
        if (!fault || (landed && (*fault == Fault::appears || *fault == Fault::vanishes))
            || (landed && !stop && !m_shape.toPhone)) {
            const QString told = outcome.message + u'\n' + outcome.details.join(u'\n');
            const Tree wanted = m_shape.toPhone ? m_shape.phoneAfter : keyed(m_shape.computerAfter);
            const Tree& after = m_shape.toPhone ? phoneAfter : computerAfter;
            const std::vector<Tree>& whole = m_shape.toPhone ? phoneWhole : computerWhole;
            const Tree& before = m_shape.toPhone ? phoneBefore : computerBefore;
            // A failure before any of the item arrived, told of the item
            // asked for whole (by its name, or naming no item at all), tells
            // what it holds with it.
            bool arrived = false, innerTold = false;
            for (const auto& [path, bytes] : wanted) {
                const auto now = after.find(path);
                const auto was = before.find(path);
                arrived = arrived
                          || (bytes != folderMark && now != after.end() && now->second == bytes
                              && (was == before.end() || was->second != bytes));
                innerTold = innerTold
                            || (bytes != folderMark
                                && told.contains(u"“"_s + paths::shown(path.section(u'/', -1)) + u"”"_s));
            }
            for (const QString& name : m_shape.leftOut)
                innerTold = innerTold || told.contains(u"“"_s + paths::shown(name) + u"”"_s);
            const bool toldWhole = fault && !arrived && !innerTold
                                   && (told.contains(u"“"_s + paths::shown(m_shape.item) + u"”"_s)
                                       || !outcome.message.contains(u"“"_s));
            for (const auto& [path, bytes] : wanted) {
                if (toldWhole)
                    break;
                // Another writer's item may have come after the copy put its own there.
                // An item removed on the phone before the copy reached it is no part of it.
                const bool touched = fault && (writer.makes.count(path) || writer.removes.count(path)
                                               || writer.remakes.count(path) || (removedOnPhone && !m_shape.toPhone));
                if (bytes == folderMark || touched)
                    continue;
                // A reading of the copy that doesn't make this item, or one it made whole.
                const bool copied = std::any_of(whole.begin(), whole.end(), [&](const Tree& reading) {
                    const auto made = reading.find(path);
                    const auto now = after.find(path);
                    return made == reading.end() || (now != after.end() && now->second == made->second);
                });
                const QString name = u"“"_s + paths::shown(path.section(u'/', -1)) + u"”"_s;
                // The path may be as a disk that ignores letter case keys it.
                if (!copied && !told.contains(name, Qt::CaseInsensitive))
                    outcome.problems << u"“"_s + path + u"” wasn't copied, and the message doesn't name it"_s;
            }
            for (const QString& name : m_shape.leftOut) {
                if (!toldWhole && !told.contains(u"“"_s + paths::shown(name) + u"”"_s))
                    outcome.problems << u"the message doesn't name “"_s + name + u"”, left out"_s;
            }
            // More than one item not copied: the message counts them.
            if (outcome.details.size() > 1
                && !outcome.message.contains(QString::number(outcome.details.size() - 1) + u" other item"_s))
                outcome.problems << u"the message doesn't count the other items not copied"_s;
        }

        // The next copy runs.
        model->setErrorMessage(std::nullopt);
        const QByteArray next = "the next copy";
        writeTree(elsewhere.path(), {{u"next.txt"_s, next}});
        model->upload(urls({elsewhere.filePath(u"next.txt"_s)}));
        if (!testsupport::waitUntil([&] { return !model->job() && !model->isLoading(); }, std::chrono::seconds(30)))
            outcome.problems << u"the next copy did not end"_s;
        else if (m_phone.snapshot()[u"next.txt"_s] != next || model->errorMessage())
            outcome.problems << u"the next copy failed: "_s + model->errorMessage().value_or(u"its file isn't whole"_s);
        return outcome;
    }

private:
    static void settle(BrowserModel& model)
    {
        testsupport::waitUntil([&] { return !model.isLoading(); }, std::chrono::seconds(30));
    }
    static bool ready(BrowserModel& model)
    {
        bool passed = false;
        model.refreshDevices([&] { passed = true; });
        const bool ok = testsupport::waitUntil([&] { return passed && model.readyDevice() && !model.isLoading(); },
                                               std::chrono::seconds(30));
        return ok;
    }
    static void listAgain(BrowserModel& model)
    {
        bool done = false;
        model.reload([&] { done = true; });
        testsupport::waitUntil([&] { return done && !model.isLoading(); }, std::chrono::seconds(30));
    }
    static std::optional<RemoteEntry> listed(BrowserModel& model, const QString& name)
    {
        listAgain(model);
        for (const RemoteEntry& entry : model.entries())
            if (entry.name == name)
                return entry;
        return std::nullopt;
    }

    PhoneSide& m_phone;
    const Shape& m_shape;
    bool m_caseless;
    SaveDisk m_disk;
};

// The steps to break: all of them, or in the suite the first of each kind and the last.
std::vector<int> stepsToBreak(const QStringList& steps, Fault fault)
{
    std::vector<int> chosen;
    std::set<QString> kinds;
    for (int i = 0; i < int(steps.size()); ++i) {
        const QString kind = steps[i].section(u' ', 0, 0);
        if (!appliesAt(fault, kind))
            continue;
        const bool last = i == int(steps.size()) - 1;
        if (fullSweep() || kinds.insert(kind).second || last)
            chosen.push_back(i + 1);
    }
    return chosen;
}

void sweep(PhoneSide& phone, const Shape& shape, Fault fault, SaveDisk disk = SaveDisk::plain)
{
    const bool caseless = fault == Fault::caseless;
    if (disk != SaveDisk::plain) {
        if (const QString why = FakePhoneHarness::caselessStorageUnavailable(); !why.isEmpty())
            GTEST_SKIP() << "no FUSE stand-in for the save folder's disk here: " << why.toStdString();
    }
    Runner runner(phone, shape, caseless, disk);
    const auto line = [&](const QString& what, const Outcome& outcome) {
        const QString head = u"SWEEP "_s + (outcome.problems.isEmpty() ? u"ok   "_s : u"FAIL "_s)
                             + QLatin1StringView(phone.name()) + u' ' + QLatin1StringView(shape.name)
                             + QLatin1StringView(diskName(disk)) + u' ' + QLatin1StringView(faultName(fault)) + u' '
                             + what;
        QString text = head;
        if (!outcome.landed)
            text += u" | the copy ended before the fault came"_s;
        if (outcome.stopMs)
            text += u" | ended "_s + QString::number(*outcome.stopMs) + u" ms after Stop"_s;
        if (!outcome.message.isEmpty())
            text += u" | message: “"_s + outcome.message + u"”"_s;
        if (!outcome.problems.isEmpty() && !outcome.details.isEmpty())
            text += u" | details: "_s + outcome.details.join(u" / "_s);
        if (!outcome.problems.isEmpty())
            text += u" | "_s + outcome.problems.join(u"; "_s);
        if (outcome.problems.isEmpty())
            std::cout << text.toStdString() << std::endl;
        else
            ADD_FAILURE() << text.toStdString();
    };

    // The copy whole: its steps, and the promise that it gets there.
    const Outcome whole = runner.run(std::nullopt, 0);
    line(u"no fault ("_s + QString::number(whole.steps.size()) + u" steps)"_s, whole);
    ASSERT_FALSE(whole.steps.isEmpty()) << "the copy took no steps";
    for (const int k : stepsToBreak(whole.steps, fault)) {
        const Outcome broken = runner.run(fault, k);
        line(u"step "_s + QString::number(k) + u'/' + QString::number(whole.steps.size()) + u" ("_s
                 + whole.steps[k - 1] + u')',
             broken);
    }
}

struct Case {
    int shape;
    Fault fault;
    SaveDisk disk = SaveDisk::plain;
};

void PrintTo(const Case& one, std::ostream* out)
{
    *out << shapes()[size_t(one.shape)].name << diskName(one.disk) << " with " << faultName(one.fault);
}

// The cases: with storage that ignores letter case, or every other fault.
std::vector<Case> cases(bool caseless, bool mtp = false)
{
    std::vector<Case> all;
    const std::vector<Shape> list = shapes();
    for (int i = 0; i < int(list.size()); ++i) {
        // Only a copy over adb merges on the phone, in parts or whole, and
        // carries names that aren't text (on storage of its own kind).
        if ((mtp && list[size_t(i)].parts) || ((mtp || caseless) && list[size_t(i)].notText)
            || (!mtp && list[size_t(i)].mtpOnly))
            continue;
        // Odd items in folders on a stick: ended by the person, the phone, the stick.
        if (list[size_t(i)].onStick) {
            if (!caseless) {
                for (const Fault fault : {Fault::stop, Fault::gone, Fault::saveDiskFull})
                    all.push_back({i, fault, SaveDisk::stick});
            }
            continue;
        }
        std::vector<Fault> faults;
        const bool clashes = !list[size_t(i)].leftOut.isEmpty();
        if (!caseless && clashes)
            faults = {Fault::stop, Fault::gone}; // and, to the phone, a full phone after the clashes
        else if (!caseless)
            faults = {Fault::stop, Fault::gone, Fault::frozen, Fault::answerLost, Fault::answerLostThenStop};
        if (!caseless && mtp && !list[size_t(i)].toPhone && list[size_t(i)].item == u"Album"_s && !clashes)
            faults.push_back(Fault::undescribed);
        if (list[size_t(i)].toPhone) {
            if (caseless) {
                faults.push_back(Fault::caseless);
            } else {
                if (!clashes)
                    faults.push_back(Fault::refusedRename);
                faults.push_back(Fault::storageFull);
            }
        }
        // The save folder's drive away mid-copy and back.
        if (!caseless && !list[size_t(i)].toPhone)
            faults.push_back(Fault::saveFolderAway);
        // A second process reaches the phone only through the adb server.
        if (!caseless && !mtp && !list[size_t(i)].notText)
            faults.push_back(Fault::secondProcess);
        const AnotherWriter writer = anotherWriter(list[size_t(i)]);
        if (!caseless) {
            if (!writer.makes.empty())
                faults.push_back(Fault::appears);
            if (!writer.removes.empty())
                faults.push_back(Fault::vanishes);
            if (!writer.appends.empty())
                faults.push_back(Fault::writtenInPlace);
        }
        if (mtp && !caseless) {
            if (list[size_t(i)].toPhone) {
                faults.push_back(Fault::deleteAnswerLost);
                faults.push_back(Fault::renameAnswerLost);
                if (!phoneWriter(list[size_t(i)], true).removes.empty())
                    faults.push_back(Fault::remadeAlike);
            }
            if (!phoneWriter(list[size_t(i)], false).removes.empty())
                faults.push_back(Fault::removedOnPhone);
        }
        for (const Fault fault : faults)
            all.push_back({i, fault});
        // Copies to the computer into a save folder on other disks.
        if (caseless || list[size_t(i)].toPhone || list[size_t(i)].notText)
            continue;
        for (const SaveDisk disk : {SaveDisk::noBirthTimes, SaveDisk::caseless, SaveDisk::caselessPerSpelling}) {
            std::vector<Fault> onDisk{Fault::stop};
            if (!writer.makes.empty())
                onDisk.push_back(Fault::appears);
            if (!writer.removes.empty())
                onDisk.push_back(Fault::vanishes);
            if (!writer.appends.empty())
                onDisk.push_back(Fault::writtenInPlace);
            for (const Fault fault : onDisk)
                all.push_back({i, fault, disk});
        }
        // A stick that fills in the middle of a folder.
        if (list[size_t(i)].item == u"Album"_s && !clashes)
            all.push_back({i, Fault::saveDiskFull, SaveDisk::stick});
    }
    return all;
}

[[maybe_unused]] std::vector<Case> allCases()
{
    std::vector<Case> all = cases(false, true);
    const std::vector<Case> caseless = cases(true, true);
    all.insert(all.end(), caseless.begin(), caseless.end());
    return all;
}

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    return std::string(shapes()[size_t(info.param.shape)].name) + diskName(info.param.disk) + "_"
           + faultName(info.param.fault);
}

#ifdef SWEEP_MTP
class CopySweepMtp : public ::testing::TestWithParam<Case> {};

TEST_P(CopySweepMtp, EveryStep)
{
    MtpPhoneSide phone;
    const std::vector<Shape> list = shapes();
    sweep(phone, list[size_t(GetParam().shape)], GetParam().fault, GetParam().disk);
}

INSTANTIATE_TEST_SUITE_P(Copies, CopySweepMtp, ::testing::ValuesIn(allCases()), caseName);
#endif

#ifdef SWEEP_ADB
// One pretend phone for a suite; its storage ignores letter case in the caseless one.
template<bool Caseless>
class AdbSweep : public ::testing::TestWithParam<Case> {
public:
    static void SetUpTestSuite()
    {
        FakePhoneHarness::Options options;
        options.caselessStorage = Caseless;
        if (Caseless && !(s_skip = FakePhoneHarness::caselessStorageUnavailable()).isEmpty())
            return;
        s_harness = std::make_unique<FakePhoneHarness>(options);
        if (!s_harness->start(&s_why))
            s_harness.reset();
    }
    static void TearDownTestSuite() { s_harness.reset(); }

protected:
    void sweepCase()
    {
        if (!s_skip.isEmpty())
            GTEST_SKIP() << "no storage that ignores letter case here: " << s_skip.toStdString();
        ASSERT_TRUE(s_harness) << "the fake phone did not start: " << s_why.toStdString();
        AdbPhoneSide phone(*s_harness);
        const std::vector<Shape> list = shapes();
        sweep(phone, list[size_t(GetParam().shape)], GetParam().fault, GetParam().disk);
    }

    static inline std::unique_ptr<FakePhoneHarness> s_harness;
    static inline QString s_why;
    static inline QString s_skip;
};

class CopySweepAdb : public AdbSweep<false> {};
class CopySweepAdbCaseless : public AdbSweep<true> {};

TEST_P(CopySweepAdb, EveryStep)
{
    sweepCase();
}

TEST_P(CopySweepAdbCaseless, EveryStep)
{
    sweepCase();
}

INSTANTIATE_TEST_SUITE_P(Copies, CopySweepAdb, ::testing::ValuesIn(cases(false)), caseName);
INSTANTIATE_TEST_SUITE_P(Copies, CopySweepAdbCaseless, ::testing::ValuesIn(cases(true)), caseName);
#endif

#if defined(SWEEP_ADB) && defined(SECOND_PROCESS_BINARY)
// ---- killed mid-Replace on a disk that can't exchange names, then started again -----------
// The application (a process of its own) copies with Replace onto such a
// disk and is killed, with all it started, before each change of a name it
// makes there in turn; then it starts again. Every file the person had is
// at its name, old or whole new, or the message names it and where it is
// hidden; nothing of ours stays; the last run, never held, copies it all.

struct KilledCase {
    const char* shape;
    const char* disk;
    FakePhoneHarness::Disk kind;
    // Another program writes a file where the copy's is missing before the start.
    bool nameTakenMeanwhile = false;
};

struct KilledRun {
    bool held = false; // false: the copy ended before the step came
    QStringList problems;
    QString message;
};

KilledRun killedAt(const Shape& shape, const FakePhoneHarness::Disk& kind, bool nameTakenMeanwhile, int step,
                   FakePhoneHarness& harness)
{
    KilledRun run;
    QTemporaryDir computer(computerFolderTemplate()), settingsFolder;
    const auto emptied = qScopeGuard([&] { clearFolder(computer.path()); });
    AdbPhoneSide phone(harness);
    phone.reset(shape.phone, false);
    writeTree(computer.path(), shape.computer);
    FakePhoneHarness::Disk disk = kind;
    disk.holdAt = step;
    QString why;
    const std::unique_ptr<FakePhoneHarness::DiskMount> mount = FakePhoneHarness::mountDisk(computer.path(), disk, &why);
    if (!mount) {
        run.problems << u"the disk couldn't be mounted: "_s + why;
        return run;
    }
    const auto keyed = [&](const Tree& tree) {
        Tree out;
        for (const auto& [path, bytes] : tree)
            out[kind.ignoresCase ? path.toCaseFolded() : path] = bytes;
        return out;
    };
    const Tree before = keyed(readTree(computer.path()));
    const Tree whole = overlaid(before, keyed(shape.computerAfter));
    const QString settingsFile = settingsFolder.filePath(u"settings.ini"_s);

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"SWEEP_OWNER"_s, u"model test"_s);
    env.insert(u"SWEEP_ANSWER"_s, u"0"_s); // Replace
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own: adb goes with it.
    app.setChildProcessModifier([] { ::setpgid(0, 0); });
    app.start(QStringLiteral(SECOND_PROCESS_BINARY),
              {settingsFile, u"/sdcard"_s, u"download"_s, shape.item, computer.filePath(u"saved"_s)});
    const auto deadline = Steady::now() + std::chrono::seconds(60);
    bool ended = false;
    while (!(run.held = mount->held(std::chrono::milliseconds(20))) && !(ended = app.waitForFinished(20))
           && Steady::now() < deadline) {
    }
    if (run.held) {
        ::kill(-pid_t(app.processId()), SIGKILL);
        mount->release();
    }
    if (!ended && !app.waitForFinished(10000)) {
        app.kill();
        app.waitForFinished(5000);
        run.problems << u"the application did not end"_s;
    }
    const QString output = QString::fromLocal8Bit(app.readAll()).trimmed();
    if (!run.held && !(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0))
        run.problems << u"the copy, never held, failed: "_s + output;

    Tree others;
    if (nameTakenMeanwhile) {
        const Tree now = keyed(readTree(computer.path()));
        for (const auto& [path, bytes] : whole) {
            if (bytes != folderMark && !now.count(path))
                others[path] = "another program's file";
        }
        writeTree(computer.path(), others);
    }

    // Started again on the same settings; its clean-up of the computer done.
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        const std::unique_ptr<BrowserModel> model =
            newModel(std::make_shared<FakeAdbSource>(), std::make_shared<FakeMtpSource>(), settings,
                     std::make_shared<ManualClock>(), std::make_shared<ScriptedDesktop>());
        const auto recordedHere = [&] {
            const std::vector<QString> recorded = browserpaths::workingnames::localPaths();
            return std::any_of(recorded.begin(), recorded.end(),
                               [&](const QString& path) { return path.startsWith(computer.path() + u'/'); });
        };
        if (!testsupport::waitUntil([&] { return !recordedHere(); }, std::chrono::seconds(10)))
            run.problems << u"a record of this copy stayed after the start"_s;
        testsupport::waitUntil([&] { return WorkerPool::shared().activeJobs() == 0; }, std::chrono::seconds(5));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        run.message = model->errorMessage().value_or(QString());
    }

    const Tree after = keyed(readTree(computer.path()));
    for (const auto& [path, bytes] : whole) {
        if (isWorkingName(path))
            continue;
        const auto now = after.find(path);
        const auto had = before.find(path);
        const QString name = u"“"_s + paths::shown(path.section(u'/', -1)) + u"”"_s;
        if (now == after.end() && had != before.end() && !run.message.contains(name, Qt::CaseInsensitive))
            run.problems << u"“"_s + path + u"” is gone from its name without a word"_s;
        else if (now != after.end() && now->second != bytes && (had == before.end() || now->second != had->second)
                 && !others.count(path))
            run.problems << u"“"_s + path + u"” is neither as it was nor whole new"_s;
    }
    for (const auto& [path, bytes] : after) {
        const QString hidden = u"“"_s + paths::shown(path.section(u'/', -1)) + u"”"_s;
        if (isWorkingName(path) && !(run.message.contains(hidden) && run.message.contains(computer.path())))
            run.problems << u"“"_s + path + u"” stays hidden without a word"_s;
        else if (isWorkingName(path)
                 && std::none_of(before.begin(), before.end(), [&](const auto& had) { return had.second == bytes; }))
            run.problems << u"“"_s + path + u"”, told of, isn't a file the person had"_s;
        if (!whole.count(path) && !isWorkingName(path))
            run.problems << u"“"_s + path + u"” came from nowhere"_s;
    }
    if (!run.held && (after != whole || !run.message.isEmpty()))
        run.problems << u"the copy, never held, isn't whole"_s;
    return run;
}

void PrintTo(const KilledCase& one, std::ostream* out)
{
    *out << one.shape << one.disk;
}

std::string killedCaseName(const ::testing::TestParamInfo<KilledCase>& one)
{
    return std::string(one.param.shape) + one.param.disk;
}

class CopySweepKilled : public ::testing::TestWithParam<KilledCase> {
public:
    static void SetUpTestSuite()
    {
        if (!(s_skip = FakePhoneHarness::caselessStorageUnavailable()).isEmpty())
            return;
        s_harness = std::make_unique<FakePhoneHarness>();
        if (!s_harness->start(&s_why))
            s_harness.reset();
    }
    static void TearDownTestSuite() { s_harness.reset(); }

protected:
    static inline std::unique_ptr<FakePhoneHarness> s_harness;
    static inline QString s_why;
    static inline QString s_skip;
};

TEST_P(CopySweepKilled, AtEveryStepThenStartedAgain)
{
    if (!s_skip.isEmpty())
        GTEST_SKIP() << "no FUSE stand-in for the disk here: " << s_skip.toStdString();
    ASSERT_TRUE(s_harness) << "the fake phone did not start: " << s_why.toStdString();
    const std::vector<Shape> list = shapes();
    const auto shape = std::find_if(list.begin(), list.end(),
                                    [&](const Shape& one) { return std::string(one.name) == GetParam().shape; });
    ASSERT_NE(shape, list.end());
    for (int step = 1; step <= 80; ++step) {
        const KilledRun run = killedAt(*shape, GetParam().kind, GetParam().nameTakenMeanwhile, step, *s_harness);
        QString text = u"SWEEP "_s + (run.problems.isEmpty() ? u"ok   "_s : u"FAIL "_s) + u"adb "_s
                       + QLatin1StringView(GetParam().shape) + QLatin1StringView(GetParam().disk)
                       + (run.held ? u" killed before change "_s + QString::number(step) : u" never held"_s);
        if (!run.message.isEmpty())
            text += u" | message: “"_s + run.message + u"”"_s;
        if (!run.problems.isEmpty())
            ADD_FAILURE() << (text + u" | "_s + run.problems.join(u"; "_s)).toStdString();
        else
            std::cout << text.toStdString() << std::endl;
        if (!run.held)
            return;
    }
    ADD_FAILURE() << "the copy still went on after 80 changes";
}

INSTANTIATE_TEST_SUITE_P(
    Copies, CopySweepKilled,
    ::testing::Values(KilledCase{"ReplaceOnComputer", "OnVfat", {true, u"noreplace"_s, false}},
                      KilledCase{"ReplaceOnComputer", "OnNetworkMount", {false, u"plain"_s, true}},
                      KilledCase{"ReplaceOnComputer", "OnVfatItsNameTakenBeforeTheStart", {true, u"noreplace"_s, false}, true},
                      KilledCase{"MergeFolderToComputer", "OnVfat", {true, u"noreplace"_s, false}},
                      KilledCase{"MergeFolderToComputer", "OnExfatFuse", {true, u"plain"_s, false, true}}),
    killedCaseName);
#endif

} // namespace
