// How the main window looks and moves: the window's title, digits of one
// width in counts and sizes, the glass of the phone panel's tools, faded
// hidden names, the maker's credit, the guides' measures and the Copy
// button's confirmation, the drop overlay's fade and the transfer
// capsule's coming and going, its ring and its rolling percentage.

#include "BrowserPane.h"
#include "BusyPhoneView.h"
#include "CommandBox.h"
#include "ConnectGuide.h"
#include "ContentView.h"
#include "DetailView.h"
#include "DevicePanel.h"
#include "DevicePanelViews.h"
#include "Digits.h"
#include "DrawnAhead.h"
#include "DropOverlay.h"
#include "EmptyStateView.h"
#include "FileListModel.h"
#include "FileListView.h"
#include "Glass.h"
#include "Mirvek.h"
#include "Motion.h"
#include "PhoneFrame.h"
#include "Sidebar.h"
#include "StatusBar.h"
#include "SurfaceAhead.h"
#include "Theme.h"
#include "TransferHUD.h"
#include "UnevenDigits.h"
#include "WorkerPool.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QBackingStore>
#include <QClipboard>
#include <QDesktopServices>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantAnimation>

#include <gtest/gtest.h>

#include <atomic>

using namespace windowtest;

namespace {

using testsupport::firstInkCentre;

class OpenedSites : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls.append(url); }
};

class WindowLook : public WindowTest {
protected:
    void TearDown() override
    {
        Motion::setReducedOverride(std::nullopt);
        WindowTest::TearDown();
    }
};

} // namespace

// ---- the window's title ------------------------------------------------------------

TEST_F(WindowLook, TheTitleNamesTheFolderShownOfAReadyPhoneAndElseTheProduct)
{
    ContentView& view = window(bareEnvironment());
    EXPECT_EQ(view.windowTitle(), u"Vantelorquist"_s) << "no phone";
    const std::pair<const char*, const char*> states[] = {
        {"unauthorized", "Vantelorquist"}, {"offline", "Vantelorquist"}, {"device", "Internal Storage"}};
    for (const auto& [state, title] : states) {
        adbPhoneIn(QString::fromLatin1(state));
        EXPECT_EQ(view.windowTitle(), QString::fromLatin1(title)) << state;
    }
    const std::pair<const char*, const char*> folders[] = {
        {"/sdcard/Download", "Download"}, {"/sdcard/DCIM/Camera", "Camera"}, {"/sdcard", "Internal Storage"}};
    for (const auto& [path, title] : folders) {
        go(QString::fromLatin1(path));
        EXPECT_EQ(view.windowTitle(), QString::fromLatin1(title)) << path;
    }
    go(u"/sdcard/Music"_s);
    adbPhoneIn(u"offline"_s);
    EXPECT_EQ(view.windowTitle(), u"Vantelorquist"_s) << "the folder is not named once the phone is gone";
    adb->setDevices({});
    readyMtpPhone();
    EXPECT_EQ(view.windowTitle(), u"Internal Storage"_s) << "file transfer";
}

// ---- digits of one width -----------------------------------------------------------

// Counts and sizes that change keep their width: with a font whose digits
// differ, "1" takes as much room as "8".
TEST_F(WindowLook, CountsAndSizesKeepTheirDigitsOfOneWidth)
{
    const QFont uneven = testsupport::unevenDigitsFont();
    ASSERT_TRUE(testsupport::isUnevenDigitsFont(uneven));
    adbPhoneIn(u"device"_s);
    StatusBar status(&model());
    TransferHUD hud(&model());
    DevicePanel& card = *show<Sidebar>(fullEnvironment(), QSize(260, 640)).devicePanel();
    const std::pair<QWidget*, const char*> places[] = {{&status, "statusLine"},
                                                       {&hud, "percent"},
                                                       {&card, "batteryText"},
                                                       {&card, "freeText"},
                                                       {&card, "recordingTime"}};
    for (const auto& [view, name] : places) {
        auto* label = view->findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_TRUE(label) << name;
        label->setFont(uneven);
        label->setText(u"11 of 11"_s);
        const int ones = label->sizeHint().width();
        label->setText(u"88 of 88"_s);
        EXPECT_EQ(label->sizeHint().width(), ones) << name;
    }
}

// The list's sizes line up digit for digit, right-aligned.
TEST_F(WindowLook, TheListsSizesLineUpDigitForDigit)
{
    const QFont uneven = testsupport::unevenDigitsFont(20);
    ASSERT_TRUE(testsupport::isUnevenDigitsFont(uneven));
    adbPhoneIn(u"device"_s, {file(u"a.bin"_s, 1000), file(u"b.bin"_s, 8000)});
    DetailView& pane = show<DetailView>(bareEnvironment(), QSize(700, 400));
    auto* list = pane.findChild<FileListView*>();
    ASSERT_TRUE(list);
    list->setFont(uneven);
    const QImage image = list->viewport()->grab().toImage();
    std::optional<double> centres[2];
    for (int row = 0; row < 2; ++row) {
        const QRect cell = list->visualRect(list->model()->index(row, FileListModel::size));
        centres[row] = firstInkCentre(image, cell.adjusted(0, 2, 0, -2));
        ASSERT_TRUE(centres[row]) << row;
    }
    EXPECT_NEAR(*centres[0], *centres[1], 0.6) << "“1 KB” and “8 KB”";
}

// ---- the glass's shadow -------------------------------------------------------------

// Mended: the transfer capsule and the phone tile each filled a box of their
// own, which cut their shadow off at its edge: the capsule's fill met the
// pane in one pixel, the tile's shadow stopped 4 pixels below its face. The
// shadow fades over several rows below each.
TEST_F(WindowLook, TheCapsuleAndThePhoneTileCastTheirShadowBeyondTheirBoxes)
{
    adbPhoneIn(u"device"_s);
    QWidget host;
    host.setAutoFillBackground(true);
    QPalette white = host.palette();
    white.setColor(QPalette::Window, Qt::white);
    host.setPalette(white);
    host.resize(420, 220);
    auto* hud = new TransferHUD(&model(), &host);
    hud->setJob(Job{u"Copying “a.jpg”…"_s, 0.5, true});
    hud->move(40, 30);
    auto* tile = new DeviceTile(&host);
    tile->setDevice(*model().selectedDevice());
    tile->move(40, 130);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    hud->adjustSize(); // at its size once shown, as the pane sizes it
    const QImage image = host.grab().toImage();
    // How much darker than the white ground each row below `bottom` is.
    const auto shade = [&image](int x, int bottom) {
        QList<int> rows;
        for (int y = bottom + 1; y <= bottom + 14; ++y)
            rows.append(255 - qGray(image.pixel(x, y)));
        return rows;
    };
    const struct {
        const char* name;
        int x;
        int bottom; // the shape's last row
    } cases[] = {
        {"capsule", hud->geometry().center().x(), hud->geometry().bottom()},
        {"tile", tile->x() + 10, tile->y() + tile->findChild<GlassSurface*>()->geometry().bottom()},
    };
    for (const auto& c : cases) {
        const QList<int> rows = shade(c.x, c.bottom);
        SCOPED_TRACE(c.name);
        const qsizetype shaded = std::count_if(rows.begin(), rows.end(), [](int d) { return d >= 1; });
        EXPECT_GE(shaded, 8) << QDebug::toString(rows).toStdString();
        EXPECT_GT(rows.at(1), rows.at(9)) << "fades downwards " << QDebug::toString(rows).toStdString();
    }
}

// ---- glass on the phone panel's tools ---------------------------------------------

TEST_F(WindowLook, EachToolSitsOnGlassThatCastsTheShadowAndFadesWhenDisabled)
{
    DevicePanel& card = *show<Sidebar>(fullEnvironment(), QSize(260, 640)).devicePanel();
    adbPhoneIn(u"device"_s);
    ASSERT_EQ(card.tools().size(), 5);
    for (ToolButton* tool : card.tools()) {
        auto* glass = tool->findChild<GlassSurface*>();
        ASSERT_TRUE(glass) << tool->text().toStdString();
        EXPECT_EQ(glass->shape(), GlassSurface::Shape::circle);
        EXPECT_EQ(glass->size(), QSize(32, 32));
        auto* shadow = qobject_cast<QGraphicsDropShadowEffect*>(glass->graphicsEffect());
        ASSERT_TRUE(shadow);
        EXPECT_EQ(shadow->color(), QColor(0, 0, 0, 31));
        EXPECT_EQ(shadow->blurRadius(), 12);
        EXPECT_EQ(shadow->offset(), QPointF(0, 4));
        EXPECT_EQ(glass->opacity(), 1.0);
        tool->setEnabled(false);
        EXPECT_EQ(glass->opacity(), 0.4) << tool->text().toStdString();
        tool->setEnabled(true);
    }
}

// ---- hidden names -------------------------------------------------------------------

// A hidden item's name is faded; its icon is drawn as any other's.
TEST_F(WindowLook, AHiddenItemsNameFadesButNotItsIcon)
{
    model().setShowHidden(true);
    adbPhoneIn(u"device"_s, {file(u".a.jpg"_s), file(u"b.jpg"_s), file(u"c.jpg"_s)});
    DetailView& pane = show<DetailView>(bareEnvironment(), QSize(700, 400));
    auto* list = pane.findChild<FileListView*>();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->model()->rowCount(), 3);
    ASSERT_EQ(list->model()->index(0, 0).data().toString(), u".a.jpg"_s);
    const QImage image = list->viewport()->grab().toImage();
    // Rows 0 and 2 share their background.
    const QRect hidden = list->visualRect(list->model()->index(0, FileListModel::name));
    const QRect shown = list->visualRect(list->model()->index(2, FileListModel::name));
    const int iconEnd = 4 + list->iconSize().width() + 2;
    const QRect icon(0, 0, iconEnd, hidden.height());
    EXPECT_EQ(image.copy(icon.translated(hidden.topLeft())), image.copy(icon.translated(shown.topLeft())));
    // The name: its darkest ink lighter than the shown one's.
    const auto darkest = [&](const QRect& cell) {
        int dark = 255;
        for (int x = cell.left() + iconEnd; x < cell.right(); ++x)
            for (int y = cell.top(); y <= cell.bottom(); ++y)
                dark = std::min(dark, qGray(image.pixel(x, y)));
        return dark;
    };
    EXPECT_GT(darkest(hidden), darkest(shown) + 40);
}

// ---- the maker's credit -------------------------------------------------------------

// The mark is part of the link, 12 square and 5 before its text: a click on
// it opens the site.
TEST_F(WindowLook, TheMakersMarkSitsInsideTheLinkBeforeItsText)
{
    OpenedSites opened;
    QDesktopServices::setUrlHandler(u"https"_s, &opened, "open");
    Environment env = fullEnvironment();
    env.makerSite = QUrl(u"https://mirvek.example/"_s);
    auto& shown = show<Sidebar>(env, QSize(250, 600));
    auto* link = shown.findChild<MakerLink*>(u"makerLink"_s);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->markRect().size(), QSize(12, 12));
    EXPECT_EQ(link->markRect().left(), 0);
    EXPECT_EQ(MakerLink::textStart(), 12 + 5);
    EXPECT_GE(link->width(), 17 + link->fontMetrics().horizontalAdvance(u"by MIRVEK"_s) - 2);
    EXPECT_FALSE(shown.findChild<MirvekMark*>()) << "no mark beside the link";
    QTest::mouseClick(link, Qt::LeftButton, {}, link->markRect().center());
    EXPECT_EQ(opened.urls, QList<QUrl>{env.makerSite});
    QDesktopServices::unsetUrlHandler(u"https"_s);
}

// ---- guides ------------------------------------------------------------------------

// "Copied" shows from a click until 1.6 s after it, even when a second click
// came in between; each click copies the command.
TEST_F(WindowLook, CopyCommandCopiesAndSaysCopiedForOnePointSixSecondsFromTheFirstClick)
{
    CommandBox box(u"brew install --cask android-platform-tools"_s);
    std::vector<std::pair<int, std::function<void()>>> waits;
    box.setLater([&](int milliseconds, std::function<void()> done) { waits.emplace_back(milliseconds, done); });
    QGuiApplication::clipboard()->clear();
    EXPECT_EQ(box.copyButton()->text(), u"Copy Command"_s);
    box.copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"brew install --cask android-platform-tools"_s);
    EXPECT_EQ(box.copyButton()->text(), u"Copied"_s);
    QGuiApplication::clipboard()->clear();
    box.copyButton()->click(); // a second later
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"brew install --cask android-platform-tools"_s);
    ASSERT_EQ(waits.size(), 2u);
    EXPECT_EQ(waits[0].first, 1600);
    EXPECT_EQ(waits[1].first, 1600);
    waits[0].second(); // 1.6 s after the first click
    EXPECT_EQ(box.copyButton()->text(), u"Copy Command"_s);
    waits[1].second();
    EXPECT_EQ(box.copyButton()->text(), u"Copy Command"_s);
}

TEST(PhoneFrameMeasures, FollowTheWidth)
{
    const struct {
        qreal width;
        QSizeF size;
        qreal corner;
        QSizeF screen;
        qreal screenCorner;
        qreal camera;
        qreal cameraBelowTop;
    } table[] = {{80, {80, 164}, 16, {72, 156}, 12, 4.8, 7.2}, {120, {120, 246}, 24, {112, 238}, 20, 7.2, 10.8}};
    for (const auto& row : table) {
        const PhoneFrame::Geometry shape = PhoneFrame::geometry(row.width);
        EXPECT_DOUBLE_EQ(shape.size.width(), row.size.width());
        EXPECT_DOUBLE_EQ(shape.size.height(), row.size.height()) << row.width;
        EXPECT_DOUBLE_EQ(shape.cornerRadius, row.corner);
        EXPECT_EQ(shape.screen.size(), row.screen) << row.width;
        EXPECT_EQ(shape.screen.center(), QPointF(row.size.width() / 2, row.size.height() / 2)) << "a 4 pt bezel";
        EXPECT_DOUBLE_EQ(shape.screenRadius, row.screenCorner);
        EXPECT_NEAR(shape.cameraDiameter, row.camera, 1e-9);
        EXPECT_NEAR(shape.cameraCentre.y(), row.cameraBelowTop, 1e-9);
        EXPECT_DOUBLE_EQ(shape.cameraCentre.x(), row.width / 2);
        PhoneFrame frame(u"cable.connector"_s, int(row.width));
        EXPECT_EQ(frame.size(), row.size.toSize());
    }
}

// A picture drawn ahead is drawn once, on a worker or, with none to spare,
// when first needed, and every caller gets the same one.
TEST(DrawnAheadPicture, IsDrawnOnceWithOrWithoutAWorker)
{
    for (const bool refused : {false, true}) {
        WorkerPool::shared().refuseThreadsForTesting(refused);
        std::atomic<int> draws {0};
        const DrawnAhead ahead([&draws] {
            ++draws;
            QImage image(4, 4, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::red);
            return image;
        });
        const QImage first = ahead.take();
        EXPECT_EQ(first.pixelColor(1, 1), QColor(Qt::red)) << "refused " << refused;
        EXPECT_EQ(ahead.take().cacheKey(), first.cacheKey());
        EXPECT_EQ(draws.load(), 1) << "refused " << refused;
        WorkerPool::shared().refuseThreadsForTesting(false);
    }
}

// A window prepared before it shows has its store at its size and paints it
// whole, whether its pages came in on a worker or with none to
// spare; one that goes before its first event, or a child, is no trouble.
TEST(SurfaceAheadWindow, HasItsStoreBeforeItShowsAndPaintsItWhole)
{
    const QColor background(10, 200, 30);
    for (const bool refused : {false, true}) {
        WorkerPool::shared().refuseThreadsForTesting(refused);
        {
            QWidget gone;
            gone.resize(300, 200);
            SurfaceAhead::prepare(&gone);
        }
        QWidget window;
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, background);
        window.setPalette(palette);
        auto* child = new QWidget(&window);
        child->resize(50, 50);
        window.resize(300, 200);
        SurfaceAhead::prepare(child);
        SurfaceAhead::prepare(&window);
        WorkerPool::shared().refuseThreadsForTesting(false);
        EXPECT_FALSE(child->testAttribute(Qt::WA_WState_Created)) << "refused " << refused;
        ASSERT_NE(window.backingStore(), nullptr) << "refused " << refused;
        EXPECT_EQ(window.backingStore()->size(), QSize(300, 200)) << "refused " << refused;

        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
        ASSERT_EQ(shown.size(), QSize(300, 200)) << "refused " << refused;
        for (const QPoint at : {QPoint(0, 0), QPoint(150, 100), QPoint(299, 199)})
            EXPECT_EQ(shown.pixelColor(at).rgb(), background.rgb()) << "refused " << refused;
    }
}

// The frame's picture is drawn once and kept; it must still follow the
// palette, and its shadow falls below it, fading out within its reach.
TEST(PhoneFrameLook, ShadowBelowAndColoursFollowThePalette)
{
    QWidget stage;
    stage.setAutoFillBackground(true);
    stage.resize(200, 320);
    auto* frame = new PhoneFrame(u"cable.connector"_s, 120, &stage);
    frame->move(40, 20);
    const QPoint bottomCentre = frame->QWidget::geometry().bottomLeft() + QPoint(60, 0);
    for (const bool dark : {false, true, false}) {
        QPalette palette = stage.palette();
        palette.setColor(QPalette::Window, dark ? QColor(30, 30, 30) : QColor(236, 236, 236));
        stage.setPalette(palette);
        const QImage image = stage.grab().toImage();
        const QColor background = palette.color(QPalette::Window);
        EXPECT_EQ(image.pixelColor(frame->QWidget::geometry().topLeft() + QPoint(2, 60)).rgb(), Theme::phoneBody(dark).rgb())
            << "dark " << dark;
        const QColor justBelow = image.pixelColor(bottomCentre + QPoint(0, 3));
        const QColor further = image.pixelColor(bottomCentre + QPoint(0, 9));
        EXPECT_LT(justBelow.lightness(), further.lightness()) << "dark " << dark;
        EXPECT_LT(further.lightness(), background.lightness()) << "dark " << dark;
        EXPECT_EQ(image.pixelColor(bottomCentre + QPoint(0, 18)).rgb(), background.rgb()) << "dark " << dark;
        EXPECT_EQ(image.pixelColor(frame->QWidget::geometry().topLeft() - QPoint(12, 0)).rgb(), background.rgb());
    }
}

// Copy Command is the prominent, accent-filled button; Open Terminal, the
// guide's Wi-Fi button and the busy view's Quit keep the bordered look.
TEST_F(WindowLook, TheGuidesButtonsTakeTheirGlassLooks)
{
    QPalette light = QApplication::palette();
    light.setColor(QPalette::Window, Qt::white);
    const auto filled = [&](QPushButton* button) {
        button->setPalette(light);
        button->resize(180, 32);
        const QImage image = button->grab().toImage();
        return image.pixelColor(5, image.height() / 2).rgb() == Theme::accent(false).rgb();
    };
    CommandBox box(u"brew install --cask android-platform-tools"_s);
    QPushButton* terminal = nullptr;
    for (auto* button : box.findChildren<QPushButton*>()) {
        if (button->text() == u"Open Terminal"_s)
            terminal = button;
    }
    ASSERT_TRUE(terminal);
    ConnectGuide guide(bareEnvironment(), ConnectGuide::connectSteps());
    BusyPhoneView busy(bareEnvironment(), mtpPhone(u"M1"_s, u"busy"_s));
    busy.quitButton()->setText(u"Quit Photos"_s);
    const std::pair<QPushButton*, bool> table[] = {
        {box.copyButton(), true}, {terminal, false}, {guide.wirelessButton(), false}, {busy.quitButton(), false}};
    for (const auto& [button, prominent] : table)
        EXPECT_EQ(filled(button), prominent) << button->text().toStdString();
}

// The command box takes the room there is up to 440; the busy view's
// message is at most 360 high however tall the pane.
TEST_F(WindowLook, TheCommandBoxIsAtMost440WideAndTheBusyMessageAtMost360High)
{
    adb->setInstalled(false);
    for (const auto& [paneWidth, boxWidth] : {std::pair{900, 440}, std::pair{480, 400}}) {
        DetailView& pane = show<DetailView>(fullEnvironment(), QSize(paneWidth, 700));
        auto* box = pane.findChild<CommandBox*>();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->width(), boxWidth) << paneWidth;
        EXPECT_EQ(box->x(), box->parentWidget()->width() - box->geometry().right() - 1) << "centred, " << paneWidth;
    }
    adb->setInstalled(true);
    // A long name takes the title onto more lines.
    mtp->setDevices({mtpPhone(u"M1"_s, u"busy"_s, u"Galaxy S24 Ultra Enterprise Edition of the Very Long Name"_s)});
    pass();
    settle();
    DetailView& pane = show<DetailView>(fullEnvironment(), QSize(700, 1000));
    auto* busy = pane.findChild<BusyPhoneView*>();
    ASSERT_TRUE(busy);
    EXPECT_LE(busy->message()->height(), 360) << busy->message()->sizeHint().height();
    EXPECT_GT(busy->message()->height(), 200);
}

// ---- the transfer capsule ---------------------------------------------------------

namespace {

class Capsule : public WindowLook {
protected:
    // The browser of a ready phone with a job that reports `fraction`, its
    // capsule's motion not yet begun.
    BrowserPane& browser()
    {
        adbPhoneIn(u"device"_s, {file(u"a.jpg"_s)});
        m_pane = &show<DetailView>(bareEnvironment(), QSize(700, 500));
        return *m_pane->browser();
    }
    // Starts a copy that reports half done and waits until finish().
    void startCopy()
    {
        model().setAskWhereToSave(false);
        m_saved = std::make_unique<QTemporaryDir>();
        model().setSaveFolder(m_saved->path());
        auto gate = m_gate = std::make_shared<browsertest::Gate>();
        gates.push_back(gate);
        adb->phone(u"A1"_s)->onTransfer([gate](const QString&, const Progress& progress, const Cancel&) {
            progress(0.5);
            gate->wait();
        });
        model().download({file(u"a.jpg"_s)});
        ASSERT_TRUE(model().job());
    }
    void finish()
    {
        m_gate->open();
        settle();
        ASSERT_FALSE(model().job());
    }
    static QVariantAnimation* motion(QObject* owner, const char* name)
    {
        auto* found = owner->findChild<QVariantAnimation*>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    DetailView* m_pane = nullptr;
    std::unique_ptr<QTemporaryDir> m_saved;
    std::shared_ptr<browsertest::Gate> m_gate;
};

} // namespace

// The capsule comes up from the bottom edge fading in, and leaves the same
// way; with reduced motion it is simply there, and then gone.
TEST_F(Capsule, ComesUpFromTheBottomFadingInAndLeavesTheSameWay)
{
    BrowserPane& pane = browser();
    TransferHUD* hud = pane.transferHUD();
    QVariantAnimation* move = motion(&pane, "hudMotion");
    ASSERT_TRUE(move);
    const int height = pane.bodyWidget()->height();
    startCopy();
    move->pause();
    move->setCurrentTime(0);
    EXPECT_FALSE(hud->isHidden());
    EXPECT_GE(hud->y(), height - 1) << "below the bottom edge";
    EXPECT_EQ(hud->surface()->opacity(), 0.0);
    move->setCurrentTime(move->duration() / 6);
    EXPECT_GT(hud->surface()->opacity(), 0.0);
    EXPECT_LT(hud->surface()->opacity(), 1.0);
    EXPECT_LT(hud->y(), height);
    move->setCurrentTime(move->duration());
    EXPECT_EQ(hud->surface()->opacity(), 1.0);
    EXPECT_EQ(hud->geometry().bottom() + 1, height - 14) << "14 above the bottom";

    finish();
    move->pause();
    move->setCurrentTime(move->duration() / 6);
    EXPECT_FALSE(hud->isHidden());
    EXPECT_LT(hud->surface()->opacity(), 1.0);
    EXPECT_GT(hud->y(), height - 14 - hud->height());
    move->setCurrentTime(move->duration());
    EXPECT_TRUE(hud->isHidden());

    Motion::setReducedOverride(true);
    startCopy();
    EXPECT_NE(move->state(), QAbstractAnimation::Running);
    EXPECT_FALSE(hud->isHidden());
    EXPECT_EQ(hud->surface()->opacity(), 1.0);
    EXPECT_EQ(hud->geometry().bottom() + 1, height - 14);
    finish();
    EXPECT_TRUE(hud->isHidden());
}

// The overlay fades in while a drag is over the browser and out after it.
TEST_F(Capsule, TheDropOverlayFadesInAndOut)
{
    BrowserPane& pane = browser();
    DropOverlay* overlay = pane.dropOverlay();
    QVariantAnimation* fade = motion(&pane, "overlayFade");
    ASSERT_TRUE(fade);
    for (bool reduced : {false, true}) {
        Motion::setReducedOverride(reduced);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(u"/tmp/one.jpg"_s)});
        QDragEnterEvent enter(pane.bodyWidget()->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(pane.bodyWidget(), &enter);
        EXPECT_TRUE(overlay->isVisible() && pane.dropTargeted());
        if (!reduced) {
            fade->pause();
            fade->setCurrentTime(0);
            EXPECT_EQ(overlay->opacity(), 0.0);
            fade->setCurrentTime(fade->duration() / 2);
            EXPECT_GT(overlay->opacity(), 0.0);
            EXPECT_LT(overlay->opacity(), 1.0);
            fade->setCurrentTime(fade->duration());
        }
        EXPECT_EQ(overlay->opacity(), 1.0) << reduced;
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(pane.bodyWidget(), &leave);
        EXPECT_FALSE(pane.dropTargeted());
        if (!reduced) {
            fade->pause();
            fade->setCurrentTime(fade->duration() / 2);
            EXPECT_TRUE(overlay->isVisible());
            EXPECT_LT(overlay->opacity(), 1.0);
            fade->setCurrentTime(fade->duration());
        }
        EXPECT_TRUE(overlay->isHidden()) << reduced;
    }
}

// The ring eases to a new value over a quarter second, quick at first.
TEST_F(Capsule, TheRingEasesToEachNewValue)
{
    TransferHUD hud(&model());
    hud.setJob(Job{u"Copying…"_s, 0.2, true});
    EXPECT_DOUBLE_EQ(hud.ringFraction(), 0.2) << "a first value shows at once";
    QVariantAnimation* ease = motion(&hud, "ringMotion");
    ASSERT_TRUE(ease);
    hud.setJob(Job{u"Copying…"_s, 0.6, true});
    ease->pause();
    EXPECT_EQ(ease->duration(), 250);
    ease->setCurrentTime(0);
    EXPECT_DOUBLE_EQ(hud.ringFraction(), 0.2);
    ease->setCurrentTime(125);
    EXPECT_GT(hud.ringFraction(), 0.4 + 0.05) << "past halfway at half the time";
    EXPECT_LT(hud.ringFraction(), 0.6);
    ease->setCurrentTime(250);
    EXPECT_DOUBLE_EQ(hud.ringFraction(), 0.6);
    Motion::setReducedOverride(true);
    hud.setJob(Job{u"Copying…"_s, 0.9, true});
    EXPECT_DOUBLE_EQ(hud.ringFraction(), 0.9);
}

// The percentage's digits roll to a new value: midway neither the old nor
// the new picture shows; at the end the new one, as a still label draws it.
TEST_F(Capsule, ThePercentageRollsItsDigits)
{
    TransferHUD hud(&model());
    hud.resize(300, 60);
    hud.setJob(Job{u"Copying…"_s, 0.42, true});
    auto* percent = hud.findChild<DigitsLabel*>(u"percent"_s);
    ASSERT_TRUE(percent);
    percent->setFixedSize(60, 16);
    const QImage before = percent->grab().toImage();
    hud.setJob(Job{u"Copying…"_s, 0.47, true});
    QVariantAnimation* roll = percent->roll();
    ASSERT_EQ(roll->state(), QAbstractAnimation::Running);
    roll->pause();
    roll->setCurrentTime(0);
    EXPECT_EQ(percent->grab().toImage(), before);
    roll->setCurrentTime(roll->duration() / 2);
    const QImage midway = percent->grab().toImage();
    roll->setCurrentTime(roll->duration());
    const QImage after = percent->grab().toImage();
    EXPECT_NE(midway, before);
    EXPECT_NE(midway, after);
    EXPECT_NE(after, before);
    Motion::setReducedOverride(true);
    hud.setJob(Job{u"Copying…"_s, 0.48, true});
    EXPECT_NE(roll->state(), QAbstractAnimation::Running);
}

#include "LookTest.moc"
