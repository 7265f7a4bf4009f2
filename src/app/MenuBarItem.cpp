#include "MenuBarItem.h"

#include "BrowserModel.h"
#include "Look.h"
#include "MainMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QIconEngine>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QCursor>
#include <QSystemTrayIcon>

#include <algorithm>
#include <cmath>

namespace MenuBarGlyph {

namespace {

QPainterPath arrow(const QList<QPointF>& points)
{
    QPainterPath path(points.first());
    for (qsizetype i = 1; i < points.size(); ++i)
        path.lineTo(points[i]);
    path.closeSubpath();
    return path;
}

// Draws itself at every size and scale the tray asks for.
class GlyphEngine : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        auto [ink, outline] = inks(QApplication::palette());
        if (mode == QIcon::Disabled) {
            ink.setAlphaF(ink.alphaF() * 0.4f);
            outline.setAlphaF(outline.alphaF() * 0.4f);
        }
        MenuBarGlyph::paint(*painter, rect, ink, outline);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QPixmap pixmap(size * scale);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            paint(&painter, QRect(QPoint(), pixmap.size()), mode, state);
        }
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {{16, 16}, {18, 18}, {22, 22}, {24, 24}, {32, 32}, {36, 36}, {48, 48}, {64, 64}};
    }
    QIconEngine* clone() const override { return new GlyphEngine; }
    QString key() const override { return QStringLiteral("MenuBarGlyph"); }
};

} // namespace

void paint(QPainter& painter, const QRectF& rect, const QColor& colour, const QColor& outline)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // The design grid is 256 units wide; 205 units become 16 of 18 points and
    // the point (128, 125.5) lands on the centre.
    const qreal unit = rect.width() / 18.0;
    painter.translate(rect.topLeft());
    painter.scale(unit, unit);
    painter.translate(-203.0 / 205.0, -163.0 / 205.0);
    painter.scale(16.0 / 205.0, 16.0 / 205.0);

    QPainterPath body;
    body.setFillRule(Qt::OddEvenFill);
    body.addRoundedRect(QRectF(76, 44, 104, 184), 24, 24);
    body.addPath(arrow({{104, 112}, {144, 112}, {144, 98}, {170, 120}, {144, 142}, {144, 128}, {104, 128}}));
    body.addPath(arrow({{152, 160}, {112, 160}, {112, 146}, {86, 168}, {112, 190}, {112, 176}, {152, 176}}));

    QPainterPath antennas;
    antennas.moveTo(104, 44);
    antennas.lineTo(92, 23.2);
    antennas.moveTo(152, 44);
    antennas.lineTo(164, 23.2);
    const QPen antennaPen(colour, 14, Qt::SolidLine, Qt::RoundCap);

    if (outline.isValid()) {
        // 0.9 points wide, never under 0.9 pixels; it also fills the narrow
        // arrows, which then read in the outline's colour.
        const qreal ring = std::max(0.9, 0.9 / unit) * 205.0 / 16.0;
        QPen halo(outline, 2 * ring, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.strokePath(body, halo);
        halo.setWidthF(antennaPen.widthF() + 2 * ring);
        painter.strokePath(antennas, halo);
    }
    painter.fillPath(body, colour);
    painter.strokePath(antennas, antennaPen);
    painter.restore();
}

std::pair<QColor, QColor> inks(const QPalette& palette)
{
    const QColor ink = palette.color(QPalette::WindowText);
    QColor outline = ink.lightnessF() < 0.5 ? QColor(Qt::white) : QColor(Qt::black);
    outline.setAlphaF(0.85f);
    return {ink, outline};
}

QImage image(int side, const QColor& colour)
{
    QImage picture(side, side, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    paint(painter, QRectF(0, 0, side, side), colour);
    return picture;
}

QIcon icon()
{
    return QIcon(new GlyphEngine);
}

} // namespace MenuBarGlyph

// ---- the menu --------------------------------------------------------------------

namespace {

constexpr int jobLineInterval = 550; // ms: fewer than two changes a second

void setLine(QAction* item, const std::optional<QString>& text)
{
    item->setVisible(text.has_value());
    if (text)
        item->setText(MainMenu::menuText(*text));
}

} // namespace

MenuBarContent::MenuBarContent(const Environment& env, Hooks hooks, QMenu* menu)
    : QObject(menu), m_env(env), m_hooks(std::move(hooks)), m_menu(menu)
{
    BrowserModel* model = m_env.model;
    for (int i = 0; i < 3; ++i) {
        QAction* line = m_menu->addAction(QString());
        line->setEnabled(false);
        m_header.append(line);
    }
    m_jobSeparator = m_menu->addSeparator();
    m_jobLine = m_menu->addAction(QString());
    m_jobLine->setEnabled(false);
    add(Item::stop, QStringLiteral("Stop"), [model] { model->cancelJob(); });
    m_menu->addSeparator();
    add(Item::openApp, QStringLiteral("Open Vantelorquist"), [this] { m_hooks.bringUp(QStringLiteral("main")); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_menu->addSeparator();
    // The panels of these two come up in front of whatever the user was in.
    add(Item::sendFiles, QStringLiteral("Send Files to Downloads…"), [this, model] {
        activate();
        model->chooseAndUpload(QStringLiteral("/sdcard/Download"));
    });
    add(Item::mirror, QStringLiteral("Mirror Screen"), [this] { m_hooks.bringUp(QStringLiteral("mirror")); });
    add(Item::screenshot, QStringLiteral("Take Screenshot of Phone"), [model] { model->takeScreenshot(); });
    add(Item::install, QStringLiteral("Install APK…"), [this, model] {
        activate();
        model->installAPK();
    });
    add(Item::camera, QStringLiteral("Browse Camera Photos"), [this, model] {
        model->navigate(QStringLiteral("/sdcard/DCIM/Camera"), true);
        m_hooks.bringUp(QStringLiteral("main"));
    });
    m_picker = m_menu->addMenu(QStringLiteral("Phone"));
    m_pickerGroup = new QActionGroup(this);
    m_pickerGroup->setExclusive(true);
    add(Item::wireless, QStringLiteral("Connect over Wi-Fi…"), [this, model] {
        model->setShowingWireless(true);
        m_hooks.bringUp(QStringLiteral("main"));
    })->setEnabled(bool(m_env.commands.wirelessSheet));
    m_menu->addSeparator();
    add(Item::settings, QStringLiteral("Settings…"), [this] { m_hooks.openSettings(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    add(Item::quit, QStringLiteral("Quit Vantelorquist"), [this] { m_hooks.quit(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // The shortcuts act only while the menu is open. Qt matches no shortcut
    // of a menu that hangs from no menu bar, so the menu's keys are read here.
    m_menu->installEventFilter(this);

    m_jobTimer.setSingleShot(true);
    connect(&m_jobTimer, &QTimer::timeout, this, &MenuBarContent::updateJob);
    for (auto signal : {&BrowserModel::selectedSerialChanged, &BrowserModel::devicesChanged,
                        &BrowserModel::deviceInfoChanged, &BrowserModel::adbMissingChanged})
        connect(model, signal, this, &MenuBarContent::update);
    connect(model, &BrowserModel::jobChanged, this, [this] {
        // The job's start and end show at once; its progress, at most twice a second.
        const bool shownNow = m_jobLine->isVisible();
        if (shownNow != m_env.model->job().has_value()) {
            update();
        } else if (!m_jobTimer.isActive()) {
            const qint64 since = m_jobShown.isValid() ? m_jobShown.elapsed() : jobLineInterval;
            m_jobTimer.start(int(std::max<qint64>(0, jobLineInterval - since)));
        }
    });
    connect(model, &BrowserModel::devicesChanged, this, &MenuBarContent::updatePicker);
    connect(model, &BrowserModel::selectedSerialChanged, this, &MenuBarContent::updatePicker);
    update();
    updatePicker();
}

bool MenuBarContent::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_menu && event->type() == QEvent::KeyPress) {
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (QAction* item : m_menu->actions()) {
            if (item->isVisible() && item->isEnabled() && !item->shortcut().isEmpty() && item->shortcut() == pressed) {
                m_menu->hide();
                item->trigger();
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void MenuBarContent::activate()
{
    if (m_hooks.activate)
        m_hooks.activate();
}

QAction* MenuBarContent::add(Item which, const QString& title, std::function<void()> act)
{
    QAction* item = m_menu->addAction(title);
    item->setObjectName(title);
    m_items[size_t(which)] = item;
    connect(item, &QAction::triggered, this, std::move(act));
    return item;
}

QString MenuBarContent::status(const Device& device, const std::optional<DeviceInfo>& info)
{
    if (device.isReady()) {
        QString text = device.isWireless()                            ? QStringLiteral("Connected over Wi-Fi")
                       : device.transport == Device::Transport::mtp ? QStringLiteral("Connected for file transfer")
                                                                      : QStringLiteral("Connected over USB");
        if (info && info->battery) {
            text += QStringLiteral(", battery ") + QString::number(*info->battery) + QStringLiteral("%");
            if (info->charging)
                text += QStringLiteral(" (charging)");
        }
        return text;
    }
    if (device.state == QStringLiteral("unauthorized"))
        return QStringLiteral("Allow USB debugging on the phone");
    return device.stateDescription();
}

QString MenuBarContent::jobLine(const Job& job)
{
    if (!job.progress || !std::isfinite(*job.progress))
        return job.message;
    return job.message + QLatin1Char(' ') + QString::number(static_cast<long long>(std::trunc(*job.progress * 100)))
           + QLatin1Char('%');
}

QAction* MenuBarContent::action(const QString& title) const
{
    for (QAction* item : m_menu->actions()) {
        if (item->isVisible() && !item->isSeparator() && item->text() == title)
            return item;
    }
    return nullptr;
}

QStringList MenuBarContent::lines() const
{
    QStringList texts;
    for (QAction* item : m_menu->actions()) {
        if (item->isVisible())
            texts.append(item->isSeparator() ? QStringLiteral("-") : item->text());
    }
    return texts;
}

void MenuBarContent::update()
{
    const BrowserModel* model = m_env.model;
    const std::optional<Device> selected = model->selectedDevice();
    if (!selected) {
        setLine(m_header[0], model->adbMissing() ? QStringLiteral("Android platform tools not installed")
                                                 : QStringLiteral("No phone connected"));
        setLine(m_header[1], std::nullopt);
        setLine(m_header[2], std::nullopt);
    } else {
        const std::optional<DeviceInfo>& info = model->deviceInfo();
        setLine(m_header[0], selected->model);
        setLine(m_header[1], status(*selected, info));
        setLine(m_header[2], info && info->storageFree && selected->isReady()
                                 ? std::optional<QString>(Look::byteCount(*info->storageFree) + QStringLiteral(" free"))
                                 : std::nullopt);
    }
    updateJob();

    const bool ready = selected && selected->isReady() && !model->job();
    const bool adb = ready && selected->transport == Device::Transport::adb;
    item(Item::sendFiles)->setEnabled(ready);
    item(Item::mirror)->setEnabled(adb && m_hooks.canOpen && m_hooks.canOpen(QStringLiteral("mirror")));
    item(Item::screenshot)->setEnabled(adb);
    item(Item::install)->setEnabled(adb);
    item(Item::camera)->setEnabled(ready);
}

void MenuBarContent::updateJob()
{
    m_jobTimer.stop();
    const std::optional<Job>& job = m_env.model->job();
    m_jobSeparator->setVisible(job.has_value());
    item(Item::stop)->setVisible(job && job->cancellable);
    const QString text = job ? MainMenu::menuText(jobLine(*job)) : QString();
    if (m_jobLine->isVisible() != job.has_value() || (job && m_jobLine->text() != text))
        ++m_jobLineUpdates;
    m_jobLine->setVisible(job.has_value());
    m_jobLine->setText(text);
    m_jobShown.start();
}

void MenuBarContent::updatePicker()
{
    const BrowserModel* model = m_env.model;
    QList<Device> ready;
    for (const Device& device : model->devices()) {
        if (device.isReady())
            ready.append(device);
    }
    m_picker->menuAction()->setVisible(ready.size() >= 2);
    qDeleteAll(m_pickerGroup->actions());
    m_picker->clear();
    if (ready.size() < 2)
        return;
    for (const Device& device : std::as_const(ready)) {
        QAction* option = m_picker->addAction(MainMenu::menuText(device.model));
        option->setCheckable(true);
        option->setChecked(model->selectedSerial() == device.serial);
        m_pickerGroup->addAction(option);
        const QString serial = device.serial;
        connect(option, &QAction::triggered, m_env.model, [this, serial] { m_env.model->setSelectedSerial(serial); });
    }
}

// ---- the tray icon ---------------------------------------------------------------

MenuBarItem::MenuBarItem(const Environment& env, MenuBarContent::Hooks hooks, QObject* parent,
                         std::function<bool()> trayAvailable)
    : QObject(parent), m_menu(std::make_unique<QMenu>()),
      m_trayAvailable(trayAvailable ? std::move(trayAvailable) : [] { return QSystemTrayIcon::isSystemTrayAvailable(); })
{
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    m_content = new MenuBarContent(env, std::move(hooks), m_menu.get());
    m_tray = new QSystemTrayIcon(MenuBarGlyph::icon(), this);
    m_tray->setToolTip(QStringLiteral("Vantelorquist"));
    m_tray->setContextMenu(m_menu.get());
    // A left click shows the same menu; the tray shows it itself on a right click.
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && !m_menu->isVisible())
            m_menu->popup(QCursor::pos());
    });
    // Nothing announces a tray that starts later: it is looked for.
    m_recheck.setInterval(trayRecheck);
    connect(&m_recheck, &QTimer::timeout, this, &MenuBarItem::follow);
    // The tray keeps the pictures it was given: new colours need new ones.
    qApp->installEventFilter(this);
}

MenuBarItem::~MenuBarItem() = default;

void MenuBarItem::setShown(bool shown)
{
    m_wanted = shown;
    follow();
}

void MenuBarItem::follow()
{
    const bool available = m_wanted && m_trayAvailable();
    m_tray->setVisible(available);
    if (m_wanted && !available)
        m_recheck.start();
    else
        m_recheck.stop();
}

bool MenuBarItem::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        m_tray->setIcon(MenuBarGlyph::icon());
    return QObject::eventFilter(watched, event);
}

bool MenuBarItem::isShown() const
{
    return m_tray->isVisible();
}
