// A phone whose MTP stack is broken or hostile: malformed containers,
// datasets whose counts and strings lie, files that arrive other than listed,
// a phone that repeats itself for ever, stalls or vanishes in any phase of a
// copy, and events of any length. Each must end in a clear failure, with no
// partial file left as if complete and the session usable again.
#include "PhoneFixture.h"

#include "MTPReader.h"
#include "MTPWriter.h"
#include "TestSupport.h"

#include <QtEndian>

#include <functional>

using namespace mtp;
using namespace std::chrono_literals;
using mtpsim::SimulatedPhone;

namespace {

const QString unexpected = QStringLiteral("The phone sent an unexpected reply.");
const QString timedOut = QStringLiteral("USB error talking to the phone: Operation timed out");

// A container with any length field, then `payload`.
QByteArray container(uint32_t length, uint16_t type, uint16_t code, uint32_t transaction, const QByteArray& payload = {})
{
    QByteArray bytes = SimulatedPhone::container(type, code, transaction);
    qToLittleEndian<uint32_t>(length, bytes.data());
    return bytes + payload;
}
QByteArray data(uint16_t code, uint32_t transaction, const QByteArray& payload)
{
    return container(uint32_t(12 + payload.size()), Container::data, code, transaction, payload);
}
QByteArray response(uint32_t transaction, uint16_t result = Response::ok)
{
    return SimulatedPhone::container(Container::response, result, transaction);
}

QByteArray storageIDs()
{
    MTPWriter writer;
    writer.u32(1);
    writer.u32(0x00010001);
    return writer.data;
}

using Transfers = std::vector<QByteArray>;
using Reply = std::function<Transfers(uint32_t transaction)>;

class Hostile : public PhoneTest {
protected:
    void SetUp() override
    {
        connect();
        ASSERT_EQ(connection->status(), MTPConnection::Status::ready);
        phone->clearRecords();
    }

    // The next command of this code is answered with `reply` instead of the phone's own answer.
    void answerOnce(uint16_t code, Reply reply)
    {
        auto pending = std::make_shared<Reply>(std::move(reply));
        phone->configure([=](auto& s) {
            s.replyInstead = [=](uint16_t asked, uint32_t transaction) -> std::optional<Transfers> {
                if (asked != code || !*pending)
                    return std::nullopt;
                const Reply once = std::exchange(*pending, Reply());
                return once(transaction);
            };
        });
    }

    // The session still works: the next transaction gets its own answer.
    void expectInStep()
    {
        EXPECT_EQ(MTPReader(fetch(Operation::getStorageIDs)).u32Array(), (std::vector<uint32_t>{0x00010001}));
    }
};

// ---- containers -----------------------------------------------------------------

TEST_F(Hostile, MalformedContainersFailClearlyAndTheNextTransactionGetsItsOwnAnswer)
{
    constexpr uint16_t code = Operation::getStorageIDs;
    const QByteArray ids = storageIDs();
    const QByteArray filled = ids + QByteArray(MiB - 12 - ids.size() - 5, '\0'); // a transfer's worth but 5
    struct Case {
        const char* what;
        Reply reply;
        QString failure;    // empty: the reply is read as `read`
        QByteArray read = {}; // empty: `ids`
    };
    const std::vector<Case> cases = {
        {"a transfer shorter than a header", [](uint32_t) { return Transfers{QByteArray("\x0c\x00\x00", 3)}; },
         unexpected},
        {"a response whose length is below its header",
         [&](uint32_t t) { return Transfers{data(code, t, ids), container(8, Container::response, Response::ok, t)}; },
         unexpected},
        {"a data container whose length is below its header",
         [&](uint32_t t) { return Transfers{container(4, Container::data, code, t, ids), response(t)}; }, unexpected},
        {"data that announces more than comes",
         [&](uint32_t t) { return Transfers{container(12 + 1000, Container::data, code, t, ids), response(t)}; },
         timedOut},
        {"data that announces four gigabytes",
         [&](uint32_t t) { return Transfers{container(0xFFFFFFF0, Container::data, code, t, ids), response(t)}; },
         timedOut},
        {"data and response of another transaction",
         [&](uint32_t t) { return Transfers{data(code, t + 7, ids), response(t + 7)}; }, timedOut},
        {"a failed response after its data",
         [&](uint32_t t) { return Transfers{data(code, t, ids), response(t, Response::generalError)}; },
         QStringLiteral("The phone couldn't do that (MTP error 0x2002).")},
        {"a command and an unknown container type of this transaction first",
         [&](uint32_t t) {
             return Transfers{SimulatedPhone::container(Container::command, code, t),
                              SimulatedPhone::container(9, code, t), data(code, t, ids), response(t)};
         },
         {}},
        {"a response that claims more than its transfer",
         [&](uint32_t t) { return Transfers{data(code, t, ids), container(40, Container::response, Response::ok, t)}; },
         {}},
        {"a response whose header is cut by the end of a full transfer",
         [&](uint32_t t) {
             return Transfers{data(code, t, filled) + response(t).left(5), response(t).mid(5)};
         },
         {},
         filled},
        {"data and response in one transfer, then stray zero-length packets",
         [&](uint32_t t) { return Transfers{data(code, t, ids) + response(t), {}, {}}; }, {}},
    };
    for (const auto& [what, reply, failure, read] : cases) {
        SCOPED_TRACE(what);
        answerOnce(code, reply);
        if (failure.isEmpty())
            EXPECT_EQ(fetch(code), read.isEmpty() ? ids : read);
        else
            EXPECT_EQ(failureOf([&] { fetch(code); }), failure);
        expectInStep();
    }
    // A zero-length data phase is an empty reply, and an empty list of storages no list at all.
    answerOnce(code, [&](uint32_t t) { return Transfers{data(code, t, {}), response(t)}; });
    EXPECT_EQ(fetch(code), QByteArray());
    EXPECT_EQ(phone->claims(), 1);
}

// Zero-length packets, events, answers to nobody or a data phase without an
// end, for ever in place of the reply: the transaction gives up instead of
// holding the phone's queue, and the session carries on once the phone does.
TEST_F(Hostile, APhoneThatRepeatsItselfForEverIsGivenUpOn)
{
    QByteArray endless = container(0xFFFFFFFF, Container::data, Operation::getObject, 0x00ABCDEF);
    endless.append(QByteArray(MiB - endless.size(), 'x'));
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"zero-length packets", QByteArray()},
        {"events", SimulatedPhone::container(Container::event, 0x4004, 0, {1})},
        {"responses to another transaction", response(0x00ABCDEF)},
        {"a data phase of another transaction without end", endless},
    };
    for (const auto& [what, chatter] : cases) {
        SCOPED_TRACE(what);
        phone->configure([&](auto& s) {
            s.silentFor[Operation::getStorageIDs] = 1;
            s.chatter = chatter;
        });
        EXPECT_EQ(failureOf([&] { fetch(Operation::getStorageIDs); }), unexpected);
        phone->configure([](auto& s) { s.chatter.reset(); });
        expectInStep();
    }
}

// Given up on, a phone stuck in that transaction is cancelled before the
// caller hears, so the next operation does not meet the same chatter.
TEST_F(Hostile, AfterGivingUpOnAPhoneThatRepeatsItselfTheSessionIsRecovered)
{
    QByteArray endless = container(0xFFFFFFFF, Container::data, Operation::getObject, 0x00ABCDEF);
    endless.append(QByteArray(MiB - endless.size(), 'x'));
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"zero-length packets", QByteArray()},
        {"responses to another transaction", response(0x00ABCDEF)},
        {"a data phase of another transaction without end", endless},
    };
    for (const auto& [what, chatter] : cases) {
        SCOPED_TRACE(what);
        phone->clearRecords();
        const int claims = phone->claims();
        phone->configure([&](auto& s) {
            s.silentFor[Operation::getStorageIDs] = 1;
            s.chatter = chatter;
            s.chatterEndsOnCancel = true;
        });
        EXPECT_EQ(failureOf([&] { fetch(Operation::getStorageIDs); }), unexpected);
        const auto requests = phone->classRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].request, 0x64);
        EXPECT_EQ(phone->claims(), claims) << "the session goes on";
        expectInStep();
    }
}

// ---- datasets -------------------------------------------------------------------------

QByteArray u32s(std::initializer_list<uint32_t> values)
{
    MTPWriter writer;
    for (uint32_t v : values)
        writer.u32(v);
    return writer.data;
}

// An ObjectInfo dataset up to its name, then `name` as raw bytes.
QByteArray objectInfoWithName(const QByteArray& name, uint32_t size = 5)
{
    MTPWriter writer;
    writer.u32(0x00010001);
    writer.u16(Format::undefined);
    writer.u16(0);
    writer.u32(size);
    writer.data.append(QByteArray(40, '\0'));
    return writer.data + name;
}

TEST_F(Hostile, DatasetsWhoseCountsAndStringsLieFailWithoutReadingPastTheirEnd)
{
    const uint32_t file = phone->addFile(0, QStringLiteral("a.txt"), QByteArray("hello"));
    const auto objectInfo = [&] { return onQueue([&](MTPConnection& c) { return c.objectInfo(file); }); };
    struct Case {
        const char* what;
        uint16_t code;
        QByteArray dataset;
        std::function<void()> read;
    };
    const std::vector<Case> cases = {
        {"storage IDs counting 2^32-1", Operation::getStorageIDs, u32s({0xFFFFFFFF, 0x00010001}),
         [&] { onQueue([](MTPConnection& c) { c.findStorage(); }); }},
        {"a name counting more units than follow", Operation::getObjectInfo,
         objectInfoWithName(QByteArray("\xff" "a\0b\0", 5)), objectInfo},
        {"a name ending inside a unit", Operation::getObjectInfo, objectInfoWithName(QByteArray("\x02h\0i", 4)),
         objectInfo},
        {"no name at all", Operation::getObjectInfo, objectInfoWithName({}), objectInfo},
        {"a storage info cut short", Operation::getStorageInfo, QByteArray(10, '\0'),
         [&] { connection->info(Cancel()); }},
    };
    for (const auto& [what, code, dataset, read] : cases) {
        SCOPED_TRACE(what);
        phone->configure([&](auto& s) { s.dataFor[code] = mtpsim::bytesContent(dataset); });
        EXPECT_EQ(failureOf(read), unexpected);
        phone->configure([](auto& s) { s.dataFor.clear(); });
        expectInStep();
    }

    // A name without its terminator still reads; a date that makes no date reads as the epoch.
    phone->configure([&](auto& s) {
        s.dataFor[Operation::getObjectInfo] =
            mtpsim::bytesContent(objectInfoWithName(QByteArray("\x02h\0i\0\0\0\0", 8)));
    });
    const MTPObject read = objectInfo();
    EXPECT_EQ(std::tuple(read.name, read.size, read.modified.toSecsSinceEpoch()),
              std::tuple(QStringLiteral("hi"), int64_t(5), qint64(0)));
}

TEST_F(Hostile, ABrokenDeviceInfoLeavesThePhoneUnconnectedAndReleased)
{
    MTPWriter prefix; // up to the operations array
    prefix.u16(100);
    prefix.u32(6);
    prefix.u16(100);
    prefix.string(QStringLiteral("x"));
    prefix.u16(0);
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"empty", QByteArray()},
        {"cut inside the vendor text", prefix.data.left(10)},
        {"an operations array of 2^32-1 elements", prefix.data + u32s({0xFFFFFFFF, 0x10011002})},
    };
    for (const auto& [what, dataset] : cases) {
        SCOPED_TRACE(what);
        connection->close().wait();
        phone->configure([&](auto& s) { s.dataFor[Operation::getDeviceInfo] = mtpsim::bytesContent(dataset); });
        connect();
        EXPECT_EQ(connection->status(), MTPConnection::Status::connecting);
        EXPECT_FALSE(phone->claimed());
        EXPECT_EQ(failureOf([&] { onQueue([](MTPConnection&) {}); }), unexpected);
    }
    phone->configure([](auto& s) { s.dataFor.clear(); });
    EXPECT_NO_THROW(onQueue([](MTPConnection&) {}));
    EXPECT_EQ(connection->status(), MTPConnection::Status::ready);
}

// A phone that answers a new object's handle with 0 (no object) or 0xFFFFFFFF
// (which DeleteObject reads as every object): the upload or new folder fails
// with its sentence, nothing keeps that handle, and no operation on an object
// is ever sent with it, neither at once nor by a later delete of that path.
TEST_F(Hostile, ANewHandleThatNamesNoSingleObjectIsNeverActedOn)
{
    const uint32_t docs = phone->addFolder(0, QStringLiteral("Docs"));
    phone->addFile(docs, QStringLiteral("a.txt"), QByteArray("the user's"));
    phone->addFile(0, QStringLiteral("keep.txt"), QByteArray("the user's too"));
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString file = temp.filePath(QStringLiteral("new.txt"));
    const QString folder = temp.filePath(QStringLiteral("Folder"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString& path : {file, folder + QStringLiteral("/in.txt")}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("new") == 3);
    }
    const QString notAccepted = QStringLiteral("The phone didn't accept the file.");
    const QString notCreated = QStringLiteral("The phone didn't create the folder.");
    struct Case {
        const char* what;
        std::function<void()> act;
        QString made; // the phone path it makes
        QString failure;
        bool sendFails = false;
    };
    const std::vector<Case> cases = {
        {"a file", [&] { connection->push(file, QStringLiteral("/sdcard/"), {}, Cancel()); },
         QStringLiteral("/sdcard/new.txt"), notAccepted},
        {"a file the phone then refuses", [&] { connection->push(file, QStringLiteral("/sdcard/"), {}, Cancel()); },
         QStringLiteral("/sdcard/new.txt"), notAccepted, true},
        {"a new folder", [&] { connection->makeFolder(QStringLiteral("/sdcard/New"), Cancel()); },
         QStringLiteral("/sdcard/New"), notCreated},
        {"a folder", [&] { connection->push(folder, QStringLiteral("/sdcard/"), {}, Cancel()); },
         QStringLiteral("/sdcard/Folder"), notCreated},
    };
    const auto onObjects = [&] {
        std::vector<SimulatedPhone::Command> acting;
        for (const auto& command : phone->commands()) {
            const bool onObject = command.code == Operation::deleteObject || command.code == Operation::getObject
                                  || command.code == Operation::getObjectInfo || command.code == Operation::moveObject
                                  || command.code == Operation::setObjectPropValue;
            if (onObject && !command.params.empty() && (command.params[0] == 0 || command.params[0] == 0xFFFFFFFF))
                acting.push_back(command);
        }
        return acting.size();
    };
    for (const uint32_t handle : {0xFFFFFFFFu, 0u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (handle ? ", 0xFFFFFFFF" : ", 0"));
            phone->configure([&](auto& s) {
                s.newHandle = handle;
                if (c.sendFails)
                    s.responseFor[Operation::sendObject] = Response::generalError;
            });
            EXPECT_EQ(failureOf(c.act), c.failure);
            phone->configure([](auto& s) {
                s.newHandle.reset();
                s.responseFor.clear();
            });
            // What the phone made is found by its name, and only it goes.
            EXPECT_NO_THROW(connection->remove(c.made, Cancel()));
            EXPECT_EQ(onObjects(), 0u);
            EXPECT_TRUE(phone->objectAt(QStringLiteral("Docs/a.txt")));
            EXPECT_TRUE(phone->objectAt(QStringLiteral("keep.txt")));
            EXPECT_FALSE(phone->objectAt(c.made.mid(8)));
        }
    }

    // Nor is the storage root moved or renamed as an object.
    const std::pair<QString, QString> moves[] = {
        {QStringLiteral("/sdcard"), QStringLiteral("/sdcard/Docs/sdcard")},
        {QStringLiteral("/sdcard"), QStringLiteral("/card")},
    };
    for (const auto& [from, to] : moves) {
        EXPECT_TRUE(failureOf([&] { connection->move(from, to, Cancel()); })
                        .endsWith(QStringLiteral(": that is the phone's whole storage, not one item.")));
    }
    EXPECT_EQ(onObjects(), 0u);
    EXPECT_TRUE(phone->objectAt(QStringLiteral("Docs/a.txt")));
}

// Sizes a property list gives beyond what a file can hold: no listing or
// folder total turns negative.
TEST_F(Hostile, ImpossibleSizesAreNeverNegative)
{
    const uint32_t folder = phone->addFolder(0, QStringLiteral("Huge"));
    phone->addFile(folder, QStringLiteral("a"), mtpsim::patternContent(UINT64_MAX));
    phone->addFile(folder, QStringLiteral("b"), mtpsim::patternContent(uint64_t(INT64_MAX)));
    const auto entries = connection->list(QStringLiteral("/sdcard/Huge"), true, Cancel());
    ASSERT_EQ(entries.size(), 2u);
    for (const RemoteEntry& entry : entries)
        EXPECT_EQ(entry.size, INT64_MAX) << entry.name.toStdString();
    const int64_t total = onQueue([&](MTPConnection& c) {
        return c.folderSize(c.object(QStringLiteral("/sdcard/Huge")));
    });
    EXPECT_EQ(total, INT64_MAX);
}

// ---- copies -------------------------------------------------------------------------

class HostileCopy : public Hostile {
protected:
    void SetUp() override
    {
        Hostile::SetUp();
        ASSERT_TRUE(temp.isValid());
        photo = phone->addFile(0, QStringLiteral("IMG_1.jpg"), content);
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("the old file") == 12);
    }

    QStringList localEntries() const
    {
        return QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    QByteArray targetBytes() const
    {
        QFile file(target);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void pull() { connection->pull(QStringLiteral("/sdcard/IMG_1.jpg"), target, {}, Cancel()); }

    QTemporaryDir temp;
    const QByteArray content = bytesOf(2 * MiB + 100);
    const QString target = temp.filePath(QStringLiteral("IMG_1.jpg"));
    uint32_t photo = 0;
};

// A data phase that states its length is trusted over the listing, which
// lags a file still being written: the copy is what the phone sent. Only a
// data phase without a length that ends before the listed size fails; then
// the old target stays, no temporary file is left, and the session goes on.
TEST_F(HostileCopy, AStatedLengthIsTrustedAndOnlyAnUnstatedOneEndingEarlyFails)
{
    const QString mismatch = QStringLiteral("“IMG_1.jpg” didn't arrive as the phone listed it. Refresh and try again.");
    const auto sent = [](const QByteArray& payload, uint32_t length = 0) -> Reply {
        return [=](uint32_t t) {
            return Transfers{container(length ? length : uint32_t(12 + payload.size()), Container::data,
                                       Operation::getObject, t, payload),
                             response(t)};
        };
    };
    const QByteArray grown = content + bytesOf(MiB, 3);
    struct Case {
        const char* what;
        Reply reply;
        std::optional<QByteArray> copied; // none: the copy fails
    };
    const std::vector<Case> cases = {
        {"one byte fewer than listed", sent(content.chopped(1)), content.chopped(1)},
        {"nothing", sent({}), QByteArray()},
        {"one MiB more than listed", sent(grown), grown},
        {"without a length, more than listed", sent(grown, 0xFFFFFFFF), grown},
        {"without a length, ending early", sent(content.left(MiB / 2), 0xFFFFFFFF), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            QFile file(target);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("the old file") == 12);
        }
        answerOnce(Operation::getObject, c.reply);
        EXPECT_EQ(failureOf([&] { pull(); }), c.copied ? QString() : mismatch);
        EXPECT_EQ(targetBytes(), c.copied.value_or(QByteArray("the old file")));
        EXPECT_EQ(localEntries(), QStringList{QStringLiteral("IMG_1.jpg")});
        expectInStep();
    }
    pull();
    EXPECT_EQ(targetBytes(), content);

    // A phone that lists 0 bytes for a file it has not measured still gives the whole file.
    MTPWriter name;
    name.string(QStringLiteral("IMG_1.jpg"));
    phone->configure([&](auto& s) {
        s.operations.erase(Operation::getObjectPropList);
        s.dataFor[Operation::getObjectInfo] = mtpsim::bytesContent(objectInfoWithName(name.data + QByteArray(3, '\0'), 0));
    });
    reconnect();
    ASSERT_TRUE(QFile::remove(target));
    pull();
    EXPECT_EQ(targetBytes(), content);
}

// A phone that stalls, stops answering or is unplugged in any phase of a
// copy: the failure is told, no partial file is left here, and on a phone
// still attached the partial new object is deleted; the next run goes on.
TEST_F(HostileCopy, AStalledOrVanishedPhoneInAnyPhaseOfACopyIsReportedAndLeavesNoPart)
{
    using Direction = SimulatedPhone::Direction;
    const QString gone = MTPError::gone().description();
    const QString source = temp.filePath(QStringLiteral("new.bin"));
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytesOf(2 * MiB + 100)) == 2 * MiB + 100);
    }
    struct Case {
        const char* what;
        bool push;
        Direction direction;
        uint16_t armedBy;
        uint64_t after;
        UsbStatus status;
        bool unplug;
        QString failure;
    };
    const std::vector<Case> cases = {
        {"pull: unplugged before the first byte", false, Direction::in, Operation::getObject, 0, UsbStatus::noDevice,
         true, gone},
        {"pull: unplugged mid-file", false, Direction::in, Operation::getObject, MiB, UsbStatus::noDevice, true, gone},
        {"pull: the bus fails mid-file", false, Direction::in, Operation::getObject, MiB, UsbStatus::notResponding,
         false, gone},
        {"pull: silent mid-file", false, Direction::in, Operation::getObject, MiB, UsbStatus::timeout, false, timedOut},
        {"push: unplugged during the object info", true, Direction::out, Operation::sendObjectInfo, 0,
         UsbStatus::noDevice, true, gone},
        {"push: unplugged mid-file", true, Direction::out, Operation::sendObject, MiB, UsbStatus::noDevice, true,
         gone},
        {"push: silent mid-file", true, Direction::out, Operation::sendObject, MiB, UsbStatus::timeout, false,
         timedOut},
        {"push: stalls mid-file", true, Direction::out, Operation::sendObject, MiB, UsbStatus::stall, false,
         QStringLiteral("USB error talking to the phone: Pipe error")},
        {"push: silent instead of the response", true, Direction::in, Operation::sendObject, 0, UsbStatus::timeout,
         false, timedOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        phone->failAfter(c.direction, c.after, c.status, c.unplug, c.armedBy);
        if (c.push) {
            EXPECT_EQ(failureOf([&] { connection->push(source, QStringLiteral("/sdcard/"), {}, Cancel()); }),
                      c.failure);
        } else {
            EXPECT_EQ(failureOf([&] { pull(); }), c.failure);
        }
        EXPECT_EQ(localEntries(), (QStringList{QStringLiteral("IMG_1.jpg"), QStringLiteral("new.bin")}));
        EXPECT_EQ(targetBytes(), QByteArray("the old file"));
        if (c.unplug) {
            EXPECT_FALSE(phone->claimed());
            phone->setAttached(true);
        } else if (c.push) {
            EXPECT_FALSE(phone->objectAt(QStringLiteral("new.bin"))) << "the partial object was deleted";
        }
        if (const auto left = phone->objectAt(QStringLiteral("new.bin")))
            phone->removeObject(left->handle);
        expectInStep();
    }
}

// A phone unplugged mid-copy is told as disconnected by the copy and by
// every call after it, such as the copy's clean-up: its claim failing then is
// no other program's doing. Whether the phone vanished from the USB stack's
// list or only stopped being there to claim.
TEST_F(HostileCopy, AfterAnUnplugEveryCallReadsAsDisconnectedNotAsHeldByAnotherApp)
{
    using Direction = SimulatedPhone::Direction;
    const QString gone = MTPError::gone().description();
    const QString source = temp.filePath(QStringLiteral("new.bin"));
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytesOf(2 * MiB)) == 2 * MiB);
    }
    for (const bool listed : {true, false}) {
        SCOPED_TRACE(listed ? "still listed, not there to claim" : "gone from the list");
        phone->failAfter(Direction::out, MiB, UsbStatus::noDevice, true, Operation::sendObject);
        if (!listed)
            host->unplug(phone);
        EXPECT_EQ(failureOf([&] { connection->push(source, QStringLiteral("/sdcard/new.bin"), {}, Cancel()); }),
                  gone);
        EXPECT_EQ(failureOf([&] { connection->remove(QStringLiteral("/sdcard/new.bin"), Cancel()); }), gone);
        EXPECT_EQ(failureOf([&] { connection->list(QStringLiteral("/sdcard"), true, Cancel()); }), gone);
        EXPECT_NE(connection->status(), MTPConnection::Status::busy);
        if (listed)
            phone->setAttached(true);
    }
}

// Stop in the middle of a copy, either way: only what this copy made goes.
// Here the partial file is removed and what was there stays; on the phone the
// partial object is deleted and the folder merged into and its items stay.
TEST_F(HostileCopy, StopMidCopyRemovesOnlyWhatThisCopyMade)
{
    const uint32_t album = phone->addFolder(0, QStringLiteral("Album"));
    phone->addFile(album, QStringLiteral("kept.jpg"), QByteArray("on the phone before"));
    phone->addFile(album, QStringLiteral("big.bin"), bytesOf(3 * MiB));
    const QString local = temp.filePath(QStringLiteral("Album"));
    ASSERT_TRUE(QDir().mkpath(local));
    {
        QFile kept(local + QStringLiteral("/kept.txt"));
        ASSERT_TRUE(kept.open(QIODevice::WriteOnly) && kept.write("here before") == 11);
        QFile big(local + QStringLiteral("/upload.bin"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.write(bytesOf(3 * MiB, 1)) == 3 * MiB);
    }
    // Stops once a tenth has moved: inside the 3 MiB file, either way.
    const auto stopAtFirstProgress = [](std::stop_source& stop) {
        return [&stop](double done) {
            if (done > 0.1)
                stop.request_stop();
        };
    };

    std::stop_source stopPull;
    EXPECT_THROW(connection->pull(QStringLiteral("/sdcard/Album/big.bin"), local, stopAtFirstProgress(stopPull),
                                  Cancel(stopPull.get_token())),
                 Cancelled);
    EXPECT_EQ(QDir(local).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{QStringLiteral("kept.txt"), QStringLiteral("upload.bin")}));

    std::stop_source stopPush;
    EXPECT_THROW(connection->push(local, QStringLiteral("/sdcard/"), stopAtFirstProgress(stopPush),
                                  Cancel(stopPush.get_token())),
                 Cancelled);
    const auto album2 = phone->objectAt(QStringLiteral("Album"));
    ASSERT_TRUE(album2);
    EXPECT_EQ(album2->handle, album) << "the folder merged into stays";
    EXPECT_TRUE(phone->objectAt(QStringLiteral("Album/kept.jpg")));
    EXPECT_TRUE(phone->objectAt(QStringLiteral("Album/big.bin")));
    EXPECT_FALSE(phone->objectAt(QStringLiteral("Album/upload.bin"))) << "the partial object was deleted";
    expectInStep();
}

// ---- events ---------------------------------------------------------------------------

TEST_F(Hostile, EventsOfAnyLengthKeepTheListenerAndTheSessionGoing)
{
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"empty", QByteArray()},
        {"shorter than a header", QByteArray("\x10\x00", 2)},
        {"a header that claims a kilobyte", container(1024, Container::event, 0x4002, 0)},
        {"a whole buffer of noise", QByteArray(64, '\xff')},
    };
    for (const auto& [what, event] : cases) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(testsupport::waitUntil([&] { return phone->pendingInterruptReads() == 1; }, 30s));
        ASSERT_TRUE(phone->sendEvent(event));
        EXPECT_TRUE(testsupport::waitUntil([&] { return phone->pendingInterruptReads() == 1; }, 30s));
        expectInStep();
    }
}

} // namespace
