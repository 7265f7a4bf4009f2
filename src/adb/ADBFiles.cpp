#include "ADBFiles.h"

#include "ADBParsing.h"
#include "Paths.h"

#include <QFile>
#include <QFileInfo>

namespace {

QString enter(const QString& path)
{
    return QStringLiteral("cd ") + ADB::quote(path) + QStringLiteral(" || exit 1; ");
}

// With the mark in $M: $N is the test of find that tells an item changed
// after it, by change time where find has one (a write, a rename, a move
// into a folder all set it), else by modification time.
const QString changedSince =
    QStringLiteral("N=-newercm; find \"$M\" -maxdepth 0 -newercm \"$M\" >/dev/null 2>&1 || N=-newer; ");

// Each item as "type|size|time|./name/" and a line feed: no name holds "/",
// so the first "/" after "./" ends the name whatever bytes it holds.
const QString statCommand = QStringLiteral("stat -L -c '%F|%s|%Y|%n/' -- ");

// The names go to stat as "./name": stat reads a bare "-" as its standard input.
QString listCommand(const QString& path, bool showHidden)
{
    return enter(path) + statCommand + (showHidden ? QStringLiteral("./* ./.*") : QStringLiteral("./*"))
           + QStringLiteral(" 2>/dev/null; true");
}

// Prints "y" when the folder holds an item the listing would show, "unreadable"
// when its names can't be read (a glob then matches nothing). The glob is
// expanded by the shell itself, so no argument list limit applies; an
// unmatched glob stays itself and fails the test unless that name exists.
QString hasItemsCommand(const QString& path, bool showHidden)
{
    return enter(path) + QStringLiteral("[ -r . ] || { echo unreadable; exit 0; }; for f in ")
           + (showHidden ? QStringLiteral("* .*") : QStringLiteral("*"))
           + QStringLiteral("; do case \"$f\" in .|..) ;; *) [ -e \"$f\" ] && { echo y; break; } ;; "
                            "esac; done; true");
}

// The listing with the names handed to stat in batches that fit the phone's
// argument list limit; each name comes back as "./name".
QString batchedListCommand(const QString& path, bool showHidden)
{
    return enter(path) + QStringLiteral("find . -mindepth 1 -maxdepth 1 ")
           + (showHidden ? QString() : QStringLiteral("! -name '.*' ")) + QStringLiteral("-exec ") + statCommand
           + QStringLiteral("{} + 2>/dev/null; true");
}

// The item's name as a sentence shows it.
QString lastComponent(const QString& path)
{
    const QString name = path.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    return paths::shown(name.isEmpty() ? path : name);
}

} // namespace

void ADB::checkSendable(const QString& path)
{
    if (paths::carriesExactly(path))
        return;
    for (const QString& name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (paths::carriesExactly(name))
            continue;
        throw ADBError::failed(QStringLiteral("“") + paths::shown(name)
                               + QStringLiteral("” has a name that isn't valid UTF-8, so it can't be used from "
                                                "here. Rename it on the phone first."));
    }
}

std::vector<RemoteEntry> ADB::list(const QString& serial, const QString& path, bool showHidden,
                                   const Cancel& cancel) const
{
    checkSendable(path);
    std::vector<RemoteEntry> entries =
        adbparse::listing(shellData(serial, listCommand(path, showHidden), cancel), true);
    if (!entries.empty())
        return entries;

    // The listing hides stat's errors, so a folder with more names than fit
    // into one command line reads as empty. Tell that from a real empty folder.
    const auto unreadable = [&path] {
        return ADBError::failed(QStringLiteral("Couldn't read the items of “") + lastComponent(path)
                                + QStringLiteral("” on the phone."));
    };
    const QString hasItems = shell(serial, hasItemsCommand(path, showHidden), cancel).trimmed();
    if (hasItems == QLatin1StringView("unreadable"))
        throw unreadable();
    if (hasItems != QLatin1StringView("y"))
        return entries;

    entries = adbparse::listing(shellData(serial, batchedListCommand(path, showHidden), cancel), true);
    if (entries.empty())
        throw unreadable();
    return entries;
}

std::optional<bool> ADB::existence(const QString& serial, const QString& path, const Cancel& cancel) const
{
    try {
        checkSendable(path);
        // Either word proves the shell ran the test; anything else tells
        // nothing. "no" rather than a silent failure, which would have adb
        // asked whether the phone is still there.
        const QString answer =
            shell(serial, QStringLiteral("test -e ") + quote(path) + QStringLiteral(" && echo yes || echo no"), cancel)
                .trimmed();
        if (answer.endsWith(QLatin1StringView("yes")))
            return true;
        if (answer.endsWith(QLatin1StringView("no")))
            return false;
    } catch (const Error&) {
    }
    return std::nullopt;
}

bool ADB::exists(const QString& serial, const QString& path, const Cancel& cancel) const
{
    return existence(serial, path, cancel).value_or(false);
}

void ADB::remove(const QString& serial, const QString& path, const Cancel& cancel) const
{
    checkSendable(path);
    shell(serial, QStringLiteral("rm -rf ") + quote(path), cancel);
}

void ADB::makeFolder(const QString& serial, const QString& path, const Cancel& cancel) const
{
    checkSendable(path);
    // No "-p": a folder deleted on the phone meanwhile is not made again
    // around the new one. One that is there already is left as it is.
    shell(serial, QStringLiteral("test -d ") + quote(path) + QStringLiteral(" || mkdir ") + quote(path), cancel);
}

void ADB::move(const QString& serial, const QString& from, const QString& to, const Cancel& cancel) const
{
    checkSendable(from);
    checkSendable(to);
    shell(serial, QStringLiteral("mv ") + quote(from) + QLatin1Char(' ') + quote(to), cancel);
}

std::vector<RemoteEntry> ADBFiles::list(const QString& path, bool showHidden, const Cancel& cancel)
{
    return adb.list(serial, path, showHidden, cancel);
}

void ADBFiles::pull(const QString& path, const QString& destination, const Progress& progress,
                    const Cancel& cancel)
{
    // adb reads both paths itself, so they go unquoted; "-a" keeps the time.
    ADB::checkSendable(path);
    adb.run({QStringLiteral("-s"), serial, QStringLiteral("pull"), QStringLiteral("-a"), path, destination}, progress,
            cancel);
}

void ADBFiles::push(const QString& source, const QString& destination, const Progress& progress,
                    const Cancel& cancel)
{
    ADB::checkSendable(destination);
    const QStringList args{QStringLiteral("-s"), serial, QStringLiteral("push"), source, destination};
    // A folder's progress is counted: adb's line per file would slow it.
    // Its size is counted as adb begins.
    if (progress && paths::kindOf(source, true) == paths::Kind::folder)
        adb.run(args, progress, ADB::Tally{.count = [source] { return paths::localSize(source); }}, cancel);
    else
        adb.run(args, progress, cancel);
}

bool ADBFiles::exists(const QString& path, const Cancel& cancel)
{
    return adb.exists(serial, path, cancel);
}

std::optional<bool> ADBFiles::existence(const QString& path, const Cancel& cancel)
{
    return adb.existence(serial, path, cancel);
}

void ADBFiles::remove(const QString& path, const Cancel& cancel)
{
    adb.remove(serial, path, cancel);
}

void ADBFiles::makeFolder(const QString& path, const Cancel& cancel)
{
    adb.makeFolder(serial, path, cancel);
}

void ADBFiles::move(const QString& from, const QString& to, const Cancel& cancel)
{
    adb.move(serial, from, to, cancel);
}

std::optional<PhoneFiles::Clash> ADBFiles::putInPlace(const QString& from, const QString& to, const Covered& covered,
                                                      const Cancel& cancel)
{
    // One rename: the old file stays until the new one takes its place. A
    // folder that took the name meanwhile, or a link to one, would take the
    // file in instead; a file changed since the answer isn't the one it
    // covers. Without its mark that can't be told.
    ADB::checkSendable(from);
    ADB::checkSendable(to);
    QString since;
    if (!covered.since.isEmpty()) {
        ADB::checkSendable(covered.since);
        since = QStringLiteral("elif [ ! -f \"$M\" ]; then echo unmarked; elif [ -n \"$(find ") + ADB::quote(to)
                + QStringLiteral(" -maxdepth 0 $N \"$M\" 2>/dev/null)\" ]; then echo meanwhile; ");
    }
    QString answer;
    try {
        answer = adb.shell(serial,
                           (since.isEmpty() ? QString()
                                            : QStringLiteral("M=") + ADB::quote(covered.since) + QStringLiteral("; ")
                                                  + changedSince)
                               + QStringLiteral("if [ -d ") + ADB::quote(to) + QStringLiteral(" ]; then echo folder; ")
                               + since
                               + QStringLiteral("elif mv ") + ADB::quote(from) + QLatin1Char(' ') + ADB::quote(to)
                               + QStringLiteral(" 2>/dev/null; then echo moved; fi; true"),
                           cancel)
                     .trimmed();
    } catch (const ADBError& error) {
        cancel.check();
        if (error.description() == ADB::phoneLeftSentence())
            throw;
    }
    if (answer.endsWith(QLatin1StringView("moved")))
        return std::nullopt;
    if (answer.endsWith(QLatin1StringView("folder")))
        return Clash{to.section(QLatin1Char('/'), -1), true};
    if (answer.endsWith(QLatin1StringView("meanwhile")))
        return Clash{to.section(QLatin1Char('/'), -1), false, true};
    throw ADBError::failed(QStringLiteral("The phone couldn’t put the new copy of “") + lastComponent(to)
                           + QStringLiteral("” in its place."));
}

bool ADBFiles::takeName(const QString& from, const QString& to, const Cancel& cancel)
{
    ADB::checkSendable(from);
    ADB::checkSendable(to);
    // The check and the rename in one command: nothing that is at `to` is
    // replaced, and a folder there never receives the item. A refusal is
    // told in mv's words, which come alike with and without adb's shell
    // protocol.
    const QString answer =
        adb.shell(serial,
                  QStringLiteral("if [ -e ") + ADB::quote(to) + QStringLiteral(" ] || [ -L ") + ADB::quote(to)
                      + QStringLiteral(" ]; then echo taken; elif mv ") + ADB::quote(from) + QLatin1Char(' ')
                      + ADB::quote(to) + QStringLiteral(" 2>&1; then echo moved; fi; true"),
                  cancel)
            .trimmed();
    // The last line: mv's words, before it, may hold any name.
    const QString last = answer.section(QLatin1Char('\n'), -1).trimmed();
    if (last == QLatin1StringView("moved"))
        return true;
    if (last == QLatin1StringView("taken"))
        return false;
    if (const QString words = ADB::clean(answer); !words.isEmpty())
        throw ADBError::failed(words);
    throw ADBError::failed(QStringLiteral("The phone couldn’t give “") + lastComponent(to)
                           + QStringLiteral("” its name."));
}

namespace {

// A script built in from scripts/, as one command for the phone's shell:
// the values it reads are set first; its comments and indentation stay
// here, as they would only lengthen every command.
QString script(const QString& name, const QList<std::pair<QString, QString>>& values)
{
    QFile file(QStringLiteral(":/adb/scripts/") + name);
    if (!file.open(QIODevice::ReadOnly))
        throw ADBError::failed(QStringLiteral("The app is missing a part of its own (") + name + QStringLiteral(")."));
    QString command;
    for (const auto& [variable, value] : values)
        command += variable + QLatin1Char('=') + ADB::quote(value) + QLatin1Char('\n');
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QString code = line.trimmed();
        if (!code.isEmpty() && !code.startsWith(QLatin1Char('#')))
            command += code + QLatin1Char('\n');
    }
    return command;
}

// Where a merge puts aside the files that met one come meanwhile: the name
// of the folder its mark is in, a working name of that copy's own.
QString asideName(const QString& since)
{
    return since.section(QLatin1Char('/'), -2, -2);
}

} // namespace

std::vector<PhoneFiles::Clash> ADBFiles::mergeInto(const QString& from, const QString& to, const QString& since,
                                                     const Cancel& cancel)
{
    ADB::checkSendable(from);
    ADB::checkSendable(to);
    ADB::checkSendable(since);
    const QByteArray answer = adb.shellData(serial,
                                            script(QStringLiteral("merge.sh"), {{QStringLiteral("F"), from},
                                                                                {QStringLiteral("T"), to},
                                                                                {QStringLiteral("M"), since},
                                                                                {QStringLiteral("H"), asideName(since)}}),
                                            cancel);
    const qsizetype at = answer.indexOf("merged:");
    if (at < 0)
        throw ADBError::failed(QStringLiteral("The phone couldn’t move the copied items into “") + lastComponent(to)
                               + QStringLiteral("”."));
    // Each clash as kind, name and "/": no name holds "/", whatever bytes it holds.
    std::vector<Clash> clashes;
    QByteArray rest = answer.mid(at + 7);
    for (qsizetype slash; rest.size() >= 2 && (slash = rest.indexOf('/')) >= 1;) {
        const char kind = rest.at(0);
        if (kind != 'D' && kind != 'F' && kind != 'N')
            break;
        if (slash > 1)
            clashes.push_back({paths::text(rest.mid(1, slash - 1)), kind == 'D', kind == 'N'});
        rest = rest.mid(slash + 1);
    }
    return clashes;
}

void ADBFiles::pushInto(const QStringList& sources, const QString& folder, const Progress& progress,
                        const Cancel& cancel)
{
    ADB::checkSendable(folder);
    // Several sources need a folder that is there; the "/" says it is one.
    QStringList args{QStringLiteral("-s"), serial, QStringLiteral("push")};
    args += sources;
    args.append(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
    if (progress) {
        int64_t bytes = 0;
        for (const QString& source : sources)
            bytes += paths::localSize(source);
        adb.run(args, progress, ADB::Tally{bytes}, cancel);
        progress(1.0);
    } else {
        adb.run(args, cancel);
    }
}

void ADBFiles::makeFolders(const QString& base, const QStringList& relative, const Cancel& cancel)
{
    ADB::checkSendable(base);
    // From inside `base`: a folder removed meanwhile is not made again.
    QString command = enter(base) + QStringLiteral("mkdir -p --");
    for (const QString& path : relative) {
        ADB::checkSendable(path);
        command += QLatin1Char(' ') + ADB::quote(path);
    }
    adb.shell(serial, command, cancel);
}

bool ADBFiles::markTime(const QString& folder, const Cancel& cancel)
{
    ADB::checkSendable(folder);
    // A probe made after the mark must be newer: on a storage keeping its
    // times in seconds or coarser, no file is taken for finished by its date.
    // Looked at in short steps: the storage's clock ticks every few
    // milliseconds, and the copy waits on it.
    const QString answer = adb.shell(
        serial,
        QStringLiteral("mkdir ") + ADB::quote(folder) + QStringLiteral(" && cd ") + ADB::quote(folder)
            + QStringLiteral(" && : > mark && i=0 && while [ $i -lt 50 ]; do : > probe; "
                             "if [ probe -nt mark ]; then echo marked; break; fi; sleep 0.002; i=$((i+1)); done"),
        cancel);
    return answer.trimmed().endsWith(QLatin1StringView("marked"));
}

QString ADBFiles::markSince(const QString& folder, const Cancel& cancel)
{
    ADB::checkSendable(folder);
    // Once a probe made after the mark is newer, whatever is changed from
    // then on is too; on a storage keeping coarse times, anything changed
    // within the mark's own tick passes for older. In short steps, as in
    // markTime().
    const QString answer = adb.shell(
        serial,
        QStringLiteral("mkdir ") + ADB::quote(folder) + QStringLiteral(" && cd ") + ADB::quote(folder)
            + QStringLiteral(" && : > since && echo made && M=since && ") + changedSince
            + QStringLiteral("i=0 && while [ $i -lt 50 ]; do : > probe; "
                             "if [ -n \"$(find probe $N since 2>/dev/null)\" ]; "
                             "then break; fi; sleep 0.002; i=$((i+1)); done"),
        cancel);
    if (!answer.contains(QLatin1StringView("made")))
        throw ADBError::failed(QStringLiteral("The phone couldn’t make a file in “") + lastComponent(folder.section(QLatin1Char('/'), 0, -2))
                               + QStringLiteral("”."));
    return folder + QStringLiteral("/since");
}

void ADBFiles::moveWholeFiles(const QString& from, const QString& to, const QString& marked, const QString& since,
                              const Cancel& cancel)
{
    ADB::checkSendable(from);
    ADB::checkSendable(to);
    ADB::checkSendable(marked);
    ADB::checkSendable(since);
    adb.shell(serial,
              script(QStringLiteral("move-whole-files.sh"),
                     {{QStringLiteral("F"), from},
                      {QStringLiteral("T"), to},
                      {QStringLiteral("K"), marked + QStringLiteral("/mark")},
                      {QStringLiteral("M"), since},
                      {QStringLiteral("H"), since.isEmpty() ? QString() : asideName(since)}}),
              cancel);
}

DeviceInfo ADBFiles::info(const Cancel& cancel)
{
    return adb.info(serial, cancel);
}
