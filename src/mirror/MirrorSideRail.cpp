#include "MirrorSideRail.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "Digits.h"
#include "Glass.h"
#include "Look.h"
#include "MirrorLook.h"
#include "MirrorSession.h"
#include "RailButton.h"
#include "Theme.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QGraphicsDropShadowEffect>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString recordHelp = QStringLiteral("Record the screen to a video on your computer, up to 3 minutes (Ctrl+Alt+R)");
const QString stopRecordingHelp = QStringLiteral("Stop recording and copy the video to your computer");
const QString soundOffHelp = QStringLiteral("Play the phone's sound on this computer (Android 11 and later)");
const QString soundOnHelp = QStringLiteral("Phone sound plays on this computer. Click to mute.");
const QString syncOnHelp = QStringLiteral("On: text copied on the phone is copied to this computer too. Click to turn off.");
const QString syncOffHelp = QStringLiteral("Off: click to copy text copied on the phone to this computer too.");
const QString pasteHelp = QStringLiteral("Paste the computer's clipboard on the phone (Ctrl+V)");

GlassSurface* group(QWidget* parent)
{
    auto* surface = new GlassSurface(GlassSurface::Shape::capsule, 0, true, parent);
    auto* layout = new QVBoxLayout(surface);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    layout->setAlignment(Qt::AlignHCenter);
    return surface;
}

} // namespace

MirrorSideRail::MirrorSideRail(MirrorSession& session, BrowserModel& model, QWidget* parent)
    : QWidget(parent), m_session(&session), m_model(model), m_serial(session.serial())
{
    setPalette(MirrorLook::darkPalette(palette()));
    Accessibility::setName(this, QStringLiteral("Phone controls"), {});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    // The upper groups scroll when the window is too short for them all.
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // Tab goes to its buttons; the area itself would be a stop that does nothing.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->setMinimumHeight(0);
    auto* groups = new QWidget(m_scroll);
    auto* stack = new QVBoxLayout(groups);
    // Room for the glass's shadow, which the scroll area would clip.
    stack->setContentsMargins(0, 0, 0, 6);
    stack->setSpacing(12);

    MirrorSession* s = &session;
    auto press = [s](qint32 code) { return [s, code] { s->press(code); }; };
    QWidget* device = group(groups);
    add(device, QStringLiteral("Power"), QStringLiteral("power"), QStringLiteral("Power button: turn the screen on or off"), press(26));
    add(device, QStringLiteral("Volume Up"), QStringLiteral("speaker.plus"), QStringLiteral("Volume up"), press(24));
    add(device, QStringLiteral("Volume Down"), QStringLiteral("speaker.minus"), QStringLiteral("Volume down"), press(25));
    add(device, QStringLiteral("Rotate"), QStringLiteral("rotate.right"),
        QStringLiteral("Turn the phone between portrait and landscape"), [s] { s->rotate(); });

    QWidget* capture = group(groups);
    m_screenshot = add(capture, QStringLiteral("Screenshot"), QStringLiteral("camera"),
                       QStringLiteral("Save a screenshot to your computer (Ctrl+Alt+P)"),
                       [this] { m_model.takeScreenshotOf(m_serial); });
    m_record = add(capture, QStringLiteral("Record"), QStringLiteral("record.circle"), recordHelp,
                   [this] { m_model.toggleRecordingOn(m_serial); });
    m_sound = add(capture, QStringLiteral("Play Sound"), QStringLiteral("speaker.slash"), soundOffHelp,
                  [s] { s->setPlaysSound(!s->playsSound()); });

    QWidget* clipboard = group(groups);
    m_paste = add(clipboard, QStringLiteral("Paste Computer Clipboard"), QStringLiteral("doc.on.clipboard"), pasteHelp,
                  [this] { pasteClipboard(); });
    m_sync = add(clipboard, QStringLiteral("Copy Phone Clipboard to Computer"), QStringLiteral("clipboard.fill"), syncOnHelp,
                 [s] { s->setSyncsClipboard(!s->syncsClipboard()); });

    for (QWidget* g : {device, capture, clipboard})
        stack->addWidget(g, 0, Qt::AlignHCenter);
    stack->addStretch(1);
    m_scroll->setWidget(groups);
    groups->setAutoFillBackground(false); // setWidget() turned it on
    m_scroll->setFixedWidth(44); // the capsules; their shadow is the rail's, below
    layout->addWidget(m_scroll, 1, Qt::AlignHCenter);

    // The navigation keys stay at the foot, outside the scrolling part.
    m_navigation = group(this);
    add(m_navigation, QStringLiteral("Back"), QStringLiteral("chevron.backward"),
        QStringLiteral("Back (or right-click the screen, or Esc)"), press(4));
    add(m_navigation, QStringLiteral("Home"), QStringLiteral("circle"), QStringLiteral("Home"), press(3));
    add(m_navigation, QStringLiteral("Recent Apps"), QStringLiteral("square.on.square"), QStringLiteral("Recent apps"),
        press(187));
    layout->addWidget(m_navigation, 0, Qt::AlignHCenter);

    m_badge = new GlassSurface(GlassSurface::Shape::capsule, 0, false, this);
    m_badge->setFixedSize(44, 42);
    m_badge->setToolTip(QStringLiteral("Frames per second. The phone only sends a new frame when its screen changes."));
    auto* badgeLayout = new QVBoxLayout(m_badge);
    badgeLayout->setContentsMargins(0, 0, 0, 0);
    badgeLayout->setSpacing(0);
    badgeLayout->setAlignment(Qt::AlignCenter);
    m_fps = new DigitsLabel(m_badge);
    QFont number = font();
    number.setPointSizeF(12);
    number.setWeight(QFont::DemiBold);
    m_fps->setFont(number);
    Look::setForeground(m_fps, MirrorLook::white(0.85));
    auto* unit = new QLabel(QStringLiteral("fps"), m_badge);
    QFont small = font();
    small.setPointSizeF(9);
    small.setWeight(QFont::Medium);
    unit->setFont(small);
    Look::setForeground(unit, MirrorLook::white(0.5));
    for (QLabel* label : {m_fps, unit}) {
        label->setAlignment(Qt::AlignHCenter);
        badgeLayout->addWidget(label);
        Accessibility::hide(label); // read as one element, the badge
    }
    layout->addWidget(m_badge, 0, Qt::AlignHCenter);

    // The glass's shadow, drawn by the rail as a whole: an effect paints in
    // its widget's parent, so it falls outside the rail's 44 points, where
    // each capsule's own would be cut off at the rail's (and the scroll
    // area's) edge.
    const QList<GlassSurface*> surfaces = findChildren<GlassSurface*>();
    if (auto* glass = surfaces.isEmpty() ? nullptr
                                         : qobject_cast<QGraphicsDropShadowEffect*>(surfaces.first()->graphicsEffect())) {
        auto* shadow = new QGraphicsDropShadowEffect(this);
        shadow->setColor(glass->color());
        shadow->setBlurRadius(glass->blurRadius());
        shadow->setOffset(glass->offset());
        for (GlassSurface* surface : surfaces)
            surface->setGraphicsEffect(nullptr);
        setGraphicsEffect(shadow);
    }

    connect(&session, &MirrorSession::phaseChanged, this, &MirrorSideRail::refresh);
    connect(&session, &MirrorSession::framesPerSecondChanged, this, &MirrorSideRail::refresh);
    connect(&session, &MirrorSession::playsSoundChanged, this, &MirrorSideRail::refresh);
    connect(&session, &MirrorSession::syncsClipboardChanged, this, &MirrorSideRail::refresh);
    connect(&session, &MirrorSession::clipboardArrivalsChanged, this, [this] { flash(&MirrorSideRail::m_clipboardArrived); });
    connect(&model, &BrowserModel::jobChanged, this, &MirrorSideRail::refresh);
    connect(&model, &BrowserModel::recordingsChanged, this, &MirrorSideRail::refresh);
    refresh();
}

RailButton* MirrorSideRail::add(QWidget* group, const QString& title, const QString& symbol, const QString& help,
                                std::function<void()> action)
{
    auto* button = new RailButton(title, symbol, std::nullopt, help, group);
    group->layout()->addWidget(button);
    connect(button, &RailButton::clicked, this, [this, action = std::move(action)] {
        if (m_session)
            action();
    });
    m_buttons.append(button);
    return button;
}

RailButton* MirrorSideRail::button(const QString& title) const
{
    for (RailButton* button : m_buttons) {
        if (button->title() == title)
            return button;
    }
    return nullptr;
}

QWidget* MirrorSideRail::badge() const
{
    return m_badge;
}

QString MirrorSideRail::badgeText() const
{
    return m_badge->isVisibleTo(const_cast<MirrorSideRail*>(this)) ? m_fps->text() : QString();
}

QStringList MirrorSideRail::symbolNames()
{
    return {QStringLiteral("power"), QStringLiteral("speaker.plus"), QStringLiteral("speaker.minus"),
            QStringLiteral("rotate.right"), QStringLiteral("camera"), QStringLiteral("record.circle"),
            QStringLiteral("stop.circle.fill"), QStringLiteral("speaker.slash"), QStringLiteral("speaker.wave.2.fill"),
            QStringLiteral("doc.on.clipboard"), QStringLiteral("checkmark"), QStringLiteral("clipboard.fill"),
            QStringLiteral("clipboard"), QStringLiteral("chevron.backward"), QStringLiteral("circle"),
            QStringLiteral("square.on.square")};
}

void MirrorSideRail::refresh()
{
    if (!m_session)
        return;
    const QColor accent = Theme::accent(true);
    m_screenshot->setEnabled(!m_model.job());

    // The mirrored phone's, which need not be the phone chosen in the main window.
    if (m_model.recordingStartedOn(m_serial))
        m_record->setLook(QStringLiteral("Stop Recording"), QStringLiteral("stop.circle.fill"), Look::red(), stopRecordingHelp);
    else
        m_record->setLook(QStringLiteral("Record"), QStringLiteral("record.circle"), std::nullopt, recordHelp);

    if (m_session->playsSound())
        m_sound->setLook(QStringLiteral("Mute"), QStringLiteral("speaker.wave.2.fill"), accent, soundOnHelp);
    else
        m_sound->setLook(QStringLiteral("Play Sound"), QStringLiteral("speaker.slash"), std::nullopt, soundOffHelp);

    m_paste->setLook(m_paste->title(), m_pasted ? QStringLiteral("checkmark") : QStringLiteral("doc.on.clipboard"),
                     m_pasted ? std::optional(accent) : std::nullopt, pasteHelp);

    const bool syncing = m_session->syncsClipboard();
    const QString syncSymbol = m_clipboardArrived ? QStringLiteral("checkmark")
                               : syncing          ? QStringLiteral("clipboard.fill")
                                                  : QStringLiteral("clipboard");
    m_sync->setLook(m_sync->title(), syncSymbol, syncing ? accent : MirrorLook::white(0.45), syncing ? syncOnHelp : syncOffHelp);
    m_sync->setValueText(syncing ? QStringLiteral("On") : QStringLiteral("Off"));

    const bool streaming = m_session->phase().kind() == MirrorSession::Phase::Kind::streaming;
    const QString fps = QString::number(m_session->framesPerSecond());
    if (m_fps->text() != fps) {
        m_fps->setText(fps);
        m_badge->setAccessibleName(fps + QStringLiteral(" frames per second"));
    }
    m_badge->setVisible(streaming);
}

void MirrorSideRail::pasteClipboard()
{
    const QString text = QApplication::clipboard()->text();
    if (text.isEmpty()) {
        QApplication::beep();
        return;
    }
    m_session->paste(text);
    flash(&MirrorSideRail::m_pasted);
}

void MirrorSideRail::flash(bool MirrorSideRail::*flag)
{
    this->*flag = true;
    refresh();
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, flag, timer] {
        this->*flag = false;
        refresh();
        timer->deleteLater();
    });
    timer->start(1200);
}
