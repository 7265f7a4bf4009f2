// The phone's objects seen through paths: listing, the path-to-handle cache,
// and the PhoneFiles operations that need no file contents.
#include "MTPConnection.h"

#include "MTPCodes.h"
#include "MTPDatasets.h"
#include "MTPPaths.h"
#include "MTPReader.h"
#include "Paths.h"
#include "MTPWriter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

using namespace mtp;

namespace {

const QString doThat = QStringLiteral("do that");

// The properties a listing asks for, names first so that the phone's order
// of the names is the order of the result.
constexpr std::array<uint16_t, 6> listedProperties = {ObjectProperty::objectFileName, ObjectProperty::objectFormat,
                                                      ObjectProperty::storageID,      ObjectProperty::parentObject,
                                                      ObjectProperty::objectSize,     ObjectProperty::dateModified};

template <class T>
const T* valueOf(const std::optional<MTPValue>& value)
{
    return value ? std::get_if<T>(&*value) : nullptr;
}

bool isGone(const MTPError& error)
{
    return error.kind() == MTPError::Kind::gone;
}

// A failure that says nothing about the phone's property lists: a handle gone
// stale, a busy phone, a USB hiccup, one folder too big to list that way.
bool passingTrouble(const MTPError& error)
{
    const QString& text = error.text();
    return error.kind() == MTPError::Kind::stale
           || (error.kind() == MTPError::Kind::failed
               && (text.startsWith(QLatin1StringView("USB error"))
                   || text == MTPError::response(Response::deviceBusy, QString()).text()
                   || text == QLatin1StringView("The phone sent a reply too large to read.")));
}

// A handle that can stand for a child of `parent`: a real object other than the parent.
bool isChildHandle(uint32_t handle, uint32_t parent)
{
    return isObjectHandle(handle) && handle != parent;
}

// Whether any item is alike to the name, exact or ignoring case and form.
bool anyAlike(const std::vector<MTPObject>& objects, const QString& name)
{
    return std::any_of(objects.begin(), objects.end(),
                       [&](const MTPObject& o) { return mtppaths::sameNameIgnoringCase(o.name, name); });
}

// An object as list() gives it: what the answer to replace covers is compared
// in this form, its handle included.
RemoteEntry listedEntry(const MTPObject& object)
{
    return {mtppaths::listedName(object.name), object.isDirectory, object.size, object.modified, object.handle};
}

uint32_t topLevelAsZero(uint32_t parent)
{
    return parent == rootHandle ? 0 : parent;
}

} // namespace

QStringList MTPConnection::parts(const QString& path)
{
    QStringView rest(path);
    if (rest.startsWith(QLatin1StringView("/sdcard")))
        rest = rest.sliced(7);
    QStringList components;
    for (const QStringView component : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        components.append(component.toString());
    return components;
}

void MTPConnection::checkCancel() const
{
    if (cancelRequested())
        throw Cancelled();
}

uint32_t MTPConnection::requireStorage()
{
    if (!m_storageID)
        findStorage();
    if (!m_storageID)
        throw MTPError::locked();
    return *m_storageID;
}

// ---- listing -----------------------------------------------------------------------

std::vector<MTPObject> MTPConnection::propertyList(uint32_t parent, uint32_t storage, int* undescribed)
{
    struct Properties {
        uint32_t handle;
        std::array<std::optional<MTPValue>, listedProperties.size()> values;
    };
    std::vector<Properties> found;
    QHash<uint32_t, size_t> index;
    // Handle, property code, datatype and the smallest value: nine bytes at least.
    constexpr qsizetype smallestElement = 9;

    for (size_t p = 0; p < listedProperties.size(); ++p) {
        checkCancel();
        MTPReader reader(fetch(Operation::getObjectPropList,
                               {parent == rootHandle ? 0 : parent, 0, listedProperties[p], 0, 1}, doThat));
        const uint32_t count = reader.count(smallestElement);
        if (p == 0) {
            // The count is the phone's word; room for it is made as items come.
            const uint32_t room = std::min<uint32_t>(count, 1u << 16);
            found.reserve(room);
            index.reserve(qsizetype(room));
        }
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t handle = reader.u32();
            const uint16_t code = reader.u16();
            const uint16_t type = reader.u16();
            std::optional<MTPValue> value = reader.value(type);
            auto at = index.constFind(handle);
            if (at == index.constEnd()) {
                at = index.insert(handle, found.size());
                found.push_back({handle, {}});
            }
            // A value is kept under its own code; codes nobody asked for are not used.
            const auto slot = std::find(listedProperties.begin(), listedProperties.end(), code);
            if (value && slot != listedProperties.end())
                found[*at].values[size_t(slot - listedProperties.begin())] = std::move(value);
        }
    }

    std::vector<MTPObject> objects;
    objects.reserve(found.size());
    for (const Properties& item : found) {
        const auto& [name, format, storageOf, parentOf, size, modified] = item.values;
        // Only a child of the folder asked about counts. Anything else means
        // the phone answered another question (some ignore the depth and
        // describe the folder itself): its property lists are not used again.
        const uint32_t* up = valueOf<uint32_t>(parentOf);
        const bool child = isChildHandle(item.handle, parent) && up
                           && (parent == rootHandle ? *up == 0 || *up == rootHandle : *up == parent);
        if (!child) {
            m_listsByProperties = false;
            MTPReader::unexpected();
        }
        // Storages share the root's handle 0: the others' top levels are left out.
        if (const uint32_t* s = valueOf<uint32_t>(storageOf); s && *s != storage)
            continue;
        const QString* text = valueOf<QString>(name);
        if (!text) {
            if (undescribed)
                ++*undescribed;
            continue;
        }
        const uint16_t* f = valueOf<uint16_t>(format);
        const uint64_t* bytes = valueOf<uint64_t>(size);
        const QString* date = valueOf<QString>(modified);
        objects.push_back({item.handle, *text, f && *f == Format::association,
                           bytes ? static_cast<int64_t>(std::min<uint64_t>(*bytes, INT64_MAX)) : 0,
                           MTPObject::date(date ? *date : QString())});
    }
    return objects;
}

MTPObject MTPConnection::objectInfo(uint32_t handle)
{
    const ObjectInfo info = readObjectInfo(fetch(Operation::getObjectInfo, {handle}, doThat));
    int64_t size = info.size;
    if (info.size == 0xFFFFFFFF) {
        // The dataset's field is too small; the property list may know the real size.
        try {
            MTPReader reader(fetch(Operation::getObjectPropList, {handle, 0, ObjectProperty::objectSize, 0, 0}, doThat));
            if (reader.u32() == 1) {
                reader.skip(6);
                if (reader.u16() == DataType::uint64)
                    size = static_cast<int64_t>(std::min<uint64_t>(reader.u64(), INT64_MAX));
            }
        } catch (const MTPError& error) {
            if (isGone(error))
                throw;
        }
    }
    return {handle, info.name, info.isDirectory(), size, info.modified};
}

std::vector<MTPObject> MTPConnection::children(uint32_t parent, uint32_t storage, int* undescribed)
{
    if (m_listsByProperties && m_operations.contains(Operation::getObjectPropList)) {
        try {
            int nameless = 0;
            std::vector<MTPObject> objects = propertyList(parent, storage, &nameless);
            if (undescribed)
                *undescribed += nameless;
            return objects;
        } catch (const MTPError& error) {
            if (isGone(error))
                throw;
            // Any other trouble with the property list: ask object by object,
            // from now on unless the trouble had nothing to do with property lists.
            if (!passingTrouble(error))
                m_listsByProperties = false;
        }
    }

    MTPReader reader(fetch(Operation::getObjectHandles, {storage, 0, parent}, QStringLiteral("list this folder")));
    const std::vector<uint32_t> handles = reader.u32Array();
    std::vector<MTPObject> objects;
    objects.reserve(handles.size());
    for (const uint32_t handle : handles) {
        checkCancel();
        if (!isChildHandle(handle, parent))
            continue; // some phones list the folder among its own children
        try {
            objects.push_back(objectInfo(handle));
        } catch (const MTPError& error) {
            // An object that went away meanwhile is left out; a phone that went
            // away must not read as a folder with fewer items, and one that
            // can't describe an item must not read as a folder without it.
            if (isGone(error))
                throw;
            if (error.kind() != MTPError::Kind::stale && undescribed)
                ++*undescribed;
        }
    }
    return objects;
}

std::vector<MTPObject> MTPConnection::list(uint32_t parent, const QStringList& parts, uint32_t storage,
                                           int* undescribed)
{
    std::vector<MTPObject> objects = children(parent, storage, undescribed);
    const QString prefix = parts.isEmpty() ? QString() : parts.join(QLatin1Char('/')) + QLatin1Char('/');
    // What the folder holds now replaces what the cache held for it: an item
    // deleted or renamed on the phone itself no longer reads as there. A key
    // of another letter case stays while its item is listed.
    if (!m_handles.isEmpty()) {
        QHash<uint32_t, const MTPObject*> listed;
        listed.reserve(qsizetype(objects.size()));
        for (const MTPObject& object : objects)
            listed.insert(object.handle, &object);
        QSet<QString> gone; // names of the folder's items
        for (auto it = m_handles.cbegin(); it != m_handles.cend(); ++it) {
            const QString& key = it.key();
            if (key.size() <= prefix.size() || !key.startsWith(prefix) || key.indexOf(QLatin1Char('/'), prefix.size()) >= 0)
                continue;
            const MTPObject* now = listed.value(it.value());
            const QStringView name = QStringView(key).sliced(prefix.size());
            if (!now || (now->name != name && !mtppaths::sameNameIgnoringCase(now->name, name.toString())))
                gone.insert(name.toString());
        }
        // One pass for all of them, with what lies below them: a listing
        // costs the same however many items went.
        if (!gone.isEmpty()) {
            m_handles.removeIf([&](const auto& entry) {
                const QString& key = entry.key();
                if (key.size() <= prefix.size() || !key.startsWith(prefix))
                    return false;
                const qsizetype slash = key.indexOf(QLatin1Char('/'), prefix.size());
                return gone.contains(key.sliced(prefix.size(), (slash < 0 ? key.size() : slash) - prefix.size()));
            });
        }
    }
    m_handles.reserve(m_handles.size() + qsizetype(objects.size()));
    for (const MTPObject& object : objects) {
        // A name holding "/" would take the key of another path.
        if (!object.name.contains(QLatin1Char('/')))
            m_handles.insert(prefix + object.name, object.handle);
    }
    return objects;
}

// ---- paths ------------------------------------------------------------------------------

const MTPObject* MTPConnection::findNamed(const std::vector<MTPObject>& objects, const QString& name,
                                          NameMatch loosest)
{
    for (const MTPObject& object : objects) {
        if (object.name == name)
            return &object;
    }
    if (loosest == NameMatch::exact)
        return nullptr;
    const QString composed = name.normalized(QString::NormalizationForm_C);
    const MTPObject* alike = nullptr;
    const MTPObject* caseless = nullptr;
    int alikes = 0, caselesses = 0;
    for (const MTPObject& object : objects) {
        const QString other = object.name.normalized(QString::NormalizationForm_C);
        if (other == composed) {
            alike = &object;
            ++alikes;
        } else if (loosest == NameMatch::ignoringCase && other.compare(composed, Qt::CaseInsensitive) == 0) {
            caseless = &object;
            ++caselesses;
        }
    }
    // Two of the looser kind: which one was meant can't be told.
    if (alikes > 0)
        return alikes == 1 ? alike : nullptr;
    return caselesses == 1 ? caseless : nullptr;
}

QString MTPConnection::undescribedIn(const QStringList& parts)
{
    return parts.isEmpty() ? QStringLiteral("The phone couldn't describe one of the items on it. Try again, or "
                                            "restart the phone.")
                           : QStringLiteral("The phone couldn't describe one of the items in “") + parts.last()
                                 + QStringLiteral("”. Try again, or restart the phone.");
}

uint32_t MTPConnection::resolve(const QString& path)
{
    const uint32_t storage = requireStorage();
    const QStringList components = parts(path);
    uint32_t current = rootHandle;
    QString key;
    for (qsizetype i = 0; i < components.size(); ++i) {
        const QString& name = components[i];
        key = i == 0 ? name : key + QLatin1Char('/') + name;
        if (const auto cached = m_handles.constFind(key); cached != m_handles.constEnd()) {
            current = *cached;
            continue;
        }
        int undescribed = 0;
        const std::vector<MTPObject> objects = list(current, components.first(i), storage, &undescribed);
        const MTPObject* match = findNamed(objects, name, NameMatch::ignoringCase);
        // An item the phone couldn't describe may be the one asked for.
        if (!match && undescribed > 0)
            throw MTPError::failed(undescribedIn(components.first(i)));
        if (!match)
            throw MTPError::notFound(name);
        current = match->handle;
        m_handles.insert(key, current); // a name typed in other letter case resolves from the cache next time
    }
    return current;
}

void MTPConnection::forget(const QString& path)
{
    const QString key = parts(path).join(QLatin1Char('/'));
    if (key.isEmpty())
        return;
    // The item may be cached under other spellings of its path too (a name
    // typed in other letter case): those go with it, and what lies below them.
    QStringList keys{key};
    if (const auto cached = m_handles.constFind(key); cached != m_handles.constEnd()) {
        for (auto it = m_handles.cbegin(); it != m_handles.cend(); ++it) {
            if (it.value() == *cached && it.key() != key)
                keys.append(it.key());
        }
    }
    for (const QString& gone : keys) {
        const QString below = gone + QLatin1Char('/');
        for (auto it = m_handles.begin(); it != m_handles.end();) {
            if (it.key() == gone || it.key().startsWith(below))
                it = m_handles.erase(it);
            else
                ++it;
        }
    }
}

MTPObject MTPConnection::object(const QString& path)
{
    const QString parent = mtppaths::parentPath(path);
    const QString name = mtppaths::lastComponent(path);
    const uint32_t storage = requireStorage();
    int undescribed = 0;
    const std::vector<MTPObject> objects = list(resolve(parent), parts(parent), storage, &undescribed);
    // The item itself by its exact name, as listed: another form of it, even
    // the only one, is another item (its twin may have gone meanwhile).
    const MTPObject* match = findNamed(objects, name, NameMatch::exact);
    if (!match && undescribed > 0)
        throw MTPError::failed(undescribedIn(parts(parent)));
    if (!match)
        throw MTPError::notFound(name);
    return *match;
}

void MTPConnection::retryingStalePaths(const std::function<void()>& attempt)
{
    std::optional<MTPError> first;
    try {
        attempt();
        return;
    } catch (const MTPError& error) {
        const bool missing = error.kind() == MTPError::Kind::notFound && !m_handles.isEmpty();
        const bool stale = error.kind() == MTPError::Kind::stale;
        if (!missing && !stale)
            throw;
        first = error;
    }
    // A cached handle may be what failed: once more from the phone's own answers.
    m_handles.clear();
    if (first->kind() != MTPError::Kind::notFound) {
        attempt();
        return;
    }
    try {
        attempt();
    } catch (const Cancelled&) {
        throw; // a cancellation is never turned into a failure
    } catch (...) {
        throw *first;
    }
}

void MTPConnection::forgetAfterUnknownOutcome(const std::function<void()>& attempt)
{
    try {
        retryingStalePaths(attempt);
    } catch (const MTPError& error) {
        // Only "not there" says nothing changed; a refusal costs a new listing.
        if (error.kind() != MTPError::Kind::notFound)
            m_handles.clear();
        throw;
    } catch (...) {
        m_handles.clear();
        throw;
    }
}

void MTPConnection::madeHere(const QString& path, uint32_t handle, uint32_t parent, bool isFolder, int64_t size)
{
    m_made.insert(parts(path).join(QLatin1Char('/')), {handle, parent == rootHandle ? 0 : parent, isFolder, size});
}

// ---- folders ------------------------------------------------------------------------------

uint32_t MTPConnection::createFolder(const QString& name, uint32_t parent)
{
    const QByteArray info = objectInfo(name, Format::association, 0, QDateTime::currentDateTime());
    const uint32_t storage = requireStorage();
    const std::vector<uint32_t> response = transact(
        Operation::sendObjectInfo, {storage, parent}, [&](const Emit& emit) { emit(info); }, info.size(), {},
        QStringLiteral("create that folder"));
    if (response.size() <= 2 || !isObjectHandle(response[2]))
        throw MTPError::failed(QStringLiteral("The phone didn't create the folder."));
    return response[2];
}

uint32_t MTPConnection::makeFolders(const QString& path)
{
    const QStringList components = parts(path);
    uint32_t current = rootHandle;
    QString key;
    for (qsizetype i = 0; i < components.size(); ++i) {
        key = i == 0 ? components[i] : key + QLatin1Char('/') + components[i];
        try {
            current = resolve(QStringLiteral("/sdcard/") + key);
        } catch (const MTPError& error) {
            // Only a folder that is really missing is made; a locked, silent or
            // vanished phone fails the request instead.
            if (error.kind() != MTPError::Kind::notFound)
                throw;
            current = createFolder(components[i], current);
            m_handles.insert(key, current);
        }
    }
    return current;
}

// ---- PhoneFiles operations without contents ---------------------------------------------------

std::vector<RemoteEntry> MTPConnection::list(const QString& path, bool showHidden, const Cancel& cancel)
{
    return entries(path, showHidden, false, cancel);
}

std::vector<RemoteEntry> MTPConnection::listAll(const QString& path, const Cancel& cancel)
{
    return entries(path, true, true, cancel);
}

std::vector<RemoteEntry> MTPConnection::entries(const QString& path, bool showHidden, bool whole, const Cancel& cancel)
{
    mtppaths::checkUsable(path);
    return withPaths(
        [&] {
            const uint32_t storage = requireStorage();
            int undescribed = 0;
            const std::vector<MTPObject> objects = list(resolve(path), parts(path), storage, &undescribed);
            if (whole && undescribed > 0)
                throw MTPError::failed(undescribedIn(parts(path)));
            std::vector<RemoteEntry> entries;
            entries.reserve(objects.size());
            for (const MTPObject& object : objects) {
                if (object.name == QLatin1StringView(".") || object.name == QLatin1StringView(".."))
                    continue;
                if (!showHidden && object.name.startsWith(QLatin1Char('.')))
                    continue;
                entries.push_back(listedEntry(object));
            }
            return entries;
        },
        cancel);
}

uint32_t MTPConnection::lookUp(const QString& path)
{
    const QStringList components = parts(path);
    const QString key = components.join(QLatin1Char('/'));
    const auto cached = m_handles.constFind(key);
    if (components.isEmpty() || cached == m_handles.constEnd())
        return resolve(path);
    // The item may have gone or been renamed on the phone itself since it
    // was listed: the phone's word on the cached handle, else a new listing.
    const uint32_t handle = *cached;
    const uint32_t parent = resolve(mtppaths::parentPath(path));
    try {
        const ObjectInfo now = readObjectInfo(fetch(Operation::getObjectInfo, {handle}, doThat));
        if (now.name == components.last() && topLevelAsZero(now.parent) == topLevelAsZero(parent))
            return handle;
    } catch (const MTPError& error) {
        if (error.kind() != MTPError::Kind::stale)
            throw;
    }
    forget(path);
    return resolve(path);
}

bool MTPConnection::exists(const QString& path, const Cancel& cancel)
{
    try {
        mtppaths::checkUsable(path);
        withPaths([&] { return lookUp(path); }, cancel);
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<bool> MTPConnection::existence(const QString& path, const Cancel& cancel)
{
    try {
        mtppaths::checkUsable(path); // such an item may well be there
        withPaths([&] { return lookUp(path); }, cancel);
        return true;
    } catch (const MTPError& error) {
        if (error.kind() == MTPError::Kind::notFound)
            return false;
    } catch (...) {
    }
    return std::nullopt;
}

void MTPConnection::checkStorable(const QString& name) const
{
    // MTP names are text: a byte that isn't would reach the phone as another name.
    if (!name.isValidUtf16())
        throw MTPError::failed(QStringLiteral("“") + paths::shown(name)
                               + QStringLiteral("” has a name that isn't valid UTF-8, so it can't be copied to the "
                                                "phone over USB. Rename it first."));
    mtppaths::checkStorable(name);
}

void MTPConnection::moveTo(uint32_t pushed, uint32_t parent, uint64_t session, const QString& from, const QString& to)
{
    try {
        moveNow(from, to);
    } catch (...) {
        // The answer may be what was lost: the phone's word on the pushed
        // object tells whether it took the name all the same.
        const std::optional<Whereabouts> now = whereNow(pushed, parent, session);
        if (!now || now->gone || mtppaths::listedName(now->name) != mtppaths::lastComponent(to)
            || now->parent != topLevelAsZero(parent))
            throw;
        forget(from);
        forget(to);
        movedAway(from);
    }
}

std::optional<MTPConnection::Whereabouts> MTPConnection::whereNow(uint32_t handle, uint32_t parent, uint64_t session)
{
    const bool asking = std::exchange(m_askingAfterStop, true);
    std::optional<Whereabouts> found;
    try {
        if (session == m_sessions && m_interface) {
            try {
                const ObjectInfo now = readObjectInfo(fetch(Operation::getObjectInfo, {handle}, doThat));
                found = Whereabouts{false, topLevelAsZero(now.parent), now.name};
            } catch (const MTPError& error) {
                if (error.kind() != MTPError::Kind::stale)
                    throw;
                found = Whereabouts{true, 0, {}};
            }
        } else {
            // Another session: the handle counts only where the folder still lists it.
            for (const MTPObject& object : children(parent, requireStorage())) {
                if (object.handle == handle)
                    found = Whereabouts{false, topLevelAsZero(parent), object.name};
            }
        }
    } catch (...) {
        found.reset();
    }
    m_askingAfterStop = asking;
    return found;
}

void MTPConnection::remove(const QString& path, const Cancel& cancel)
{
    mtppaths::checkUsable(path);
    // DeleteObject of the root handle would empty the whole phone.
    if (parts(path).isEmpty())
        throw MTPError::failed(QStringLiteral("The phone's whole storage can't be deleted."));
    // Whatever this connection made there: the person means the item the name has now.
    changing([&] { removeNamed(path); }, cancel);
}

void MTPConnection::removeOwn(const QString& path, const Cancel& cancel)
{
    mtppaths::checkUsable(path);
    if (parts(path).isEmpty())
        throw MTPError::failed(QStringLiteral("The phone's whole storage can't be deleted."));
    run(
        [&](MTPConnection& self) {
            // The record is read once: a retry never finds it gone and turns to the name.
            const auto made = self.m_made.constFind(parts(path).join(QLatin1Char('/')));
            if (made == self.m_made.cend()) {
                self.forgetAfterUnknownOutcome([&] { self.removeNamed(path); });
                return;
            }
            const Made what = *made;
            self.forgetAfterUnknownOutcome([&] { self.removeMade(path, what); });
        },
        cancel);
}

void MTPConnection::removeMade(const QString& path, const Made& made)
{
    const QString key = parts(path).join(QLatin1Char('/'));
    const QString name = mtppaths::lastComponent(path);
    std::optional<ObjectInfo> now;
    if (made.handle != 0) {
        try {
            now = readObjectInfo(fetch(Operation::getObjectInfo, {made.handle}, doThat));
        } catch (const MTPError& error) {
            if (error.kind() != MTPError::Kind::stale)
                throw;
        }
    }
    forget(path);
    // Never by the name: what is there now may be another writer's. Gone,
    // or no longer as made (renamed, moved, or written to by another), it
    // is no longer ours to remove. A rename whose answer was lost may have
    // given it the person's name; a size too large for the dataset's field
    // reads as at most that. The handle of a session opened since counts
    // only where it is still that item.
    const bool ours = now && mtppaths::listedName(now->name) == name && topLevelAsZero(now->parent) == made.parent
                      && now->isDirectory() == made.isFolder && (made.isFolder || int64_t(now->size) <= made.size);
    if (ours)
        transact(Operation::deleteObject, {made.handle, 0}, {}, 0, {}, QStringLiteral("delete that"));
    m_made.remove(key);
}

void MTPConnection::removeNamed(const QString& path)
{
    // The phone's word on the name, never the cache's.
    const uint32_t handle = lookUp(path);
    // Only the item of exactly that name: finding a name in other
    // letter case is for going to it, never for deleting another.
    const ObjectInfo now = readObjectInfo(fetch(Operation::getObjectInfo, {handle}, doThat));
    if (mtppaths::listedName(now.name) != mtppaths::lastComponent(path)) {
        forget(path);
        throw MTPError::notFound(mtppaths::lastComponent(path));
    }
    transact(Operation::deleteObject, {handle, 0}, {}, 0, {}, QStringLiteral("delete that"));
    forget(path);
}

void MTPConnection::makeFolder(const QString& path, const Cancel& cancel)
{
    mtppaths::checkUsable(path);
    const QStringList components = parts(path);
    if (components.isEmpty())
        return; // the storage itself
    mtppaths::checkStorable(components.last());
    changing(
        [&] {
            // Only inside a folder that is there: one deleted on the phone
            // meanwhile fails as missing instead of being made again.
            const uint32_t parent = resolve(mtppaths::parentPath(path));
            std::optional<uint32_t> there;
            try {
                there = lookUp(path);
            } catch (const MTPError& error) {
                if (error.kind() != MTPError::Kind::notFound)
                    throw;
            }
            // Only a folder is there already; a file of the name is in the way.
            if (there) {
                if (!readObjectInfo(fetch(Operation::getObjectInfo, {*there}, doThat)).isDirectory())
                    throw MTPError::failed(QStringLiteral("“") + components.last() + QStringLiteral("” already exists."));
                return;
            }
            const uint32_t made = createFolder(components.last(), parent);
            m_handles.insert(components.join(QLatin1Char('/')), made);
            madeHere(path, made, parent, true, 0);
        },
        cancel);
}

void MTPConnection::move(const QString& from, const QString& to, const Cancel& cancel)
{
    mtppaths::checkUsable(from);
    mtppaths::checkUsable(to);
    if (mtppaths::lastComponent(from) != mtppaths::lastComponent(to))
        mtppaths::checkStorable(mtppaths::lastComponent(to));
    changing([&] { moveNow(from, to); }, cancel);
}

void MTPConnection::moveNow(const QString& from, const QString& to)
{
    const uint32_t handle = resolve(from);
    const QString toParent = mtppaths::parentPath(to);
    if (mtppaths::parentPath(from) != toParent) {
        if (!m_operations.contains(Operation::moveObject))
            throw MTPError::unsupported(QStringLiteral("move files"));
        const uint32_t destination = resolve(toParent);
        const uint32_t storage = requireStorage();
        transact(Operation::moveObject, {handle, storage, destination == rootHandle ? 0 : destination}, {}, 0, {},
                 QStringLiteral("move that"));
    }
    const QString newName = mtppaths::lastComponent(to);
    if (mtppaths::lastComponent(from) != newName) {
        if (!m_operations.contains(Operation::setObjectPropValue))
            throw MTPError::unsupported(QStringLiteral("rename files"));
        MTPWriter writer;
        writer.string(newName);
        transact(
            Operation::setObjectPropValue, {handle, ObjectProperty::objectFileName},
            [&](const Emit& emit) { emit(writer.data); }, writer.data.size(), {}, QStringLiteral("rename that"));
    }
    forget(from);
    forget(to);
    movedAway(from);
}

void MTPConnection::movedAway(const QString& from)
{
    // What was made at `from`, and inside it, is elsewhere now: a clean-up
    // of those paths finds nothing of its own there, and never goes by name.
    const QString fromKey = parts(from).join(QLatin1Char('/'));
    if (const auto made = m_made.find(fromKey); made != m_made.end()) {
        made->handle = 0;
        if (!made->isFolder)
            return; // nothing was made inside a file: no look through every record
    }
    const QString below = fromKey + QLatin1Char('/');
    for (auto it = m_made.begin(); it != m_made.end(); ++it) {
        if (it.key().startsWith(below))
            it->handle = 0;
    }
}

std::optional<PhoneFiles::Clash> MTPConnection::putInPlace(const QString& from, const QString& to,
                                                           const Covered& covered, const Cancel& cancel)
{
    mtppaths::checkUsable(from);
    mtppaths::checkUsable(to);
    // The new file takes the old one's name by a rename: without one, the
    // old file must not go.
    if (!canRename(cancel))
        throw MTPError::unsupported(QStringLiteral("rename files"));
    const QString name = mtppaths::lastComponent(to);
    const QString fromName = mtppaths::lastComponent(from);
    const QString folder = mtppaths::parentPath(to);
    mtppaths::checkStorable(name);
    std::optional<Clash> clash;
    changing(
        [&] {
            const uint64_t session = m_sessions;
            // What is at the name now, asked of the phone, never of the cache:
            // a cached handle may be of an item deleted meanwhile.
            const uint32_t parent = resolve(folder);
            int undescribed = 0;
            const std::vector<MTPObject> objects = children(parent, requireStorage(), &undescribed);
            const MTPObject* there = findNamed(objects, name, NameMatch::ignoringCase);
            if (!there && undescribed > 0)
                throw MTPError::failed(undescribedIn(parts(folder)));
            const MTPObject* found = findNamed(objects, fromName, NameMatch::exact);
            if (!found)
                throw MTPError::notFound(fromName);
            const uint32_t pushed = found->handle;
            // Items the phone may take for the name, none of them its own: which one is meant can't be told.
            if (!there && anyAlike(objects, name)) {
                clash = Clash{name, false, true};
                return;
            }
            if (there) {
                // A folder that took the name is someone's, never the file to replace.
                if (there->isDirectory) {
                    clash = Clash{name, true};
                    return;
                }
                // Only the very item the answer covered (its handle), as this
                // connection lists it; and never one of another spelling.
                if (covered.entry ? listedEntry(*there) != *covered.entry : there->name != name) {
                    clash = Clash{name, false, true};
                    return;
                }
                try {
                    transact(Operation::deleteObject, {there->handle, 0}, {}, 0, {}, QStringLiteral("delete that"));
                } catch (...) {
                    // The answer may be what was lost: gone is gone, whoever says it.
                    const std::optional<Whereabouts> old = whereNow(there->handle, parent, session);
                    if (!old || !old->gone)
                        throw;
                }
                forget(to);
            }
            moveTo(pushed, parent, session, from, to);
        },
        cancel);
    return clash;
}

bool MTPConnection::takeName(const QString& from, const QString& to, const Cancel& cancel)
{
    mtppaths::checkUsable(from);
    mtppaths::checkUsable(to);
    const QString name = mtppaths::lastComponent(to);
    const QString fromName = mtppaths::lastComponent(from);
    mtppaths::checkStorable(name);
    bool took = false;
    changing(
        [&] {
            const uint64_t session = m_sessions;
            // Whether the name is free, asked of the phone now.
            const uint32_t parent = resolve(mtppaths::parentPath(to));
            int undescribed = 0;
            const std::vector<MTPObject> objects = children(parent, requireStorage(), &undescribed);
            if (anyAlike(objects, name))
                return;
            if (undescribed > 0)
                throw MTPError::failed(undescribedIn(parts(mtppaths::parentPath(to))));
            const MTPObject* found = findNamed(objects, fromName, NameMatch::exact);
            if (!found)
                throw MTPError::notFound(fromName);
            const uint32_t pushed = found->handle;
            moveTo(pushed, parent, session, from, to);
            took = true;
        },
        cancel);
    return took;
}

bool MTPConnection::canRename(const Cancel& cancel)
{
    return run([](MTPConnection& self) { return self.m_operations.contains(Operation::setObjectPropValue); }, cancel);
}

DeviceInfo MTPConnection::info(const Cancel& cancel)
{
    return run(
        [](MTPConnection& self) {
            DeviceInfo facts;
            facts.manufacturer = self.m_manufacturer;
            if (self.m_deviceProperties.contains(DeviceProperty::batteryLevel)) {
                try {
                    const QByteArray level =
                        self.fetch(Operation::getDevicePropValue, {DeviceProperty::batteryLevel}, doThat);
                    if (!level.isEmpty())
                        facts.battery = static_cast<uint8_t>(level.at(0));
                } catch (const MTPError&) {
                    // The level is optional.
                }
            }
            const StorageInfo storage =
                readStorageInfo(self.fetch(Operation::getStorageInfo, {self.requireStorage()}, doThat));
            facts.storageTotal = static_cast<int64_t>(storage.maxCapacity);
            facts.storageFree = static_cast<int64_t>(storage.freeSpace);
            return facts.possible();
        },
        cancel);
}
