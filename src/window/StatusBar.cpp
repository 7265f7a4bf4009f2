#include "StatusBar.h"

#include "BrowserModel.h"
#include "Digits.h"
#include "Look.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QFrame>
#include <QLabel>
#include <QSet>
#include <QVBoxLayout>

StatusBar::StatusBar(BrowserModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("statusBar"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(1);
    column->addWidget(divider);
    m_line = new DigitsLabel(this);
    m_line->setObjectName(QStringLiteral("statusLine"));
    m_line->setAlignment(Qt::AlignCenter);
    m_line->setTextFormat(Qt::PlainText);
    m_line->setFixedHeight(28);
    // As wide as the bar, however long its text: a notice is fitted to it.
    m_line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_line->installEventFilter(this);
    m_line->setFont(Look::callout(font()));
    Look::setForeground(m_line, Look::secondary(palette()));
    column->addWidget(m_line);

    for (auto signal : {&BrowserModel::visibleEntriesChanged, &BrowserModel::selectionChanged,
                        &BrowserModel::entriesChanged, &BrowserModel::deviceInfoChanged, &BrowserModel::noticeChanged})
        connect(model, signal, this, &StatusBar::update);
    update();
}

QString StatusBar::summary(qsizetype visible, bool hasSelection, const QList<RemoteEntry>& selected,
                           const std::optional<DeviceInfo>& info)
{
    QString line;
    if (!hasSelection) {
        line = visible == 1 ? QStringLiteral("1 item") : QString::number(visible) + QStringLiteral(" items");
    } else {
        int64_t total = 0;
        for (const RemoteEntry& entry : selected) {
            if (!entry.isDirectory)
                total += entry.size;
        }
        line = QString::number(selected.size()) + QStringLiteral(" of ") + QString::number(visible)
               + QStringLiteral(" selected");
        if (total > 0)
            line += QStringLiteral(", ") + Look::byteCount(total);
    }
    if (info && info->storageFree)
        line += QStringLiteral(", ") + Look::byteCount(*info->storageFree) + QStringLiteral(" available");
    return line;
}

QString StatusBar::text() const
{
    return m_line->text();
}

QString StatusBar::fitted(const Notice& notice, const QFont& font, int width)
{
    const QString whole = notice.text();
    if (width <= 0 || Digits::width(whole, font) <= width)
        return whole;
    // Digits are drawn in cells of one width, which the font's own
    // shortening does not know: it is asked for less until the line fits.
    const QFontMetricsF metrics(font);
    const QString ellipsis(QChar(0x2026));
    qreal room = width - Digits::width(notice.before + notice.after, font);
    for (;;) {
        QString name = room > 0 ? metrics.elidedText(notice.name, Qt::ElideMiddle, room) : QString();
        if (name.isEmpty())
            name = ellipsis;
        const QString line = notice.before + name + notice.after;
        if (name == ellipsis || Digits::width(line, font) <= width)
            return line;
        room -= std::max<qreal>(1, metrics.averageCharWidth());
    }
}

bool StatusBar::eventFilter(QObject* watched, QEvent* event)
{
    // A notice is fitted to the line's new width.
    if (watched == m_line && event->type() == QEvent::Resize && m_model->noticeParts())
        update();
    return QWidget::eventFilter(watched, event);
}

void StatusBar::update()
{
    if (const std::optional<Notice>& notice = m_model->noticeParts()) {
        m_line->setText(fitted(*notice, m_line->font(), m_line->contentsRect().width()));
        return;
    }
    const bool hasSelection = !m_model->selection().isEmpty();
    const QList<RemoteEntry> selected = hasSelection ? m_model->selectedEntries() : QList<RemoteEntry>();
    qsizetype counted = m_model->visibleEntries().size();
    // Selected entries the search hides still count among the items, so
    // that no line reads "2 of 1 selected".
    if (hasSelection && !m_model->searchText().isEmpty()) {
        QSet<QString> shown;
        for (const RemoteEntry& entry : m_model->visibleEntries())
            shown.insert(entry.name);
        for (const RemoteEntry& entry : selected)
            counted += shown.contains(entry.name) ? 0 : 1;
    }
    m_line->setText(summary(counted, hasSelection, selected, m_model->deviceInfo()));
}
