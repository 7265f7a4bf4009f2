#include "WindowFixture.h"

#include "ContentView.h"

#include <QDialog>

#include <type_traits>

namespace windowtest {

namespace {

// A command's argument as written to `calls`.
template <class T> QString text(const T& value)
{
    if constexpr (std::is_same_v<T, QString>)
        return value;
    else if constexpr (std::is_same_v<T, std::optional<QString>>)
        return value.value_or(u"(current)"_s);
    else if constexpr (std::is_same_v<T, RemoteEntry>)
        return value.name;
    else if constexpr (std::is_same_v<T, Device>)
        return value.serial;
    else if constexpr (std::is_same_v<T, QList<RemoteEntry>>)
        return browsertest::names(value).join(QLatin1Char(','));
    else {
        QStringList paths;
        for (const QUrl& url : value)
            paths.append(url.toLocalFile());
        return paths.join(QLatin1Char(','));
    }
}

} // namespace

Environment WindowTest::fullEnvironment()
{
    Environment env = bareEnvironment();
    env.canOpenWindow = [](const QString& identifier) {
        return QStringList{u"mirror"_s, u"apps"_s, u"logcat"_s}.contains(identifier);
    };
    env.openWindow = [this](const QString& identifier) { openedWindows.append(identifier); };
    const auto record = [this](const char* name) {
        return [this, name](const auto&... arguments) {
            calls.append((QString::fromLatin1(name) + ... + (QLatin1Char(':') + text(arguments))));
        };
    };
    BrowserCommands& c = env.commands;
    c.disconnect = record("disconnect");
    c.conflictingApps = [this] { return conflictingApps; };
    c.quitConflictingApps = record("quitConflictingApps");
    c.wirelessSheet = [](QWidget* parent) { return new QDialog(parent); };
    c.showAboutPanel = record("showAboutPanel");
    return env;
}

Environment WindowTest::bareEnvironment()
{
    Environment env;
    env.model = &model();
    return env;
}

void WindowTest::adbPhoneIn(const QString& state, const QList<RemoteEntry>& sdcard)
{
    adb->setDevices({adbPhone(u"A1"_s, state)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, sdcard);
    pass();
    settle();
}

void WindowTest::readyMtpPhone()
{
    mtp->setDevices({mtpPhone(u"M1"_s)});
    mtp->phone(u"M1"_s)->setFolder(u"/sdcard"_s, {});
    pass();
    settle();
}

void WindowTest::go(const QString& path)
{
    // A folder the phone doesn't have sends the browser back to /sdcard.
    if (!adb->phone(u"A1"_s)->exists(path, Cancel()))
        adb->phone(u"A1"_s)->setFolder(path, {});
    model().navigate(path, true);
    settle();
}

ContentView& WindowTest::window(const Environment& env)
{
    return show<ContentView>(env, QSize(1040, 660));
}

} // namespace windowtest
