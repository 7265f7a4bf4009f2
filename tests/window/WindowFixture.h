#pragma once

// A browser model over the fakes of the model's own tests, the window's
// environment around it, and helpers to put the phones into each state.

#include "BrowserFakes.h"
#include "Environment.h"

#include <QStringList>

#include <memory>
#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

class ContentView;
class FileListView;

namespace windowtest {

using browsertest::adbPhone;
using browsertest::file;
using browsertest::folder;
using browsertest::mtpPhone;

class WindowTest : public browsertest::ModelTest {
protected:
    WindowTest();
    ~WindowTest() override;

    // Every command present; each call is written to `calls` as
    // "name:item,item". The windows "mirror", "apps" and "logcat" can open.
    Environment fullEnvironment();
    // No command and no window: what the application offers today.
    Environment bareEnvironment();

    // One adb phone "A1" ("Pixel 7") in `state`, chosen, its /sdcard listed.
    void adbPhoneIn(const QString& state, const QList<RemoteEntry>& sdcard = {});
    // One MTP phone "M1" ("Galaxy"), ready, chosen and listed.
    void readyMtpPhone(const QList<RemoteEntry>& sdcard = {});
    // Goes to `path` (an empty folder unless the phone has it) and waits for
    // its listing.
    void go(const QString& path);
    // The main window over `env`, shown.
    ContentView& window(const Environment& env);

    QStringList calls;
    QStringList openedWindows;
    QStringList conflictingApps;

private:
    std::unique_ptr<ContentView> m_window;
};

// The name column of the list's rows, top to bottom.
QStringList rowNames(FileListView* list);

} // namespace windowtest
