// What the detail pane shows for each state of the phones, the browser's
// loading and empty messages, and drops from the computer.

#include "BrowserPane.h"
#include "BusyPhoneView.h"
#include "CommandBox.h"
#include "ConnectGuide.h"
#include "DetailView.h"
#include "DropOverlay.h"
#include "EmptyStateView.h"
#include "TestSupport.h"
#include "WindowFixture.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace windowtest;
using WindowRules::DetailCase;

namespace {

class DetailPane : public WindowTest {
protected:
    DetailView& pane(const Environment& env) { return *(m_pane = &show<DetailView>(env, QSize(700, 500))); }
    // The hint shown instead of the browser as "title | detail"; empty when none.
    QString hint()
    {
        auto* view = qobject_cast<EmptyStateView*>(m_pane->currentView());
        if (auto* busy = qobject_cast<BusyPhoneView*>(m_pane->currentView()))
            view = busy->message();
        return view ? view->title() + u" | "_s + view->detail() : QString();
    }
    // Drops these URLs on the browser as a file manager offering to move
    // them; whether the drop was taken (as a copy). Keeps the overlay's text
    // while dragging in `overlay`.
    bool drop(const QList<QUrl>& urls)
    {
        QWidget* body = m_pane->browser()->bodyWidget();
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(body->rect().center(), Qt::MoveAction | Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(body, &enter);
        DropOverlay* shown = m_pane->browser()->dropOverlay();
        overlay = shown->isHidden() ? QString() : shown->text();
        QDropEvent dropped(body->rect().center(), Qt::MoveAction | Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(body, &dropped);
        return dropped.isAccepted() && dropped.dropAction() == Qt::CopyAction;
    }

    QString overlay;
    DetailView* m_pane = nullptr;
};

} // namespace

TEST_F(DetailPane, PhonesThatAreNotReadyGetTheirHintsWithTheirNames)
{
    adb->setInstalled(false);
    DetailView& view = pane(fullEnvironment());
    EXPECT_TRUE(view.currentCase() == DetailCase::installTools && view.findChild<CommandBox*>());
    // Mended: the command was a Mac's package manager's; this is Debian's.
    if (auto* command = view.findChild<CommandBox*>()) {
        command->copyButton()->click();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), u"sudo apt install adb"_s);
    }
    // A file transfer phone needs no adb; listed but not chosen it gives the
    // connect guide, whose button opens the Wi-Fi sheet.
    readyMtpPhone();
    EXPECT_EQ(view.currentCase(), DetailCase::browser);
    model().setSelectedSerial(std::nullopt);
    auto* guide = qobject_cast<ConnectGuide*>(view.currentView());
    ASSERT_TRUE(guide);
    guide->wirelessButton()->click();
    EXPECT_TRUE(model().showingWireless());

    adb->setInstalled(true);
    const std::tuple<Device, DetailCase, const char*> table[] = {
        // Mended: these two had the plug-in guide, though one is plugged in
        // and kept out by the computer's USB rights, the other connecting.
        {adbPhone(u"A1"_s, u"offline"_s), DetailCase::connecting, "Connecting to your phone | Vantelorquist is connecting to Pixel 7."},
        {mtpPhone(u"M1"_s, u"offline"_s), DetailCase::connecting, "| Vantelorquist is connecting to Galaxy."},
        {adbPhone(u"A1"_s, u"no permissions"_s), DetailCase::noPermissions,
         "| This computer's USB access rights keep Vantelorquist from using Pixel 7. Vantelorquist's udev rule"},
        {adbPhone(u"A1"_s, u"unauthorized"_s), DetailCase::unauthorized, "| Unlock Pixel 7 and tap Allow"},
        {mtpPhone(u"M1"_s, u"locked"_s), DetailCase::locked, "| Unlock Galaxy to see its files."}};
    for (const auto& [phone, shown, text] : table) {
        adb->setDevices(phone.transport == Device::Transport::adb ? std::vector{phone} : std::vector<Device>{});
        mtp->setDevices(phone.transport == Device::Transport::mtp ? std::vector{phone} : std::vector<Device>{});
        pass();
        EXPECT_EQ(view.currentCase(), shown);
        EXPECT_TRUE(hint().contains(QString::fromUtf8(text))) << hint().toStdString();
    }
}

TEST_F(DetailPane, ABusyPhoneNamesItAndOffersToQuitTheAppsHoldingIt)
{
    const QString node = m_folder.filePath(u"usb-node"_s);
    ASSERT_TRUE(QFile(node).open(QIODevice::WriteOnly));
    mtp->setDevices({mtpPhone(u"M1"_s, u"busy"_s)});
    mtp->setDeviceNode(u"M1"_s, node);
    std::vector<std::unique_ptr<browsertest::NodeHolder>> apps;
    for (const QString& app : {u"Photos"_s, u"Android File Transfer"_s, u"Image Capture"_s}) {
        ASSERT_TRUE(QFile::copy(u"/bin/sleep"_s, m_folder.filePath(app)));
        apps.push_back(browsertest::nodeHolder(node, {m_folder.filePath(app)}));
    }
    // A pass sees a holder only once it has the node open.
    ASSERT_TRUE(testsupport::waitUntil([&] { pass(); return model().conflictingApps().size() == 3; }));
    DetailView& view = pane(fullEnvironment());
    auto* busy = qobject_cast<BusyPhoneView*>(view.currentView());
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->quitButton()->text(), u"Quit Android File Transfer and Image Capture and Photos"_s);
    EXPECT_EQ(busy->message()->detail(), u"Only one app at a time can use a phone's file transfer. Quit Android File "
                                         u"Transfer and Image Capture and Photos, and Vantelorquist connects on its own."_s);
    busy->quitButton()->click();
    for (const auto& app : apps)
        EXPECT_TRUE(app->waitForFinished(5000));

    // Read again on the next change the model publishes.
    mtp->setDevices({mtpPhone(u"M1"_s, u"busy"_s, u"Galaxy S24"_s)});
    pass();
    EXPECT_TRUE(hint().startsWith(u"Another app is using Galaxy S24 |"_s));
    busy = qobject_cast<BusyPhoneView*>(view.currentView());
    ASSERT_TRUE(busy);
    EXPECT_TRUE(busy->quitButton()->isHidden());
    // None found: the usual holder on this desktop.
    EXPECT_EQ(busy->message()->detail(), u"Only one app at a time can use a phone's file transfer. Quit the other "
                                         u"app, such as the file manager, and Vantelorquist connects on its own."_s);
}

TEST_F(DetailPane, TheBrowserSaysWhetherAFolderIsLoadingEmptyOrWithoutMatch)
{
    adbPhoneIn(u"device"_s, {});
    BrowserPane* browser = pane(bareEnvironment()).browser();
    ASSERT_TRUE(browser);
    EXPECT_TRUE(browser->showsDragHint());

    adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM"_s, {file(u"a.jpg"_s)});
    auto gate = adb->phone(u"A1"_s)->holdListing(u"/sdcard/DCIM"_s);
    gates.push_back(gate);
    model().navigate(u"/sdcard/DCIM"_s);
    ASSERT_TRUE(testsupport::waitUntil([&] { return gate->waiting(); }));
    QCoreApplication::processEvents();
    // Even with a search text the indicator stays while nothing is listed.
    model().setSearchText(u"mp3"_s);
    EXPECT_EQ(browser->body(), BrowserPane::Body::loading);
    gate->open();
    settle();
    EXPECT_EQ(browser->body(), BrowserPane::Body::empty);
    EXPECT_EQ(browser->emptyText(), u"No items match “mp3”"_s);
    EXPECT_FALSE(browser->showsDragHint());
    model().setSearchText(QString());
    EXPECT_EQ(browser->body(), BrowserPane::Body::listing);
}

TEST_F(DetailPane, DroppedFilesGoToTheCurrentFolderAndWebLinksAreRefused)
{
    adbPhoneIn(u"device"_s);
    go(u"/sdcard/DCIM/Camera"_s);
    ASSERT_TRUE(pane(fullEnvironment()).browser());
    EXPECT_TRUE(drop({QUrl(u"https://example.com/a"_s), QUrl::fromLocalFile(u"/tmp/one.jpg"_s),
                      QUrl::fromLocalFile(u"/tmp/two.jpg"_s)}));
    EXPECT_EQ(overlay, u"Copy to “Camera”"_s);
    settle();
    for (const QString& name : {u"one"_s, u"two"_s})
        EXPECT_EQ(adb->phone(u"A1"_s)->sent(u"/tmp/"_s + name + u".jpg"_s, u"/sdcard/DCIM/Camera/"_s + name + u".jpg"_s), 1);
    EXPECT_FALSE(drop({QUrl(u"https://example.com/a"_s)}));
}

// Mended: a long folder name made "Copy to “…”" wider than its card, which
// cut off both ends of the sentence.
TEST_F(DetailPane, TheOverlayShortensALongFolderNameInTheMiddleAndKeepsItsSentenceWhole)
{
    const QString name = u"Lecture recordings of the autumn term, week one to twelve, with the slides and notes"_s;
    adbPhoneIn(u"device"_s);
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/"_s + name, {});
    go(u"/sdcard/"_s + name);
    BrowserPane* browser = pane(fullEnvironment()).browser();
    ASSERT_TRUE(browser);
    DropOverlay* shown = browser->dropOverlay();
    for (const int width : {480, 700}) {
        SCOPED_TRACE(width);
        m_pane->resize(width, 500);
        QCoreApplication::processEvents();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(u"/tmp/one.jpg"_s)});
        QWidget* body = browser->bodyWidget();
        QDragEnterEvent enter(body->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(body, &enter);
        ASSERT_TRUE(shown->isVisible());
        QCoreApplication::processEvents();
        const QString text = shown->text();
        EXPECT_TRUE(text.startsWith(u"Copy to “Lecture"_s)) << text.toStdString();
        EXPECT_TRUE(text.endsWith(u"notes”"_s)) << text.toStdString();
        EXPECT_EQ(text.count(QChar(0x2026)), 1) << "shortened in the middle";
        auto* label = shown->findChildren<QLabel*>().last();
        ASSERT_EQ(label->text(), text);
        const QRect card = label->parentWidget()->geometry();
        EXPECT_TRUE(shown->rect().contains(card)) << card.width();
        EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->contentsRect().width());
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(body, &leave);
    }
    // A short name stays whole.
    go(u"/sdcard/DCIM"_s);
    EXPECT_TRUE(drop({QUrl::fromLocalFile(u"/tmp/one.jpg"_s)}));
    EXPECT_EQ(overlay, u"Copy to “DCIM”"_s);
}
