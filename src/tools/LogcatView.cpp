#include "LogcatView.h"

#include "Accessibility.h"
#include "Digits.h"
#include "LogRow.h"
#include "LogcatModel.h"
#include "Look.h"
#include "Theme.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

LogcatView::LogcatView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("logcatView"));
    m_rows = new LogRows(this);
    m_row = new LogRow(this);
    m_row->setFont(LogLook::rowFont(font()));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    buildToolbar();
    column->addWidget(findChild<QToolBar*>());

    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("logList"));
    m_list->setAccessibleName(QStringLiteral("Log"));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setModel(m_rows);
    m_list->setItemDelegate(m_row);
    m_list->setUniformItemSizes(false);
    // Rows are laid out a batch at a time so that a burst never stalls the window.
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(2000);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // A click on the chosen row (or a double click) opens its message for selecting.
    m_list->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::DoubleClicked);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QWidget::customContextMenuRequested, this, &LogcatView::showRowMenu);
    // The scroll to a new last line lasts while the batches of its layout
    // land, until the reader moves the list.
    QScrollBar* bar = m_list->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_following)
            bar->setValue(maximum);
    });
    connect(bar, &QScrollBar::actionTriggered, this, [this] { m_following = false; });
    connect(bar, &QScrollBar::sliderPressed, this, [this] { m_following = false; });
    column->addWidget(m_list, 1);

    m_overlay = new QLabel(m_list);
    m_overlay->setObjectName(QStringLiteral("overlay"));
    m_overlay->setTextFormat(Qt::PlainText);
    m_overlay->setAlignment(Qt::AlignCenter);
    m_overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    Look::setForeground(m_overlay, Look::secondary(palette()));

    buildStatusBar();
    column->addWidget(m_statusBar);
    m_row->setWidth(m_list->viewport()->width());
    shownChanged();
}

void LogcatView::buildToolbar()
{
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const QColor ink = palette().color(QPalette::ButtonText);

    m_level = new QComboBox(bar);
    m_level->setObjectName(QStringLiteral("level"));
    m_level->setAccessibleName(QStringLiteral("Level"));
    m_level->setToolTip(QStringLiteral("Show this level and above"));
    for (LogLine::Level level : LogLine::allLevels())
        m_level->addItem(LogLook::name(level), static_cast<int>(level));
    connect(m_level, &QComboBox::activated, this, [this](int index) {
        if (!m_model)
            return;
        if (const auto level = LogLine::levelFromRaw(m_level->itemData(index).toInt()))
            m_model->setMinimumLevel(*level);
    });
    bar->addWidget(m_level);

    m_package = new QLineEdit(bar);
    m_package->setObjectName(QStringLiteral("package"));
    m_package->setPlaceholderText(QStringLiteral("App package"));
    m_package->setAccessibleName(QStringLiteral("App package"));
    m_package->setToolTip(QStringLiteral("Only show lines from this app, e.g. com.example.app"));
    m_package->setFixedWidth(180);
    connect(m_package, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_model)
            m_model->setPackage(text);
    });
    bar->addWidget(m_package);

    m_follow = bar->addAction(Look::symbolIcon(QStringLiteral("arrow.down.to.line"), ink), QStringLiteral("Follow"));
    m_follow->setObjectName(QStringLiteral("follow"));
    m_follow->setCheckable(true);
    m_follow->setChecked(true);
    m_follow->setToolTip(QStringLiteral("Keep the newest line in view"));
    connect(m_follow, &QAction::toggled, this, [this] { m_following = false; });

    m_pause = bar->addAction(Look::symbolIcon(QStringLiteral("pause"), ink), QStringLiteral("Pause"));
    m_pause->setObjectName(QStringLiteral("pause"));
    m_pause->setCheckable(true);
    m_pause->setToolTip(QStringLiteral("Stop adding new lines"));
    connect(m_pause, &QAction::toggled, this, [this](bool on) {
        if (m_model)
            m_model->setPaused(on);
    });

    m_clear = bar->addAction(Look::symbolIcon(QStringLiteral("trash"), ink), QStringLiteral("Clear"));
    m_clear->setObjectName(QStringLiteral("clear"));
    m_clear->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    m_clear->setToolTip(QStringLiteral("Clear the log (Ctrl+K)"));
    connect(m_clear, &QAction::triggered, this, [this] {
        if (m_model)
            m_model->clear();
    });

    m_save = bar->addAction(Look::symbolIcon(QStringLiteral("square.and.arrow.down"), ink), QStringLiteral("Save"));
    m_save->setObjectName(QStringLiteral("save"));
    m_save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_save->setToolTip(QStringLiteral("Save the lines shown to a text file"));
    connect(m_save, &QAction::triggered, this, [this] {
        if (m_model)
            m_model->save();
    });
    for (QAction* action : {m_follow, m_pause, m_clear, m_save})
        action->setShortcutContext(Qt::WindowShortcut);

    auto* gap = new QWidget(bar);
    gap->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(gap);

    m_search = new QLineEdit(bar);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("Filter"));
    m_search->setAccessibleName(QStringLiteral("Filter"));
    m_search->setClearButtonEnabled(true);
    QAction* magnifier = m_search->addAction(
        Look::symbolIcon(QStringLiteral("magnifyingglass"), Look::secondary(palette())), QLineEdit::LeadingPosition);
    Accessibility::setFieldButtons(m_search, {magnifier});
    m_search->setMaximumWidth(240);
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_model)
            m_model->setSearch(text);
    });
    bar->addWidget(m_search);
    Accessibility::setToolbar(bar, QStringLiteral("Toolbar"));
}

void LogcatView::buildStatusBar()
{
    m_statusBar = new QWidget(this);
    m_statusBar->setObjectName(QStringLiteral("statusBar"));
    m_statusBar->setAutoFillBackground(true);
    m_statusBar->setBackgroundRole(QPalette::Window);
    auto* row = new QHBoxLayout(m_statusBar);
    row->setContentsMargins(12, 6, 12, 6);
    m_dot = new QLabel(m_statusBar);
    m_dot->setFixedSize(7, 7);
    Accessibility::hide(m_dot); // the state's text says it
    m_state = new QLabel(m_statusBar);
    m_state->setObjectName(QStringLiteral("state"));
    m_app = new QLabel(m_statusBar);
    m_app->setObjectName(QStringLiteral("app"));
    m_count = new DigitsLabel(m_statusBar);
    m_count->setObjectName(QStringLiteral("count"));
    const QFont callout = Look::callout(font());
    for (QLabel* label : {m_state, m_app, m_count}) {
        // The app's name and the states come from the phone: never markup.
        label->setTextFormat(Qt::PlainText);
        label->setFont(callout);
        Look::setForeground(label, Look::secondary(palette()));
    }
    row->addWidget(m_dot, 0, Qt::AlignVCenter);
    row->addWidget(m_state);
    row->addWidget(m_app);
    row->addStretch(1);
    row->addWidget(m_count);
}

void LogcatView::setModel(LogcatModel* model)
{
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    // The next phone's records start at id 0 again.
    m_row->forgetHeights();
    m_rows->setModel(model);
    m_lastShownId.reset();
    if (m_model) {
        connect(m_model, &LogcatModel::shownUpdated, this, &LogcatView::shownChanged);
        connect(m_model, &LogcatModel::shownReset, this, &LogcatView::shownChanged);
        connect(m_model, &LogcatModel::linesChanged, this, &LogcatView::updateOverlay);
        for (auto signal : {&LogcatModel::pausedChanged, &LogcatModel::endedChanged, &LogcatModel::appPidsChanged})
            connect(m_model, signal, this, &LogcatView::updateStatus);
        for (auto signal : {&LogcatModel::pausedChanged, &LogcatModel::minimumLevelChanged,
                            &LogcatModel::searchChanged, &LogcatModel::packageChanged})
            connect(m_model, signal, this, &LogcatView::updateControls);
    }
    updateControls();
    shownChanged();
}

bool LogcatView::follow() const
{
    return m_follow->isChecked();
}

void LogcatView::setFollow(bool follow)
{
    m_follow->setChecked(follow);
}

void LogcatView::shownChanged()
{
    const qsizetype count = m_model ? m_model->shownCount() : 0;
    // Follow: a new last shown record goes to the bottom; nothing else scrolls.
    std::optional<int64_t> last;
    if (count > 0)
        last = m_model->shownAt(count - 1).id;
    if (last != m_lastShownId) {
        m_lastShownId = last;
        if (last && follow()) {
            m_following = true;
            m_list->scrollTo(m_rows->index(int(count) - 1), QAbstractItemView::PositionAtBottom);
            m_list->verticalScrollBar()->setValue(m_list->verticalScrollBar()->maximum());
        }
    }
    m_count->setText(QString::number(count) + QStringLiteral(" lines"));
    updateOverlay();
    updateStatus();
}

void LogcatView::updateOverlay()
{
    QString overlay;
    if (!m_model || m_model->shownCount() == 0)
        overlay = !m_model || m_model->lines().isEmpty() ? QStringLiteral("Waiting for the phone’s log…")
                                                         : QStringLiteral("No lines match");
    m_overlay->setText(overlay);
    m_overlay->setVisible(!overlay.isEmpty());
    placeOverlay();
}

void LogcatView::updateStatus()
{
    QString state;
    if (m_model && m_model->ended()) {
        state = m_model->endedBecause().value_or(QStringLiteral("Disconnected"));
        m_dotColor = Look::secondary(palette());
    } else if (m_model && m_model->paused()) {
        state = QStringLiteral("Paused");
        m_dotColor = Look::orange();
    } else {
        state = QStringLiteral("Live");
        m_dotColor = Theme::accent(Theme::isDark(palette()));
    }
    m_state->setText(state);
    const qreal ratio = devicePixelRatioF();
    QPixmap dot(QSize(7, 7) * ratio);
    dot.setDevicePixelRatio(ratio);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_dotColor);
    painter.drawEllipse(QRectF(0, 0, 7, 7));
    painter.end();
    m_dot->setPixmap(dot);

    QString app;
    if (m_model && m_model->appPids()) {
        if (m_model->appPids()->isEmpty()) {
            app = QStringLiteral("· app isn’t running");
        } else {
            QStringList ids = m_model->appPids()->values();
            std::sort(ids.begin(), ids.end());
            app = QStringLiteral("· pid ") + ids.join(QStringLiteral(", "));
        }
    }
    m_app->setText(app);
    m_app->setVisible(!app.isEmpty());
}

void LogcatView::updateControls()
{
    if (!m_model)
        return;
    m_level->setCurrentIndex(m_level->findData(static_cast<int>(m_model->minimumLevel())));
    if (m_package->text() != m_model->package())
        m_package->setText(m_model->package());
    if (m_search->text() != m_model->search())
        m_search->setText(m_model->search());
    m_pause->setChecked(m_model->paused());
}

QString LogcatView::stateText() const
{
    return m_state->text();
}

QString LogcatView::appText() const
{
    return m_app->text();
}

QString LogcatView::countText() const
{
    return m_count->text();
}

QString LogcatView::overlayText() const
{
    return m_overlay->isHidden() ? QString() : m_overlay->text();
}

void LogcatView::placeOverlay()
{
    m_overlay->adjustSize();
    const QRect area = m_list->rect();
    m_overlay->move(area.center() - m_overlay->rect().center());
}

void LogcatView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeOverlay();
}

bool LogcatView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::Resize) {
        m_row->setWidth(m_list->viewport()->width());
        placeOverlay();
    }
    return QWidget::eventFilter(watched, event);
}

void LogcatView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_row->setFont(LogLook::rowFont(font()));
        m_list->doItemsLayout();
    } else if (event->type() == QEvent::PaletteChange) {
        updateStatus();
    }
}

void LogcatView::showRowMenu(const QPoint& position)
{
    const QModelIndex index = m_list->indexAt(position);
    if (!index.isValid())
        return;
    const QString raw = m_rows->line(index.row()).raw;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("rowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copy = menu->addAction(QStringLiteral("Copy Line"));
    connect(copy, &QAction::triggered, this, [raw] { QGuiApplication::clipboard()->setText(raw); });
    menu->popup(m_list->viewport()->mapToGlobal(position));
}
