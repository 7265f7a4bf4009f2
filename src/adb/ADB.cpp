#include "ADB.h"
#include "WorkingNames.h"

#include "ADBParsing.h"

#include "ChildProcess.h"
#include "Error.h"
#include "Paths.h"
#include "WorkerPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <stop_token>
#include <thread>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr qsizetype tailLimit = 2048;
constexpr qsizetype percentWindow = 256;
// The phone decides how much it answers: what is held in memory has a bound.
// A listing of half a million items or a screenshot of the largest screens fit.
constexpr qsizetype outputLimit = 128 * 1024 * 1024;
// Standard error only makes the failure's message, from its end.
constexpr qsizetype errorLimit = 64 * 1024;

const QRegularExpression& percentPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\[\\s*(\\d{1,3})%\\]"));
    return pattern;
}

bool isExecutableFile(const QString& path)
{
    QFileInfo info(path);
    return info.isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

// After Stop, the time adb has to end on SIGTERM before it is killed.
constexpr std::chrono::milliseconds killGrace(300);

// Shared by the worker and the cancel handler: the start of the child and the
// cancellation are ordered by the lock. The wake descriptor becomes readable
// at the cancellation, so that the worker's wait notices it even when adb
// does not end.
struct ProcessBox {
    std::mutex lock;
    bool cancelled = false;
    std::unique_ptr<ChildProcess> process;
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    ProcessBox() = default;
    ProcessBox(const ProcessBox&) = delete;
    ProcessBox& operator=(const ProcessBox&) = delete;
    ~ProcessBox()
    {
        if (wake >= 0)
            ::close(wake);
    }

    // Returns false when the run was cancelled before the start.
    bool launch(const ChildProcess::Options& options)
    {
        std::lock_guard guard(lock);
        if (cancelled)
            return false;
        process = ChildProcess::start(options);
        return true;
    }

    void cancel()
    {
        std::lock_guard guard(lock);
        cancelled = true;
        if (process)
            process->terminate();
        if (wake >= 0) {
            const uint64_t one = 1;
            ssize_t ignored = ::write(wake, &one, sizeof one);
            (void)ignored;
        }
    }

    // Ends the child without the run counting as cancelled.
    void end()
    {
        std::lock_guard guard(lock);
        if (process)
            process->terminate();
    }

    bool isCancelled()
    {
        std::lock_guard guard(lock);
        return cancelled;
    }
};

// Keeps the bounded tail of terminal output and reports percentages.
class ProgressReader {
public:
    explicit ProgressReader(const Progress& progress) : m_progress(progress) {}

    void chunk(const char* data, qsizetype size)
    {
        m_tail += QString::fromUtf8(data, size);
        const qsizetype before = m_tail.size();
        m_tail = adbdetail::lastCharacters(m_tail, tailLimit);
        m_cut = m_cut || m_tail.size() < before;
        auto percent = ADB::lastPercent(adbdetail::lastCharacters(m_tail, percentWindow));
        if (percent)
            m_progress(*percent / 100.0);
    }

    QByteArray output() const
    {
        // A tail that was cut begins inside a progress line; that piece of a
        // path would read as the failure's message.
        if (m_cut) {
            static const QRegularExpression lineBreak(QStringLiteral("[\r\n]"));
            const qsizetype end = m_tail.indexOf(lineBreak);
            if (end >= 0)
                return m_tail.mid(end + 1).toUtf8();
        }
        return m_tail.toUtf8();
    }

private:
    const Progress& m_progress;
    QString m_tail;
    bool m_cut = false;
};

// How often a counted run's progress is read.
constexpr std::chrono::milliseconds tallyEvery(100);

// The bytes the process `pid` has read so far, from the system's
// accounting; nullopt when it can't be read.
std::optional<int64_t> bytesRead(pid_t pid)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/io", int(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char text[512];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return std::nullopt;
    text[n] = 0;
    const char* at = std::strstr(text, "rchar:");
    if (!at)
        return std::nullopt;
    return std::strtoll(at + 6, nullptr, 10);
}

bool talliesReadable()
{
    // Another process's count, a child's included, is closed to us where
    // Yama allows tracing only to administrators or to nobody.
    static const bool readable = [] {
        if (!bytesRead(::getpid()))
            return false;
        char scope = '0';
        const int fd = ::open("/proc/sys/kernel/yama/ptrace_scope", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            if (::read(fd, &scope, 1) != 1)
                scope = '0';
            ::close(fd);
        }
        return scope < '2';
    }();
    return readable;
}

// The reason that ends adb's sentence for a file it couldn't copy, as
// clean() words it ("Copying “a.txt” failed: File name too long."), as an
// error number; 0 for any other sentence. The computer's and the phone's
// strerror say it alike.
// The system's sentences for its error numbers, untranslated as adb and the
// phone print them (strerror answers in the desktop's language).
const QHash<QString, int>& errorNumbers()
{
    static const QHash<QString, int> numbers = [] {
        QHash<QString, int> all;
        for (int number = 1; number < 200; ++number) {
            if (const char* text = ::strerrordesc_np(number))
                all.insert(QString::fromUtf8(text), number);
        }
        return all;
    }();
    return numbers;
}

int causeNumber(const QString& sentence)
{
    if (!sentence.startsWith(QStringLiteral("Copying “")) || !sentence.endsWith(QLatin1Char('.')))
        return 0;
    return errorNumbers().value(sentence.mid(sentence.lastIndexOf(QStringLiteral(": ")) + 2).chopped(1));
}

} // namespace

QStringList ADB::candidatePaths()
{
    QStringList paths;
    if (QCoreApplication::instance()) {
        const QString resources =
            QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vantelorquist"));
        paths << resources + QStringLiteral("/platform-tools/adb");
    }
    if (qEnvironmentVariableIsSet("ANDROID_HOME"))
        paths << qEnvironmentVariable("ANDROID_HOME") + QStringLiteral("/platform-tools/adb");
    paths << QStringLiteral("/opt/homebrew/bin/adb") << QStringLiteral("/usr/local/bin/adb");
    const QString home = QDir::homePath();
    paths << home + QStringLiteral("/Library/Android/sdk/platform-tools/adb");
    paths << QStringLiteral("/usr/bin/adb");
    paths << home + QStringLiteral("/Android/Sdk/platform-tools/adb");
    return paths;
}

std::optional<ADB> ADB::locate()
{
    for (const QString& path : candidatePaths()) {
        if (isExecutableFile(path))
            return ADB(path);
    }
    return std::nullopt;
}

QByteArray ADB::runData(const QStringList& args, const Progress& progress, const Cancel& cancel) const
{
    return runData(args, progress, std::nullopt, cancel);
}

namespace {

// A count run on a thread of its own, beside the caller's work; where no
// thread can be had, at once. Nothing of it outlives the object.
class CountBeside {
public:
    explicit CountBeside(const std::function<int64_t()>& count)
    {
        try {
            m_thread = WorkerPool::shared().ownThread([this, count] {
                try {
                    const int64_t counted = count();
                    const std::lock_guard guard(m_lock);
                    m_bytes = counted;
                } catch (...) {
                    // Not counted: the run goes on without telling progress.
                }
            });
        } catch (const NoThreadError&) {
            m_bytes = count();
        }
    }
    ~CountBeside()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    CountBeside(const CountBeside&) = delete;
    CountBeside& operator=(const CountBeside&) = delete;

    // The count, once done.
    std::optional<int64_t> bytes()
    {
        const std::lock_guard guard(m_lock);
        return m_bytes;
    }

private:
    std::mutex m_lock;
    std::optional<int64_t> m_bytes;
    std::thread m_thread;
};

// What a run of adb gave, once it ended on its own.
struct Ran {
    int code = 0;
    QByteArray out;  // standard output (empty on a terminal)
    QByteArray err;  // the end of standard error
    bool onTerminal = false;
    QString terminal; // the terminal's kept end, when it ran on one and failed
};

Ran execute(const QString& executable, const QStringList& args, const Progress& progress,
            const std::optional<ADB::Tally>& tally, const Cancel& cancel)
{
    ProcessBox box;
    std::stop_callback onCancel(cancel.token(), [&box] { box.cancel(); });

    const bool counted = progress && tally && (tally->bytes > 0 || tally->count) && talliesReadable();
    const bool terminal = progress && !counted;
    int64_t total = counted ? tally->bytes : 0;
    std::optional<CountBeside> counting;
    if (counted && tally->count)
        counting.emplace(tally->count);
    ChildProcess::Options options;
    options.program = executable;
    options.arguments = args;
    // A push or pull left running by a killed application would write on
    // after the next start cleaned up. Only those: the tie costs a fork.
    const qsizetype command = args.size() > 2 && args[0] == QLatin1StringView("-s") ? 2 : 0;
    options.endsWithUs = command < args.size()
                         && (args[command] == QLatin1StringView("push") || args[command] == QLatin1StringView("pull"));
    if (terminal) {
        // adb prints its percentage lines only to a terminal.
        options.output = ChildProcess::Output::Terminal;
        options.environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm-256color"));
    }
    if (!box.launch(options))
        throw Cancelled();
    ChildProcess& child = *box.process;

    // Drain standard output (or the terminal) and standard error together.
    QByteArray out;
    QByteArray err;
    bool tooLong = false;
    // Whole lines of the end, within the limit.
    const auto keepEnd = [](QByteArray& text) {
        if (text.size() <= errorLimit)
            return;
        const qsizetype cut = text.indexOf('\n', text.size() - errorLimit);
        text.remove(0, cut < 0 ? text.size() - errorLimit : cut + 1);
    };
    ProgressReader reader(progress);
    char buffer[64 * 1024];
    int outFd = child.outputFd();
    int errFd = child.errorFd();
    const int exitFd = child.exitFd();
    bool ended = false;
    auto consume = [&](int& fd) {
        // After the end, take only what is there: a grandchild (a forked adb
        // server) may hold the pipe open for as long as it lives.
        ssize_t n = readAvailable(fd, buffer, sizeof buffer);
        if (n == 0) {
            fd = -1;
            return false;
        }
        if (n < 0)
            return false;
        if (fd == errFd) {
            err.append(buffer, n);
            if (err.size() > 2 * errorLimit)
                keepEnd(err);
        } else if (terminal) {
            reader.chunk(buffer, n);
        } else if (!tooLong) {
            if (out.size() + n > outputLimit) {
                tooLong = true;
                out.clear();
                box.end();
            } else {
                out.append(buffer, n);
            }
        }
        return true;
    };
    // Once Stop has ended the run, adb gets a short grace to end on SIGTERM and is
    // then killed: nothing waits on a child that hangs on a silent phone.
    std::optional<std::chrono::steady_clock::time_point> killAt;
    bool killed = false;
    auto tallyAt = std::chrono::steady_clock::now() + tallyEvery;
    while (!ended) {
        if (!killAt && box.isCancelled())
            killAt = std::chrono::steady_clock::now() + killGrace;
        int timeout = -1;
        if (killAt && !killed) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*killAt - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                child.signal(SIGKILL);
                killed = true;
            } else {
                timeout = int(left.count());
            }
        }
        // Without a descriptor for the child's end, its end is looked for now and then.
        if (exitFd < 0 && (killAt || (outFd < 0 && errFd < 0)))
            timeout = timeout < 0 ? 20 : std::min(timeout, 20);
        if (exitFd < 0 && (killAt || (outFd < 0 && errFd < 0)) && child.hasEnded()) {
            ended = true;
            break;
        }
        if (counted && !killAt) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= tallyAt) {
                if (counting)
                    total = counting->bytes().value_or(0);
                if (const std::optional<int64_t> read = bytesRead(child.pid()); read && total > 0)
                    progress(std::min(1.0, double(*read) / double(total)));
                tallyAt = now + tallyEvery;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(tallyAt - now);
            timeout = timeout < 0 ? int(left.count()) : std::min(timeout, int(left.count()));
        }
        pollfd fds[4];
        nfds_t count = 0;
        if (outFd >= 0)
            fds[count++] = {outFd, POLLIN, 0};
        if (errFd >= 0)
            fds[count++] = {errFd, POLLIN, 0};
        if (exitFd >= 0)
            fds[count++] = {exitFd, POLLIN, 0};
        if (box.wake >= 0 && !killAt)
            fds[count++] = {box.wake, POLLIN, 0};
        if (::poll(fds, count, timeout) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (fds[i].fd == exitFd)
                ended = true;
            else if (fds[i].fd == outFd)
                consume(outFd);
            else if (fds[i].fd == errFd)
                consume(errFd);
        }
    }
    if (ended) {
        for (int* fd : {&outFd, &errFd}) {
            if (*fd >= 0) {
                ::fcntl(*fd, F_SETFL, ::fcntl(*fd, F_GETFL) | O_NONBLOCK);
                while (*fd >= 0 && consume(*fd)) {
                }
            }
        }
    }

    keepEnd(err);
    const ExitStatus status = child.wait();
    // Only our own Stop makes a cancellation, whatever adb then ended with.
    if (box.isCancelled())
        throw Cancelled();
    if (tooLong)
        throw ADBError::failed(QStringLiteral("The phone's answer was too long to read."));
    // A signal we did not send: the work may be half done, and is told.
    if (status.signalled)
        throw ADBError::stopped();
    Ran ran;
    ran.code = status.code;
    ran.err = std::move(err);
    ran.onTerminal = terminal;
    if (terminal)
        ran.terminal = status.code == 0 ? QString() : QString::fromUtf8(reader.output());
    else
        ran.out = std::move(out);
    return ran;
}

std::optional<QString> readNamed(const QString& text, const ADB::Named& named, bool terminal);

// A run that ended with a non-zero status, in words.
[[noreturn]] void fail(const ADB& adb, const QStringList& args, const Ran& ran, const Cancel& cancel)
{
    const ADB::Named named = ADB::namedIn(args);
    QString message;
    if (!ran.err.isEmpty())
        message = ADB::clean(QString::fromUtf8(ran.err), named);
    else if (ran.onTerminal)
        // The terminal's kept end, where adb's line about the paths is read;
        // else its last lines.
        message = readNamed(ran.terminal, named, true).value_or(ADB::clean(adbdetail::lastLines(ran.terminal.toUtf8())));
    else
        message = ADB::clean(QString::fromUtf8(ran.out), named);
    // adb often ends without a word when the phone goes mid-command: ask
    // whether it is still there.
    const bool forPhone = args.size() >= 3 && args.at(0) == QLatin1StringView("-s");
    if (message.isEmpty() && forPhone && args.at(2) != QLatin1StringView("get-state")) {
        try {
            adb.run({QStringLiteral("-s"), args.at(1), QStringLiteral("get-state")}, cancel);
        } catch (const Cancelled&) {
            throw;
        } catch (const std::exception&) {
            message = ADB::phoneLeftSentence();
        }
    }
    throw ADBError::failed(message, causeNumber(message));
}

} // namespace

QByteArray ADB::runData(const QStringList& args, const Progress& progress, const std::optional<Tally>& tally,
                        const Cancel& cancel) const
{
    Ran ran = execute(executable, args, progress, tally, cancel);
    if (ran.code != 0)
        fail(*this, args, ran, cancel);
    return std::move(ran.out);
}

QString ADB::run(const QStringList& args, const Progress& progress, const Cancel& cancel) const
{
    return QString::fromUtf8(runData(args, progress, cancel));
}

QString ADB::run(const QStringList& args, const Progress& progress, const Tally& tally, const Cancel& cancel) const
{
    return QString::fromUtf8(runData(args, progress, tally, cancel));
}

ADB::ShellAnswer ADB::shellAnswer(const QString& serial, const QString& command, const Cancel& cancel) const
{
    // adb 29 ends a shell whose connection drops with status 0 and what
    // had come so far, which reads as a command done and an answer whole;
    // a phone without adb's shell protocol (Android 6 and older) gives no
    // status at all. The command's end prints a mark of this run's own,
    // which no name on the phone can foresee, and the command's status
    // after it: an answer without it is no answer.
    const QByteArray mark = adbdetail::newShellMark();
    const QStringList args{QStringLiteral("-s"), serial, QStringLiteral("shell"),
                           adbdetail::markedCommand(command, mark)};
    const Ran ran = execute(executable, args, {}, std::nullopt, cancel);
    if (const std::optional<adbdetail::Marked> marked = adbdetail::beforeMark(ran.out, mark))
        return {marked->answer, ran.err, marked->status};
    // adb's own failure (the phone not there, the connection refused).
    if (ran.code != 0)
        fail(*this, args, ran, cancel);
    // Whether the phone is still there says which sentence.
    try {
        run({QStringLiteral("-s"), serial, QStringLiteral("get-state")}, cancel);
    } catch (const Cancelled&) {
        throw;
    } catch (const std::exception&) {
        throw ADBError::failed(phoneLeftSentence());
    }
    throw ADBError::failed(answerLostSentence());
}

QByteArray ADB::shellData(const QString& serial, const QString& command, const Cancel& cancel) const
{
    ShellAnswer answer = shellAnswer(serial, command, cancel);
    if (answer.status == 0)
        return std::move(answer.out);
    // The phone answered: its words are the failure's, from standard error
    // where the phone keeps it apart.
    throw ADBError::failed(clean(QString::fromUtf8(answer.err.isEmpty() ? answer.out : answer.err)));
}

QString ADB::shell(const QString& serial, const QString& command, const Cancel& cancel) const
{
    return QString::fromUtf8(shellData(serial, command, cancel));
}

QString ADB::clean(const QString& text)
{
    static const QRegularExpression escapes(QStringLiteral("\\x{1B}\\[[0-9;]*[A-Za-z]"));
    static const QRegularExpression lowControls(QStringLiteral("[\\x{0000}-\\x{0008}]"));
    static const QRegularExpression lineEnds(QStringLiteral("\r\n|\r|\n"));
    static const QRegularExpression progressLine(QStringLiteral("^\\s*\\[\\s*\\d{1,3}%\\]"));
    // The tally adb prints after a copy, even a failed one.
    static const QRegularExpression tallyLine(QStringLiteral(": \\d+ files? (?:pushed|pulled)\\b.*\\)\\s*$"));
    // adb's sentence for a file it couldn't send or receive; the cause is
    // kept, the paths give way to the item's name. A copy of several items
    // goes on after one fails: the first failure is the reason.
    // Read by its shape, whatever the names hold (quotes, colons, line
    // ends): the first such line's paths run to the "': " that a cause of
    // plain words (no quote, colon or line end) follows to the line's end.
    static const QRegularExpression copyFailure(
        QStringLiteral("^(?:failed to copy|cannot (?:write|read|stat|open|create)) '(.*?)': "
                       "(?:remote )?(?:[a-z_() ]*(?:failed|couldn't create file): )?([^':\\n]+)$"),
        QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression unsureInstall(
        QStringLiteral("^failed to install (.+?):\\s*(.*)$"), QRegularExpression::DotMatchesEverythingOption);
    QString s = text;
    s.remove(escapes);
    s.remove(QStringLiteral("^D"));
    s.remove(lowControls);
    s.remove(QStringLiteral("adb: error: "));
    s.remove(QStringLiteral("adb: "));
    // adb's percentage lines, on a terminal rewritten in place, are no part of a reason.
    QStringList kept;
    for (const QString& line : s.split(lineEnds)) {
        if (!progressLine.match(line).hasMatch() && !tallyLine.match(line).hasMatch())
            kept << line;
    }
    s = kept.join(QLatin1Char('\n'));
    // The person knows the item by its own name, never by ours.
    s = workingnameform::withItemNames(s);
    s = s.trimmed();
    // adb's last word on an install that it lost the phone during (or an
    // empty reason) doesn't say whether the phone had finished it.
    if (const QRegularExpressionMatch install = unsureInstall.match(s); install.hasMatch()) {
        const QString reason = install.captured(2).trimmed();
        if (reason.isEmpty() || saysThePhoneLeft(reason)) {
            const QString path = install.captured(1);
            return QStringLiteral("“") + path.mid(path.lastIndexOf(QLatin1Char('/')) + 1)
                   + QStringLiteral("” may or may not have been installed: the connection to the phone ended before "
                                    "it answered.");
        }
    }
    if (saysThePhoneLeft(s))
        return phoneLeftSentence();
    if (const QRegularExpressionMatch copy = copyFailure.match(s); copy.hasMatch()) {
        // The source's path comes first: the item the person chose.
        QString path = copy.captured(1);
        path.truncate(path.indexOf(QStringLiteral("' to '")) >= 0 ? path.indexOf(QStringLiteral("' to '"))
                                                                   : path.size());
        QString cause = copy.captured(2).trimmed();
        while (cause.endsWith(QLatin1Char('.')))
            cause.chop(1);
        return QStringLiteral("Copying “") + path.mid(path.lastIndexOf(QLatin1Char('/')) + 1)
               + QStringLiteral("” failed: ") + cause + QStringLiteral(".");
    }
    return s;
}

ADB::Named ADB::namedIn(const QStringList& args)
{
    qsizetype at = args.size() > 2 && args[0] == QLatin1StringView("-s") ? 2 : 0;
    if (at >= args.size())
        return {};
    const QString command = args[at];
    const bool install = command == QLatin1StringView("install");
    if (!install && command != QLatin1StringView("push") && command != QLatin1StringView("pull"))
        return {};
    // The options come first; every path this application gives is absolute.
    for (++at; at < args.size() && args[at].startsWith(QLatin1Char('-')); ++at) {
    }
    Named named;
    named.sources = args.mid(at);
    if (!install && !named.sources.isEmpty())
        named.destination = named.sources.takeLast();
    return named;
}

namespace {

QString lastPart(const QString& path)
{
    const QString name = path.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    return name.isEmpty() ? path : name;
}

QString withoutEndSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// Where the line that starts at `from` ends.
qsizetype lineEnd(const QString& text, qsizetype from)
{
    qsizetype end = from;
    while (end < text.size() && text[end] != QLatin1Char('\n') && text[end] != QLatin1Char('\r'))
        ++end;
    return end;
}

// adb's sentence about the first item it failed on, read where the paths
// it was given stand in its line: a copy's "failed to copy 'SOURCE' to
// 'DESTINATION': CAUSE" or a sentence about one of them, each path one
// that was given or an item inside it, whatever its names hold (quotes,
// "' to '", "': ", line ends); an install's "failed to install PATH: CAUSE".
// None when no line reads so.
std::optional<QString> namedFailure(const QString& text, const ADB::Named& named)
{
    struct Pair {
        QString source;
        QStringList destinations;
    };
    std::vector<Pair> pairs;
    const QString destination = withoutEndSlashes(named.destination);
    for (const QString& given : named.sources) {
        const QString source = withoutEndSlashes(given);
        if (source.isEmpty())
            continue;
        Pair pair{source, {}};
        if (!destination.isEmpty()) {
            // Into the destination, or as it.
            pair.destinations << destination
                              << (destination == QLatin1StringView("/") ? QString() : destination)
                                     + QLatin1Char('/') + lastPart(source);
        }
        pairs.push_back(pair);
    }
    if (pairs.empty())
        return std::nullopt;

    // The item of `path`, one that was given or one inside it, by its last name.
    const auto copying = [](const QString& path, QString cause) -> QString {
        static const QRegularExpression adbsOwn(
            QStringLiteral("^(?:remote )?(?:[a-z_() ]*(?:failed|couldn't create file): )?"));
        cause.remove(adbsOwn);
        cause = cause.trimmed();
        if (cause == QLatin1StringView("couldn't read from device"))
            return ADB::phoneLeftSentence();
        while (cause.endsWith(QLatin1Char('.')))
            cause.chop(1);
        return QStringLiteral("Copying “") + paths::shown(lastPart(path)) + QStringLiteral("” failed: ") + cause
               + QStringLiteral(".");
    };
    // What follows `prefix` at `at`: the rest of an item's path inside it
    // ("" or "/..."), ended by "': " and a cause running to the line's end.
    // Of several readings, one whose cause is the system's own sentence.
    struct Reading {
        QString inside;
        QString cause;
    };
    const auto pathAt = [&text](qsizetype at, const QString& prefix) -> std::optional<Reading> {
        if (!QStringView(text).mid(at).startsWith(prefix))
            return std::nullopt;
        at += prefix.size();
        std::optional<Reading> first;
        for (qsizetype end = text.indexOf(QStringLiteral("': "), at); end >= 0;
             end = text.indexOf(QStringLiteral("': "), end + 1)) {
            const QString inside = text.mid(at, end - at);
            if (!inside.isEmpty() && !inside.startsWith(QLatin1Char('/')))
                break;
            const qsizetype causeAt = end + 3;
            const Reading reading{inside, text.mid(causeAt, lineEnd(text, causeAt) - causeAt)};
            if (errorNumbers().contains(reading.cause.trimmed()))
                return reading;
            if (!first)
                first = reading;
        }
        return first;
    };

    static const QString copyHead = QStringLiteral("failed to copy '");
    static const QString installHead = QStringLiteral("failed to install ");
    static const QStringList singleHeads{
        QStringLiteral("cannot write '"),        QStringLiteral("cannot read '"),
        QStringLiteral("cannot stat '"),         QStringLiteral("cannot open '"),
        QStringLiteral("cannot create file/directory '"), QStringLiteral("cannot create '"),
        QStringLiteral("failed to access '"),    QStringLiteral("failed to create directory '"),
        QStringLiteral("failed to stat local file '"), QStringLiteral("failed to stat remote object '"),
    };
    for (qsizetype line = 0; line < text.size(); line = lineEnd(text, line) + 1) {
        qsizetype at = line;
        for (const QLatin1StringView prefix : {QLatin1StringView("adb: "), QLatin1StringView("error: ")}) {
            if (QStringView(text).mid(at).startsWith(prefix))
                at += prefix.size();
        }
        const QStringView rest = QStringView(text).mid(at);
        if (rest.startsWith(copyHead)) {
            at += copyHead.size();
            // The same item inside both: "SOURCE+R' to 'DESTINATION+R': CAUSE".
            for (const Pair& pair : pairs) {
                if (!rest.mid(copyHead.size()).startsWith(pair.source))
                    continue;
                const qsizetype inside = at + pair.source.size();
                for (qsizetype to = text.indexOf(QStringLiteral("' to '"), inside); to >= 0;
                     to = text.indexOf(QStringLiteral("' to '"), to + 1)) {
                    const QString within = text.mid(inside, to - inside);
                    if (!within.isEmpty() && !within.startsWith(QLatin1Char('/')))
                        break;
                    for (const QString& into : pair.destinations) {
                        const QString ending = QStringLiteral("' to '") + into + within + QStringLiteral("': ");
                        if (QStringView(text).mid(to).startsWith(ending)) {
                            const qsizetype causeAt = to + ending.size();
                            return copying(pair.source + within, text.mid(causeAt, lineEnd(text, causeAt) - causeAt));
                        }
                    }
                }
            }
        } else if (rest.startsWith(installHead)) {
            for (const Pair& pair : pairs) {
                const QString head = installHead + pair.source + QStringLiteral(":");
                if (!rest.startsWith(head))
                    continue;
                const QString reason = text.mid(at + head.size()).trimmed();
                // adb's last word on an install that it lost the phone
                // during (or an empty reason) doesn't say whether the phone
                // had finished it.
                if (reason.isEmpty() || ADB::saysThePhoneLeft(reason)) {
                    return QStringLiteral("“") + paths::shown(lastPart(pair.source))
                           + QStringLiteral("” may or may not have been installed: the connection to the phone "
                                            "ended before it answered.");
                }
                return std::nullopt;
            }
        } else {
            for (const QString& head : singleHeads) {
                if (!rest.startsWith(head))
                    continue;
                const qsizetype pathStart = at + head.size();
                for (const Pair& pair : pairs) {
                    if (const std::optional<Reading> source = pathAt(pathStart, pair.source))
                        return copying(pair.source + source->inside, source->cause);
                    for (const QString& into : pair.destinations) {
                        // Inside the destination the item keeps its name;
                        // as the destination, it is the source's.
                        if (const std::optional<Reading> made = pathAt(pathStart, into))
                            return copying(made->inside.isEmpty() ? pair.source : made->inside, made->cause);
                    }
                }
                break;
            }
        }
    }
    return std::nullopt;
}

std::optional<QString> readNamed(const QString& text, const ADB::Named& named, bool terminal)
{
    static const QRegularExpression escapes(QStringLiteral("\\x{1B}\\[[0-9;]*[A-Za-z]"));
    QString plain = text;
    plain.remove(escapes);
    // A terminal writes a line end as CR LF, those in names too.
    if (terminal) {
        if (std::optional<QString> sentence =
                namedFailure(QString(plain).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), named))
            return sentence;
    }
    return namedFailure(plain, named);
}

} // namespace

QString ADB::clean(const QString& text, const Named& named)
{
    return readNamed(text, named, false).value_or(clean(text));
}

bool ADB::saysThePhoneLeft(const QString& text)
{
    // adb's own lines, whole, after its prefixes: words inside a name (a
    // shell's "cd: /sdcard/Device not found: No such file", a quoted
    // "Mum's device offline.jpg") never make one.
    static const QRegularExpression gone(
        QStringLiteral("^(?:adb: )?(?:error: )?(?:"
                       "(?:(?:failed to get feature set|failed to read response): )?"
                       "(?:device offline|device not found|device '.*' (?:not found|offline)|"
                       "no devices/emulators found|closed)"
                       "|(?:failed to copy|cannot (?:write|read|stat|open|create)) '.*'(?: to '.*')?: "
                       "(?:remote )?(?:(?:write|read) failed: )?couldn't read from device"
                       ")$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression lineEnds(QStringLiteral("\\r\\n|\\r|\\n"));
    // adb says it first or last; a name holding a line end can make a line
    // of its own only in between.
    QStringList lines;
    for (const QString& line : text.split(lineEnds)) {
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    }
    if (lines.isEmpty())
        return false;
    return gone.match(lines.first()).hasMatch() || gone.match(lines.last()).hasMatch();
}

QString ADB::phoneLeftSentence()
{
    return QStringLiteral("The phone was disconnected.");
}

QString ADB::answerLostSentence()
{
    return QStringLiteral("The connection to the phone ended before it answered.");
}

std::optional<int> ADB::lastPercent(const QString& text)
{
    QRegularExpressionMatch last;
    auto it = percentPattern().globalMatch(text);
    while (it.hasNext())
        last = it.next();
    if (!last.hasMatch())
        return std::nullopt;
    const int value = last.captured(1).toInt();
    if (value > 100)
        return std::nullopt;
    return value;
}

namespace adbdetail {

QByteArray newShellMark()
{
    quint64 bits[2];
    QRandomGenerator::system()->fillRange(bits);
    return "vantelorquist-end-" + QByteArray::number(bits[0], 16) + QByteArray::number(bits[1], 16);
}

QString markedCommand(const QString& command, const QByteArray& mark)
{
    // In a subshell, so that the command's own "exit" still leaves the
    // mark; its status is read before anything else runs.
    return QStringLiteral("(") + command + QStringLiteral("\n); echo \"\n") + QString::fromLatin1(mark)
           + QStringLiteral(" $?\"");
}

std::optional<Marked> beforeMark(const QByteArray& output, const QByteArray& mark)
{
    // The mark's line is the output's last: "MARK STATUS", after a line end
    // of its own (CR LF on a terminal of older phones).
    QByteArray rest = output;
    const bool crlf = rest.endsWith("\r\n");
    if (!crlf && !rest.endsWith('\n'))
        return std::nullopt;
    rest.chop(crlf ? 2 : 1);
    const QByteArray before = crlf ? "\r\n" + mark + ' ' : "\n" + mark + ' ';
    const qsizetype at = rest.lastIndexOf(before);
    if (at < 0)
        return std::nullopt;
    const QByteArray digits = rest.mid(at + before.size());
    bool number = !digits.isEmpty() && digits.size() <= 3;
    for (const char c : digits)
        number = number && c >= '0' && c <= '9';
    if (!number)
        return std::nullopt;
    return Marked{rest.first(at), digits.toInt()};
}

QString lastLines(const QByteArray& output)
{
    QString text = QString::fromUtf8(output);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QStringList pieces = text.split(QRegularExpression(QStringLiteral("[\r\n]")));
    QStringList kept;
    for (QString piece : pieces) {
        piece = adbparse::trimWhere(piece, [](QChar c) {
            const auto category = c.category();
            return category == QChar::Other_Control || category == QChar::Other_Format;
        });
        if (piece.isEmpty() || piece.startsWith(QLatin1Char('[')))
            continue;
        kept << piece;
    }
    while (kept.size() > 2)
        kept.removeFirst();
    return kept.join(QLatin1Char('\n'));
}

QString lastCharacters(const QString& text, qsizetype count)
{
    // Code units bound the characters from above: nothing to cut.
    if (text.size() <= count)
        return text;
    // adb's terminal output is ASCII, where every character is one unit but
    // CR LF; segmenting the whole text for each chunk would slow copies down.
    qsizetype cut = text.size();
    for (qsizetype seen = 0; seen < count && cut > 0 && text.at(cut - 1).unicode() < 0x80; ++seen)
        cut -= (cut >= 2 && text.at(cut - 1) == QLatin1Char('\n') && text.at(cut - 2) == QLatin1Char('\r')) ? 2 : 1;
    // Only when no non-ASCII character is in or right before the kept part.
    if (cut == 0 || text.at(cut - 1).unicode() < 0x80)
        return text.mid(cut);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    qsizetype seen = 0;
    qsizetype position = text.size();
    while (seen < count) {
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous < 0)
            return text;
        position = previous;
        ++seen;
    }
    return text.mid(position);
}

} // namespace adbdetail
