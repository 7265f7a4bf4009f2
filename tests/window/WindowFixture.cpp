#include "WindowFixture.h"

#include "ContentView.h"
#include "TestSupport.h"

#include <QDialog>

namespace windowtest {

SilentAdbSource::SilentAdbSource(const QString& folder)
    // A phone with nothing to say: a shell answers with only its end mark
    // (the word before the command's closing ` $?"`) and a status of 0, as a
    // phone's shell prints it.
    : m_path(testsupport::writeScript(folder, u"adb"_s,
                                      "#!/bin/sh\ncase \"$3\" in shell) m=${4%' $?\"'}; m=${m##*[!a-z0-9-]}; "
                                      "printf '\\n%s 0\\n' \"$m\" ;; esac\nexit 0\n"))
{
}

std::optional<ADB> SilentAdbSource::locate()
{
    return FakeAdbSource::locate() ? std::optional(ADB(m_path)) : std::nullopt;
}

Environment WindowTest::fullEnvironment()
{
    Environment env = bareEnvironment();
    env.canOpenWindow = [](const QString& identifier) {
        return QStringList{u"mirror"_s, u"apps"_s, u"logcat"_s}.contains(identifier);
    };
    env.openWindow = [this](const QString& identifier) { openedWindows.append(identifier); };
    env.commands.wirelessSheet = [](QWidget* parent) { return new QDialog(parent); };
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
