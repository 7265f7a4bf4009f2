#include "BrowserPaths.h"

#include "Error.h"
#include "Paths.h"
#include "TempFolder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <mutex>

#include <sys/stat.h>

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

QString temporaryName(const QString& name, bool ownToThisCopy)
{
    const QString prefix = QStringLiteral(".");
    QString suffix = QStringLiteral(".vantelorquist-copy");
    if (ownToThisCopy)
        suffix.prepend(QLatin1Char('.') + QUuid::createUuid().toString(QUuid::Id128).left(12));
    return prefix + cutToBytes(name, nameLimit - nameBytes(prefix + suffix)) + suffix;
}

bool isWorkingName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\..*\\.[0-9a-f]{12}\\.vantelorquist-copy$"),
                                            QRegularExpression::DotMatchesEverythingOption);
    // A regular expression matches only valid UTF-16; a byte that isn't text stays one character.
    return pattern.match(paths::shown(name)).hasMatch();
}

namespace workingnames {
namespace {

struct Registry {
    std::mutex mutex;
    QHash<QString, int> held; // a name may be held twice while its copy hands it on
    QSet<QString> keptNames;
    std::vector<Kept> kept;        // oldest first
    std::vector<Recorded> left;    // oldest first
    uint64_t changes = 0;
};

thread_local QString recordingFor;

Registry& registry()
{
    static Registry shared;
    return shared;
}

QString folderOf(const QString& path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')));
}

// A full phone path naming one item: no empty, "." or ".." step.
bool isFullPath(const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return false;
    const QStringList steps = path.mid(1).split(QLatin1Char('/'));
    return std::none_of(steps.begin(), steps.end(), [](const QString& step) {
        return step.isEmpty() || step == QLatin1StringView(".") || step == QLatin1StringView("..");
    });
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
    if (std::any_of(r.left.begin(), r.left.end(),
                    [&](const Recorded& had) { return had.phone == phone && had.item.path == item.path; }))
        return;
    r.left.push_back({phone, item});
    ++r.changes;
}

} // namespace

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

void keep(const QString& path, const QString& phone)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    keepLocked(r, path, phone);
}

bool isStale(const QString& name)
{
    if (!isWorkingName(name))
        return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return !r.held.contains(name) && !r.keptNames.contains(name);
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

std::vector<Leftover> takeLeft(const QString& phone)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<Leftover> taken;
    std::erase_if(r.left, [&](const Recorded& one) {
        if (one.phone != phone)
            return false;
        taken.push_back(one.item);
        return true;
    });
    if (!taken.empty())
        ++r.changes;
    return taken;
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

bool hasLeft(const QString& phone)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return std::any_of(r.left.begin(), r.left.end(), [&](const Recorded& one) { return one.phone == phone; });
}

Records records()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Records all{{}, r.left};
    std::copy_if(r.kept.begin(), r.kept.end(), std::back_inserter(all.kept),
                 [](const Kept& one) { return !one.phone.isEmpty(); });
    return all;
}

void restore(const Records& records)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (const Kept& one : records.kept)
        keepLocked(r, one.path, one.phone);
    for (const Recorded& one : records.left)
        leaveLocked(r, one.phone, one.item);
}

uint64_t changes()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.changes;
}

bool isSound(const Leftover& item)
{
    if (!isFullPath(item.path) || !isWorkingName(lastName(item.path)))
        return false;
    if (item.replacing.isEmpty())
        return true;
    const QString name = lastName(item.replacing);
    // "." and the item's name, cut to fit, before the copy's own ".<12 hex>.vantelorquist-copy".
    const qsizetype ending = 13 + QLatin1StringView(".vantelorquist-copy").size();
    return isFullPath(item.replacing) && !isWorkingName(name) && folderOf(item.replacing) == folderOf(item.path)
           && lastName(item.path).chopped(ending) == temporaryName(name, true).chopped(ending);
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

void RecordingLeftovers::keep(const QString& path)
{
    workingnames::keep(path, recordingFor);
}

} // namespace workingnames

} // namespace browserpaths
