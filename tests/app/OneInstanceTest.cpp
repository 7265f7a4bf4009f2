// One application per settings file: which start is the application, and
// that a later one hands over to it, whatever was left on the disk.

#include "OneInstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <optional>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class OneInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(QDir(m_home.path()).mkpath(u"run"_s));
        ASSERT_TRUE(QFile::setPermissions(m_home.filePath(u"run"_s),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_runtime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.filePath(u"run"_s)));
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", m_runtime); }

    QString settings() const { return m_home.filePath(u"config/Vantelorquist/Vantelorquist.conf"_s); }

    // A later start's claim on another thread, while this one answers it;
    // none when it didn't end in time.
    static std::optional<OneInstance::Start> laterStart(const QString& settings, int wait = 3000)
    {
        auto claimed = std::async(std::launch::async, [settings, wait] { return OneInstance(settings).claim({}, wait); });
        const QDeadlineTimer deadline(wait + 10000);
        while (claimed.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (claimed.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
            return std::nullopt;
        return claimed.get();
    }

    QTemporaryDir m_home;
    QByteArray m_runtime;
};

// Mended: the lock was decided by the file's contents, and a file no
// process held (empty after a power cut, or written on another computer
// before the home folder was restored) kept every start out as "already
// running but doesn't answer".
TEST_F(OneInstanceTest, ALockFileNoProcessHoldsDoesntKeepAStartOut)
{
    const struct {
        const char* what;
        QByteArray contents;
    } leftovers[] = {
        {"empty", ""},
        {"another computer's", "4242\nVantelorquist\nanother-computer\n0123456789abcdef0123456789abcdef\n"},
        {"this computer's, of a running process", QByteArray::number(qint64(::getpid())) + "\nVantelorquist\n"
                                                      + QSysInfo::machineHostName().toUtf8() + '\n'},
        {"garbage", QByteArray("\0\xff\n\n", 4)},
    };
    for (const auto& leftover : leftovers) {
        SCOPED_TRACE(leftover.what);
        OneInstance instance(settings());
        QFile file(instance.lockPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(leftover.contents);
        file.close();
        EXPECT_EQ(instance.claim({}, 500), OneInstance::Start::first);
        EXPECT_EQ(laterStart(settings()), OneInstance::Start::handedOver);
    }
}

// The lock is the holder's as long as it lives and no longer, and no
// process it starts (an adb server outlives it) keeps it.
TEST_F(OneInstanceTest, TheLockLastsAsLongAsItsHolderAndNoChildKeepsIt)
{
    QProcess child;
    {
        OneInstance first(settings());
        ASSERT_EQ(first.claim({}, 500), OneInstance::Start::first);
        int asked = 0;
        QObject::connect(&first, &OneInstance::reopenRequested, &first, [&asked] { ++asked; });
        child.start(u"sleep"_s, {u"60"_s});
        ASSERT_TRUE(child.waitForStarted(5000));
        EXPECT_EQ(laterStart(settings()), OneInstance::Start::handedOver);
        EXPECT_EQ(asked, 1);
    }
    EXPECT_EQ(child.state(), QProcess::Running);
    OneInstance next(settings());
    EXPECT_EQ(next.claim({}, 500), OneInstance::Start::first);
    child.kill();
    child.waitForFinished(5000);
}

// The note of where the holder listens follows each holder, so a start from
// another login (another runtime folder) finds the one running now.
TEST_F(OneInstanceTest, AStartFromAnotherLoginFindsTheHolderOfNow)
{
    ASSERT_TRUE(QDir(m_home.path()).mkpath(u"run-other"_s));
    ASSERT_TRUE(QFile::setPermissions(m_home.filePath(u"run-other"_s),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const auto login = [this](const QString& runtime) { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.filePath(runtime))); };
    {
        OneInstance before(settings());
        ASSERT_EQ(before.claim({}, 500), OneInstance::Start::first);
        before.noteWhereListening();
    }
    login(u"run-other"_s);
    OneInstance now(settings());
    ASSERT_EQ(now.claim({}, 500), OneInstance::Start::first);
    // Once its window is up.
    now.noteWhereListening();
    login(u"run"_s);
    EXPECT_EQ(laterStart(settings()), OneInstance::Start::handedOver);
}

// Mended: settings in a folder that couldn't hold the lock (a read-only or
// full disk, a folder another user owns) left no guard, and every start
// was an application of its own on the same settings and records.
TEST_F(OneInstanceTest, SettingsInAFolderThatCantHoldTheLockStillHandOver)
{
    const QString readOnly = m_home.filePath(u"read-only"_s);
    ASSERT_TRUE(QDir().mkpath(readOnly));
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
    const struct {
        const char* what;
        QString settings;
    } folders[] = {
        {"a folder no one can write in", u"/proc/Vantelorquist.conf"_s},
        // The owner of every file may write in any folder.
        {"a folder made read-only", ::geteuid() == 0 ? QString() : readOnly + u"/Vantelorquist.conf"_s},
    };
    for (const auto& folder : folders) {
        if (folder.settings.isEmpty())
            continue;
        SCOPED_TRACE(folder.what);
        OneInstance first(folder.settings);
        EXPECT_EQ(first.claim({}, 500), OneInstance::Start::first);
        EXPECT_FALSE(QFile::exists(first.lockPath()));
        EXPECT_EQ(laterStart(folder.settings), OneInstance::Start::handedOver);
    }
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Mended: a start that could lock beside the settings again took the socket
// of one that had locked in the runtime folder, and ran as a second
// application; nor is a place taken from one that listens but is slow.
TEST_F(OneInstanceTest, AStartNeverTakesTheSocketOfOneAlive)
{
    const QString lockBeside = OneInstance(settings()).lockPath();
    // A lock file that can't be opened: the folder holds no lock for now.
    ASSERT_TRUE(QFile::link(u"/proc/no-such-folder/lock"_s, lockBeside));
    OneInstance first(settings());
    ASSERT_EQ(first.claim({}, 500), OneInstance::Start::first);
    ASSERT_TRUE(QFile::remove(lockBeside));
    EXPECT_EQ(laterStart(settings()), OneInstance::Start::handedOver);

    // Something alive at the socket that never answers keeps it.
    const QString socket = OneInstance(m_home.filePath(u"other/Vantelorquist.conf"_s)).socketPath();
    const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socket);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    ASSERT_EQ(::listen(silent, 4), 0);
    EXPECT_EQ(OneInstance(m_home.filePath(u"other/Vantelorquist.conf"_s)).claim({}, 300),
              OneInstance::Start::unanswered);
    // Still its socket, not one bound anew.
    const int asking = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(asking, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_GE(::accept(silent, nullptr, nullptr), 0);
    ::close(asking);
    ::close(silent);
}

// What a start's side of the socket gets back for `question`, read
// until the holder hangs up (or ten seconds pass) while the holder runs.
QByteArray askHolder(const QString& socketPath, const QByteArray& question)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return "no connection";
    }
    auto answer = std::async(std::launch::async, [fd, question] {
        timeval bound {10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        (void)::send(fd, question.constData(), size_t(question.size()), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        QByteArray got;
        char buffer[256];
        ssize_t n = 0;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            got.append(buffer, n);
        // A holder that hangs up on unread bytes resets the connection.
        return n < 0 && errno != ECONNRESET ? got + "(no hang-up)" : got;
    });
    while (answer.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ::close(fd);
    return answer.get();
}

// The holder answers a start of ours and hangs up on anything else, and
// goes on answering.
TEST_F(OneInstanceTest, TheHolderAnswersOnlyAStartsQuestion)
{
    OneInstance holder(settings());
    ASSERT_EQ(holder.claim({}, 500), OneInstance::Start::first);
    QList<QByteArray> asked;
    QObject::connect(&holder, &OneInstance::reopenRequested, &holder,
                     [&asked](const ActivationToken& token) { asked.append(token.encoded()); });
    const struct {
        const char* what;
        QByteArray question;
        QByteArray answer;
        int asks;
    } cases[] = {
        {"a start", "reopen\n", "shown\n", 1},
        {"a start with its token", "reopen " + ActivationToken{"w-token", "x-id"}.encoded() + '\n', "shown\n", 1},
        {"a stranger", "hello\n", "", 0},
        {"a line without end", QByteArray(5000, 'r'), "", 0},
        {"a question cut short", "reop", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        asked.clear();
        EXPECT_EQ(askHolder(holder.socketPath(), c.question), c.answer);
        EXPECT_EQ(asked.size(), c.asks);
    }
    EXPECT_EQ(laterStart(settings()), OneInstance::Start::handedOver);
}

// An ending holder removes its own socket and never one a start put at
// its place meanwhile.
TEST_F(OneInstanceTest, AnEndingHolderRemovesOnlyItsOwnSocket)
{
    QString path;
    {
        OneInstance holder(settings());
        ASSERT_EQ(holder.claim({}, 500), OneInstance::Start::first);
        path = holder.socketPath();
        ASSERT_TRUE(QFile::exists(path));
    }
    EXPECT_FALSE(QFile::exists(path));
    {
        OneInstance holder(settings());
        ASSERT_EQ(holder.claim({}, 500), OneInstance::Start::first);
        ASSERT_TRUE(QFile::remove(path));
        QFile taken(path);
        ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(QFile::exists(path));
}

} // namespace
