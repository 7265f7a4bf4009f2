#include "BrowserPaths.h"

#include "Error.h"
#include "MTPPaths.h"
#include "Paths.h"
#include "TempFolder.h"
#include "WorkingNames.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>
#include <QUuid>

#include <algorithm>
#include <mutex>

#include <cerrno>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace browserpaths {

QString lastName(const QString& path)
{
    return path.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

std::optional<QString> refusal(const QString& name, const QString& verb)
{
    if (name.isEmpty())
        return QStringLiteral("An item without a name can't be ") + verb + QStringLiteral(".");
    if (name == QLatin1StringView(".") || name == QLatin1StringView("..") || name.contains(QLatin1Char('/'))
        || name.contains(QChar(0))) {
        QString shown = paths::shown(name);
        shown.replace(QChar(0), QChar(QChar::ReplacementCharacter));
        return QStringLiteral("“") + shown + QStringLiteral("” can't be ") + verb
               + QStringLiteral(": it isn't a usable file name.");
    }
    return std::nullopt;
}

QString newPrivateFolder()
{
    // A fresh name per call, so nothing there can be in the way.
    const QString folder = TempFolder::path() + QLatin1Char('/')
                           + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (!QDir().mkpath(folder))
        throw SystemError(QStringLiteral("Couldn't create the folder ") + folder + QStringLiteral("."));
    return folder;
}

QString stagedPath(const QString& folder, const QString& name)
{
    const QString shown = paths::shown(name);
    return paths::joined(shown == name ? folder : newPrivateFolder(), shown);
}

bool existsLocally(const QString& path)
{
    struct stat st {};
    return ::lstat(paths::bytes(path).constData(), &st) == 0;
}

qsizetype nameBytes(const QString& name)
{
    return paths::bytes(name).size();
}

QString cutToBytes(const QString& name, qsizetype limit)
{
    QString cut = name;
    while (!cut.isEmpty() && nameBytes(cut) > limit) {
        const bool pair = cut.size() >= 2 && cut.back().isLowSurrogate() && cut.at(cut.size() - 2).isHighSurrogate();
        cut.chop(pair ? 2 : 1);
    }
    return cut;
}

QString nameFromPhone(const QString& text, const QString& ending, const QString& fallback)
{
    QString name;
    name.reserve(text.size());
    for (const QChar c : text) {
        const bool control = c.category() == QChar::Other_Control || c == QChar::LineSeparator
                             || c == QChar::ParagraphSeparator
                             // Direction overrides could show the ending as another one.
                             || (c.unicode() >= 0x202A && c.unicode() <= 0x202E)
                             || (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);
        name.append(c == QLatin1Char('/') || control ? QLatin1Char('-') : c);
    }
    qsizetype start = 0;
    while (start < name.size() && (name.at(start) == QLatin1Char('.') || name.at(start).isSpace()))
        ++start;
    name = name.mid(start).trimmed();
    if (name.isEmpty())
        name = fallback;
    return cutToBytes(name, nameLimit - nameBytes(ending)).trimmed() + ending;
}

QString nameKey(const QString& name)
{
    return name.normalized(QString::NormalizationForm_C).toCaseFolded();
}

namespace {

const QString& workingEnding = workingnameform::ending();

// The item's name cut so that, between `prefix` and `suffix`, the whole
// fits every transport.
QString fitted(const QString& name, const QString& prefix, const QString& suffix)
{
    QString cut = cutToBytes(name, nameLimit - nameBytes(prefix + suffix));
    const qsizetype room = nameUnits - prefix.size() - suffix.size();
    while (cut.size() > room) {
        const bool pair = cut.size() >= 2 && cut.back().isLowSurrogate() && cut.at(cut.size() - 2).isHighSurrogate();
        cut.chop(pair ? 2 : 1);
    }
    return cut;
}

QString copyId()
{
    return QUuid::createUuid().toString(QUuid::Id128).left(12);
}

} // namespace

QString temporaryName(const QString& name, bool ownToThisCopy)
{
    if (!ownToThisCopy)
        return workingnameform::fixed(fitted(name, QStringLiteral("."), workingEnding));
    return temporaryName(name, workingnames::ownerMark());
}

QString temporaryName(const QString& name, const QString& mark)
{
    const QString id = copyId();
    // The marks' share of the name, whatever the item's.
    const QString marks = workingnameform::make({}, mark, id).mid(1);
    return workingnameform::make(fitted(name, QStringLiteral("."), marks), mark, id);
}

bool isWorkingName(const QString& name)
{
    // A regular expression matches only valid UTF-16; a byte that isn't text stays one character.
    return workingnameform::parse(paths::shown(name)).has_value();
}

namespace workingnames {
namespace {

struct Entry {
    Recorded record;
    bool underWay = false; // a removal pass acts on it now
};

struct Registry {
    std::mutex mutex;
    QHash<QString, int> held; // a name may be held twice while its copy hands it on
    QSet<QString> keptNames;
    std::vector<Kept> kept;    // oldest first
    std::vector<Entry> left;   // oldest first
    std::vector<LocalRecord> local; // oldest first
    // Records of other makers this process took back and has since dropped
    // ("phone\npath"; the computer's with an empty phone): a write leaves
    // them out even where the settings still hold them.
    QSet<QString> droppedOthers;
    uint64_t changes = 0;
};

QString recordKey(const QString& phone, const QString& path)
{
    return phone + QLatin1Char('\n') + path;
}

void noteDropped(Registry& r, const QString& phone, const QString& path, const ProcessIdentity& maker)
{
    if (!(maker == ProcessIdentity::self()))
        r.droppedOthers.insert(recordKey(phone, path));
}

thread_local QString recordingFor;

Registry& registry()
{
    static Registry shared;
    return shared;
}

// Writes records() through the hook, one write at a time, each of the
// records as they are when it starts.
struct Store {
    std::mutex mutex;
    std::function<void(const Records&)> write;
    uint64_t token = 0;
};

Store& storage()
{
    static Store shared;
    return shared;
}

QString folderOf(const QString& path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')));
}

// A full path naming one item: no empty, "." or ".." step.
bool isFullPath(const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return false;
    const QStringList steps = path.mid(1).split(QLatin1Char('/'));
    return std::none_of(steps.begin(), steps.end(), [](const QString& step) {
        return step.isEmpty() || step == QLatin1StringView(".") || step == QLatin1StringView("..");
    });
}

// Ours to act on: recorded, no copy of this process uses it, and its maker
// is gone (or is this process).
bool actsOn(const Registry& r, const Recorded& one)
{
    const QString name = lastName(one.item.path);
    return !r.held.contains(name) && makerGone(one.maker, name);
}

void keepLocked(Registry& r, const QString& path, const QString& phone)
{
    const QString name = lastName(path);
    if (r.keptNames.contains(name))
        return;
    r.keptNames.insert(name);
    r.kept.push_back({phone, path});
    ++r.changes;
}

void leaveLocked(Registry& r, const QString& phone, const Leftover& item)
{
    if (phone.isEmpty() || !isWorkingName(lastName(item.path)))
        return;
    for (Entry& had : r.left) {
        if (had.record.phone == phone && had.record.item.path == item.path) {
            // Recorded when it was made; now what it was to replace is known.
            if (!item.replacing.isEmpty() && had.record.item.replacing != item.replacing) {
                had.record.item.replacing = item.replacing;
                ++r.changes;
            }
            return;
        }
    }
    r.left.push_back({{phone, item, thisMaker()}});
    ++r.changes;
}

void restoreLocked(Registry& r, const Recorded& one)
{
    if (one.phone.isEmpty() || !isWorkingName(lastName(one.item.path)))
        return;
    const bool had = std::any_of(r.left.begin(), r.left.end(), [&](const Entry& entry) {
        return entry.record.phone == one.phone && entry.record.item.path == one.item.path;
    });
    if (!had)
        r.left.push_back({one});
}

} // namespace

QString markFor(const QString& owner)
{
    QByteArray machine = QSysInfo::machineUniqueId();
    if (machine.isEmpty())
        machine = QSysInfo::machineHostName().toUtf8();
    const QByteArray text = machine + '\n' + QByteArray::number(::getuid()) + '\n' + owner.toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex().left(8));
}

namespace {
std::mutex ownerMutex;
QString currentMark;
} // namespace

void setOwner(const QString& owner)
{
    const QString mark = markFor(owner);
    const std::lock_guard lock(ownerMutex);
    currentMark = mark;
}

QString ownerMark()
{
    {
        const std::lock_guard lock(ownerMutex);
        if (!currentMark.isEmpty())
            return currentMark;
    }
    // No settings named yet: this computer and person only.
    setOwner({});
    return ownerMark();
}

QString ownerOf(const QString& name)
{
    const std::optional<workingnameform::Parts> parts = workingnameform::parse(paths::shown(name));
    return parts ? parts->owner : QString();
}

bool isOurs(const QString& name)
{
    const QString mark = ownerOf(name);
    return !mark.isEmpty() && mark == ownerMark();
}

void hold(const QString& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    ++r.held[name];
}

void release(const QString& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.held.find(name);
    if (found != r.held.end() && --*found <= 0)
        r.held.erase(found);
}

bool isHeld(const QString& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.held.contains(name);
}

void keep(const QString& path, const QString& phone)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    keepLocked(r, path, phone);
}

bool isStale(const QString& path)
{
    const QString name = lastName(path);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.keptNames.contains(name))
        return false;
    return std::any_of(r.left.begin(), r.left.end(), [&](const Entry& one) {
        return one.record.item.path == path && !one.underWay && actsOn(r, one.record);
    });
}

ProcessIdentity thisMaker()
{
    return ProcessIdentity::self();
}

bool makerGone(const ProcessIdentity& maker, const QString& name)
{
    if (maker.isEmpty()) {
        // An earlier version's record: its old proof, our mark or none.
        const QString mark = ownerOf(name);
        return mark.isEmpty() || mark == ownerMark();
    }
    return maker == thisMaker() || maker.life() == ProcessIdentity::Life::gone;
}

bool isHidden(const QString& name)
{
    if (!isWorkingName(name))
        return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return !r.keptNames.contains(name);
}

void leave(const QString& phone, const Leftover& item)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    leaveLocked(r, phone, item);
}

void forget(const QString& phone, const QString& path)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (std::erase_if(r.left, [&](const Entry& one) {
            if (one.record.phone != phone || one.record.item.path != path)
                return false;
            noteDropped(r, phone, path, one.record.maker);
            return true;
        }))
        ++r.changes;
}

std::vector<Leftover> takeLeft(const QString& phone)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<Leftover> taken;
    std::erase_if(r.left, [&](const Entry& one) {
        if (one.record.phone != phone)
            return false;
        taken.push_back(one.record.item);
        noteDropped(r, phone, one.record.item.path, one.record.maker);
        return true;
    });
    if (!taken.empty())
        ++r.changes;
    return taken;
}

bool hasLeft(const QString& phone)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return std::any_of(r.left.begin(), r.left.end(), [&](const Entry& one) {
        return one.record.phone == phone && !one.underWay && actsOn(r, one.record);
    });
}

std::vector<Leftover> beginRemoval(const QString& phone)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<Leftover> taken;
    for (Entry& one : r.left) {
        if (one.record.phone == phone && !one.underWay && actsOn(r, one.record)) {
            one.underWay = true;
            taken.push_back(one.record.item);
        }
    }
    return taken;
}

void endRemoval(const QString& phone, const std::vector<Leftover>& still)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto stays = [&](const Entry& one) {
        return std::any_of(still.begin(), still.end(),
                           [&](const Leftover& item) { return item.path == one.record.item.path; });
    };
    // Forgotten meanwhile (its copy removed it) is gone already.
    const size_t before = r.left.size();
    std::erase_if(r.left, [&](Entry& one) {
        if (one.record.phone != phone || !one.underWay)
            return false;
        one.underWay = false;
        if (stays(one))
            return false;
        noteDropped(r, phone, one.record.item.path, one.record.maker);
        return true;
    });
    if (r.left.size() != before)
        ++r.changes;
}

void unkeep(const QString& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.keptNames.remove(name))
        return;
    std::erase_if(r.kept, [&](const Kept& one) { return lastName(one.path) == name; });
    ++r.changes;
}

void recordLocal(const QString& path)
{
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        if (std::none_of(r.local.begin(), r.local.end(), [&](const LocalRecord& one) { return one.path == path; })) {
            r.local.push_back({path, thisMaker()});
            ++r.changes;
        }
    }
    store();
}

void forgetLocal(const QString& path)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (std::erase_if(r.local, [&](const LocalRecord& one) {
            if (one.path != path)
                return false;
            noteDropped(r, {}, path, one.maker);
            return true;
        }))
        ++r.changes;
}

bool goneLocally(const QString& path)
{
    struct stat st {};
    if (::lstat(paths::bytes(path).constData(), &st) == 0 || errno != ENOENT)
        return false;
    return ::stat(paths::bytes(parentOf(path)).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

void recordGiveBack(const QString& path, const QString& name, const std::optional<fileplaces::Identity>& ours)
{
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        std::erase_if(r.local, [&](const LocalRecord& one) { return one.path == path; });
        r.local.push_back({path, thisMaker(), GiveBack{name, ours}});
        ++r.changes;
    }
    store();
}

bool forgetLocalIfGone(const QString& path)
{
    if (!goneLocally(path))
        return false;
    forgetLocal(path);
    return true;
}

std::vector<QString> localPaths()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<QString> paths;
    for (const LocalRecord& one : r.local)
        paths.push_back(one.path);
    return paths;
}

Records withOthers(const Records& ours, const Records& stored)
{
    QSet<QString> dropped;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        dropped = r.droppedOthers;
    }
    const auto others = [&](const QString& phone, const QString& path, const ProcessIdentity& maker) {
        return !maker.isEmpty() && !(maker == thisMaker()) && !dropped.contains(recordKey(phone, path));
    };
    Records all = ours;
    for (const Recorded& one : stored.left) {
        const bool had = std::any_of(all.left.begin(), all.left.end(), [&](const Recorded& mine) {
            return mine.phone == one.phone && mine.item.path == one.item.path;
        });
        if (!had && others(one.phone, one.item.path, one.maker))
            all.left.push_back(one);
    }
    for (const LocalRecord& one : stored.local) {
        const bool had = std::any_of(all.local.begin(), all.local.end(),
                                     [&](const LocalRecord& mine) { return mine.path == one.path; });
        if (!had && others({}, one.path, one.maker))
            all.local.push_back(one);
    }
    return all;
}

Records records()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Records all;
    std::copy_if(r.kept.begin(), r.kept.end(), std::back_inserter(all.kept),
                 [](const Kept& one) { return !one.phone.isEmpty(); });
    for (const Entry& one : r.left)
        all.left.push_back(one.record);
    all.local = r.local;
    return all;
}

void restore(const Records& records)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (const Kept& one : records.kept)
        keepLocked(r, one.path, one.phone);
    for (const Recorded& one : records.left)
        restoreLocked(r, one);
    for (const LocalRecord& one : records.local) {
        if (std::none_of(r.local.begin(), r.local.end(), [&](const LocalRecord& had) { return had.path == one.path; }))
            r.local.push_back(one);
    }
}

uint64_t changes()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.changes;
}

bool isSound(const Leftover& item)
{
    const QString working = lastName(item.path);
    if (!isFullPath(item.path) || !isWorkingName(working))
        return false;
    if (item.replacing.isEmpty())
        return true;
    const QString name = lastName(item.replacing);
    // The name it was made from, cut to fit beside the mark the working name has.
    // Matched as shown, which keeps every unit where it is: the base is read from the name itself.
    const std::optional<workingnameform::Parts> parts = workingnameform::parse(paths::shown(working));
    const QString base = working.mid(1, parts ? parts->item.size() : 0);
    const QString suffix = working.mid(1 + base.size());
    return isFullPath(item.replacing) && !isWorkingName(name) && folderOf(item.replacing) == folderOf(item.path)
           && base == fitted(name, QStringLiteral("."), suffix);
}

bool isSoundLocal(const QString& path)
{
    return isFullPath(path) && !ownerOf(lastName(path)).isEmpty();
}

bool isSoundGiveBack(const QString& path, const QString& name)
{
    return isSoundLocal(path) && isSound({path, name});
}

uint64_t setStore(std::function<void(const Records&)> write)
{
    Store& s = storage();
    const std::lock_guard lock(s.mutex);
    s.write = std::move(write);
    return ++s.token;
}

void endStore(uint64_t token)
{
    Store& s = storage();
    const std::lock_guard lock(s.mutex);
    if (s.token == token)
        s.write = nullptr;
}

void store()
{
    Store& s = storage();
    const std::lock_guard lock(s.mutex);
    if (s.write)
        s.write(records());
}

namespace {

// Whether the working item at `path` is gone: nothing there, or a file or
// folder removed. Anything else there (a link, a device) is not ours to touch.
bool removedLocally(const QString& path)
{
    // The partial file the USB transport writes beside the item it copies
    // (named after our working name, so no one else's) goes with it: after
    // its folder was away, nothing removed it.
    const QString partial = mtppaths::temporaryPath(path);
    if (paths::kindOf(partial) == paths::Kind::file && !paths::removeLocalTree(partial))
        return false;
    switch (paths::kindOf(path)) {
    case paths::Kind::nothing:
        return goneLocally(path);
    case paths::Kind::file:
    case paths::Kind::folder:
        return paths::removeLocalTree(path);
    case paths::Kind::link:
    case paths::Kind::other:
        break;
    }
    return false;
}

struct GivenBack {
    bool settled = false; // no longer to be given back
    std::optional<QString> sentence;
};

// Where the person's file is, and why it stays there.
GivenBack toldWhere(const QString& path, const QString& name, const QString& why, bool settled)
{
    return {settled, QStringLiteral("“") + paths::shown(lastName(name))
                         + QStringLiteral("”, set aside by a copy that was cut short, couldn't go back to its name: ")
                         + why + QStringLiteral(" It is in ") + paths::shown(parentOf(path))
                         + QStringLiteral(" as the hidden item “") + paths::shown(lastName(path)) + QStringLiteral("”.")};
}

// Gives the person's file at `path` back its name: while the name is free,
// or in place of the new copy the record names, as it was; anything else
// there keeps the name, and the file stays where it is, told of. Never
// removes the person's file, nor anything not provably ours.
GivenBack giveBackLocally(const QString& path, const GiveBack& record)
{
    using fileplaces::Placed;
    switch (paths::kindOf(path)) {
    case paths::Kind::nothing:
        // Gone with the copy that made it (replaced, as asked), or never moved there.
        return {goneLocally(path), std::nullopt};
    case paths::Kind::folder:
        // Never ours to move: left as it is.
        return toldWhere(path, record.name, QStringLiteral("it is a folder now."), true);
    default:
        break;
    }
    const QByteArray from = paths::bytes(path);
    const QByteArray to = paths::bytes(record.name);
    // Our new copy itself, as recorded (a giving back cut short left it
    // there): ours to remove.
    if (const std::optional<fileplaces::Identity> there = fileplaces::identityOf(from);
        there && record.ours && !there->folder && *there == *record.ours)
        return {::unlink(from.constData()) == 0 || errno == ENOENT, std::nullopt};
    fileplaces::Placing placing = fileplaces::takeFreeName(from, to);
    if (placing.result == Placed::taken && record.ours) {
        // Our new copy, unchanged, goes to a working name of ours while the
        // file comes back: recorded as this is, so that after a kill
        // meanwhile it goes if it is our copy, and else comes back.
        std::optional<HeldWorkingName> ours;
        QString oursPath;
        try {
            placing = fileplaces::replaceFile(from, to, *record.ours, [&] {
                ours.emplace(temporaryName(lastName(record.name), true));
                oursPath = paths::joined(parentOf(record.name), ours->name());
                recordGiveBack(oursPath, record.name, record.ours);
                return paths::bytes(oursPath);
            });
        } catch (...) {
            placing = {Placed::failed, EIO, {}};
        }
        if (placing.result == Placed::done && !placing.replaced.isEmpty())
            ::unlink(placing.replaced.constData());
        if (placing.result == Placed::stranded) {
            // What had the name, and another item took meanwhile: whoever's
            // it is, it stays, and is told of.
            forgetLocal(oursPath);
            GivenBack told = toldWhere(path, record.name, QStringLiteral("another item took that name meanwhile."), true);
            *told.sentence += QStringLiteral(" What had that name is in ") + paths::shown(parentOf(oursPath))
                              + QStringLiteral(" as the hidden item “") + paths::shown(lastName(oursPath))
                              + QStringLiteral("”.");
            return told;
        }
        if (!oursPath.isEmpty())
            forgetLocalIfGone(oursPath);
    }
    switch (placing.result) {
    case Placed::done: return {true, std::nullopt};
    case Placed::taken:
    case Placed::stranded: return toldWhere(path, record.name, QStringLiteral("another item has that name now."), true);
    case Placed::folderThere: return toldWhere(path, record.name, QStringLiteral("a folder has that name now."), true);
    case Placed::failed: break;
    }
    // Tried again at the next start.
    return toldWhere(path, record.name,
                     QString::fromLocal8Bit(std::strerror(placing.error)) + QLatin1Char('.'), false);
}

} // namespace

std::vector<LocalRecord> localLeft()
{
    std::vector<LocalRecord> left;
    for (const LocalRecord& one : records().local) {
        if (!isHeld(lastName(one.path)) && makerGone(one.maker, lastName(one.path)))
            left.push_back(one);
    }
    return left;
}

QStringList removeLocalLeftovers(const std::vector<LocalRecord>& recorded)
{
    bool changed = false;
    QStringList told;
    for (const auto& [path, maker, giveBack] : recorded) {
        // A name a copy of this process uses now is no leftover, nor one a
        // process that may still run made.
        if (isHeld(lastName(path)) || !makerGone(maker, lastName(path)))
            continue;
        if (giveBack) {
            if (!isSoundGiveBack(path, giveBack->name)) {
                forgetLocal(path);
                changed = true;
                continue;
            }
            const GivenBack given = giveBackLocally(path, *giveBack);
            if (given.sentence)
                told.append(*given.sentence);
            if (given.settled) {
                forgetLocal(path);
                changed = true;
            }
            continue;
        }
        if (!isSoundLocal(path) || removedLocally(path)) {
            forgetLocal(path);
            changed = true;
        }
    }
    if (changed)
        store();
    return told;
}

RecordingLeftovers::RecordingLeftovers(const QString& phone) : m_previous(recordingFor)
{
    recordingFor = phone;
}

RecordingLeftovers::~RecordingLeftovers()
{
    recordingFor = m_previous;
}

void RecordingLeftovers::record(const QString& path, const QString& replacing)
{
    leave(recordingFor, {path, replacing});
}

void RecordingLeftovers::recordMaking(const QString& path)
{
    if (recordingFor.isEmpty())
        return;
    leave(recordingFor, {path, {}});
    store();
}

void RecordingLeftovers::forget(const QString& path)
{
    workingnames::forget(recordingFor, path);
}

void RecordingLeftovers::keep(const QString& path)
{
    workingnames::keep(path, recordingFor);
    store();
}

} // namespace workingnames

} // namespace browserpaths
