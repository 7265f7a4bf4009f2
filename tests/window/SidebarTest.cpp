// The sidebar: the phones and their rows, the locations of a ready phone
// and how choosing one navigates.

#include "Sidebar.h"
#include "WindowFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

// Stands in for the web browser: records the addresses it is asked to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls.append(url); }
};

class SidebarTest : public WindowTest {
protected:
    Sidebar& sidebar() { return *(m_sidebar = &show<Sidebar>(fullEnvironment(), QSize(250, 600))); }
    DeviceRow* row(const QString& serial)
    {
        for (DeviceRow* row : m_sidebar->deviceRows()) {
            if (row->device().serial == serial)
                return row;
        }
        return nullptr;
    }
    // Clicks the location `name` if given; the checked locations.
    QStringList locations(const QString& name = {})
    {
        for (LocationRow* row : m_sidebar->locationRows()) {
            if (row->text() == name)
                QTest::mouseClick(row, Qt::LeftButton);
        }
        settle();
        QStringList checked;
        for (LocationRow* row : m_sidebar->locationRows()) {
            if (row->isChecked())
                checked.append(row->text());
        }
        return checked;
    }

    Sidebar* m_sidebar = nullptr;
};

} // namespace

TEST_F(SidebarTest, OnlyAReadyPhoneHasLocationsAndOnlyTheExactFolderIsChecked)
{
    sidebar();
    adbPhoneIn(u"device"_s);
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/Pictures/Screenshots"_s, {});
    EXPECT_EQ(locations(u"Screenshots"_s), QStringList{u"Screenshots"_s});
    EXPECT_EQ(model().path(), u"/sdcard/Pictures/Screenshots"_s);
    go(u"/sdcard/Pictures/Screenshots/2024"_s);
    EXPECT_TRUE(locations().isEmpty());
    // Clicking the folder shown changes nothing and stays checked.
    go(u"/sdcard/Music"_s);
    EXPECT_EQ(locations(u"Music"_s), QStringList{u"Music"_s});
}

// Mended: going from a folder that is no location (the keyboard's ring on the
// phone) to a location left the ring drawn on the phone too, two rings at once.
TEST_F(SidebarTest, TheKeyboardRingLeavesThePhoneRowWhenALocationIsChosen)
{
    sidebar();
    adbPhoneIn(u"device"_s);
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM"_s, {});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/Music"_s, {});
    go(u"/sdcard/DCIM"_s);
    QApplication::processEvents();
    DeviceRow* phone = row(u"A1"_s);
    ASSERT_TRUE(phone);
    ASSERT_EQ(m_sidebar->list()->current(), phone);
    struct PaintCount : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } count;
    phone->installEventFilter(&count);
    EXPECT_EQ(locations(u"Music"_s), QStringList{u"Music"_s});
    QApplication::processEvents();
    EXPECT_NE(m_sidebar->list()->current(), phone);
    EXPECT_GT(count.paints, 0) << "the phone row was not drawn again without the ring";
}

TEST_F(SidebarTest, RowsShowHowEachPhoneIsConnectedAndAClickChoosesIt)
{
    adb->setDevices({adbPhone(u"USB1"_s), adbPhone(u"192.168.1.20:5555"_s)});
    mtp->setDevices({mtpPhone(u"M1"_s)});
    Sidebar& view = sidebar();
    pass();
    ASSERT_EQ(view.deviceRows().size(), 3);
    EXPECT_EQ(row(u"192.168.1.20:5555"_s)->symbolName(), u"wifi"_s);
    // Only a Wi-Fi phone has a menu: Disconnect.
    EXPECT_EQ(row(u"USB1"_s)->makeContextMenu(), nullptr);
    std::unique_ptr<QMenu> menu(row(u"192.168.1.20:5555"_s)->makeContextMenu());
    ASSERT_TRUE(menu);
    menu->actions().first()->trigger();
    settle();
    EXPECT_EQ(adb->callsStartingWith(u"disconnect "_s), 1);
    EXPECT_EQ(adb->calls(u"disconnect 192.168.1.20:5555"_s), 1);
    QTest::mouseClick(row(u"M1"_s), Qt::LeftButton);
    settle();
    EXPECT_TRUE(row(u"M1"_s)->isCurrent() && !row(u"USB1"_s)->isCurrent());
    view.wirelessButton()->click();
    EXPECT_TRUE(model().showingWireless());
}

// The maker's credit opens the site by a click or by Return, reads as a link;
// without a site it is plain text that neither takes the focus nor opens.
TEST_F(SidebarTest, TheMakersCreditOpensItsSiteByClickOrReturnAndIsPlainTextWithoutOne)
{
    OpenedUrls opened;
    QDesktopServices::setUrlHandler(u"https"_s, &opened, "open");
    const QUrl site(u"https://mirvek.example/"_s);
    const struct {
        QUrl site;
        bool isLink;
    } cases[] = {{site, true}, {QUrl(), false}};
    for (const auto& c : cases) {
        opened.urls.clear();
        Environment env = fullEnvironment();
        env.makerSite = c.site;
        auto& shown = show<Sidebar>(env, QSize(250, 600));
        auto* link = shown.findChild<MakerLink*>(u"makerLink"_s);
        ASSERT_TRUE(link);
        EXPECT_GT(link->width(), link->fontMetrics().horizontalAdvance(u"by MIRVEK"_s) - 2);
        QTest::mouseClick(link, Qt::LeftButton);
        link->setFocus(Qt::TabFocusReason);
        QTest::keyClick(link, Qt::Key_Return);
        const QList<QUrl> expected = c.isLink ? QList<QUrl>{site, site} : QList<QUrl>();
        EXPECT_EQ(opened.urls, expected) << c.isLink;
        EXPECT_EQ(link->focusPolicy() != Qt::NoFocus, c.isLink);
        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(link);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->role(), c.isLink ? QAccessible::Link : QAccessible::StaticText);
        EXPECT_EQ(read->text(QAccessible::Name), u"by MIRVEK"_s);
        EXPECT_EQ(read->actionInterface() && !read->actionInterface()->actionNames().isEmpty(), c.isLink);
    }
    QDesktopServices::unsetUrlHandler(u"https"_s);
}

#include "SidebarTest.moc"
