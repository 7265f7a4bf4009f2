#include "LogRow.h"

#include "LogcatModel.h"
#include "Look.h"
#include "Theme.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QTextLayout>

namespace {

constexpr int kInsetX = 8;
constexpr int kInsetY = 1;
constexpr int kSpacing = 8;
constexpr int kBadgeWidth = 16;
constexpr int kBadgeHeight = 15;

const QColor kBlue(10, 132, 255);
const QColor kRed(255, 69, 58);

QString drawnMessage(const QString& message)
{
    if (message.size() <= LogRow::kDrawnMessage)
        return message;
    return message.left(LogRow::kDrawnMessage) + QStringLiteral("…");
}

// Wraps the layout's lines to width, one under another; returns their height.
qreal wrapLines(QTextLayout& layout, int width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine text = layout.createLine(); text.isValid(); text = layout.createLine()) {
        text.setLineWidth(width);
        text.setPosition(QPointF(0, height));
        height += text.height();
    }
    layout.endLayout();
    return height;
}

} // namespace

namespace LogLook {

QString name(LogLine::Level level)
{
    switch (level) {
    case LogLine::Level::verbose: return QStringLiteral("Verbose");
    case LogLine::Level::debug: return QStringLiteral("Debug");
    case LogLine::Level::info: return QStringLiteral("Info");
    case LogLine::Level::warning: return QStringLiteral("Warning");
    case LogLine::Level::error: return QStringLiteral("Error");
    case LogLine::Level::fatal: return QStringLiteral("Fatal");
    }
    return {};
}

QString letter(LogLine::Level level)
{
    static const QString letters[] = {QStringLiteral("V"), QStringLiteral("D"), QStringLiteral("I"),
                                      QStringLiteral("W"), QStringLiteral("E"), QStringLiteral("F")};
    return letters[static_cast<int>(level)];
}

QColor levelColor(LogLine::Level level, const QPalette& palette)
{
    switch (level) {
    case LogLine::Level::verbose: return Look::secondary(palette);
    case LogLine::Level::debug: return kBlue;
    case LogLine::Level::info: return Theme::accent(Theme::isDark(palette));
    case LogLine::Level::warning: return Look::orange();
    case LogLine::Level::error:
    case LogLine::Level::fatal: return kRed;
    }
    return palette.color(QPalette::Text);
}

QColor messageColor(LogLine::Level level, const QPalette& palette)
{
    if (level == LogLine::Level::warning)
        return Look::orange();
    if (level >= LogLine::Level::error)
        return kRed;
    return palette.color(QPalette::Text);
}

QFont rowFont(const QFont& base)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() * 0.85 : 9);
    return font;
}

} // namespace LogLook

// ---------------------------------------------------------------- LogRows

LogRows::LogRows(QObject* parent) : QAbstractListModel(parent) {}

void LogRows::setModel(LogcatModel* model)
{
    beginResetModel();
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    if (m_model) {
        connect(m_model, &LogcatModel::shownAboutToBeRemoved, this,
                [this](qsizetype count) { beginRemoveRows({}, 0, int(count) - 1); });
        connect(m_model, &LogcatModel::shownRemoved, this, [this](qsizetype count) {
            m_rows -= int(count);
            endRemoveRows();
        });
        connect(m_model, &LogcatModel::shownAboutToBeAppended, this,
                [this](qsizetype count) { beginInsertRows({}, m_rows, m_rows + int(count) - 1); });
        connect(m_model, &LogcatModel::shownAppended, this, [this](qsizetype count) {
            m_rows += int(count);
            endInsertRows();
        });
        connect(m_model, &LogcatModel::shownAboutToBeReset, this, [this] { beginResetModel(); });
        connect(m_model, &LogcatModel::shownReset, this, [this] {
            m_rows = int(m_model->shownCount());
            endResetModel();
        });
    }
    m_rows = m_model ? int(m_model->shownCount()) : 0;
    endResetModel();
}

const LogLine& LogRows::line(int row) const
{
    return m_model->shownAt(row);
}

int LogRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QVariant LogRows::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    const LogLine& record = line(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return record.raw;
    case Qt::EditRole: return record.message;
    case Qt::UserRole: return QVariant::fromValue<qint64>(record.id);
    default: return {};
    }
}

Qt::ItemFlags LogRows::flags(const QModelIndex& index) const
{
    // Editable only so that the message can open for selecting; nothing is written back.
    return QAbstractListModel::flags(index) | Qt::ItemIsEditable;
}

// ---------------------------------------------------------------- LogRow

LogRow::LogRow(QObject* parent) : QStyledItemDelegate(parent) {}

void LogRow::forgetHeights()
{
    m_heights.clear();
}

void LogRow::setWidth(int width)
{
    if (width == m_width)
        return;
    m_width = width;
    m_heights.clear();
}

void LogRow::setFont(const QFont& font)
{
    m_font = font;
    m_bold = font;
    m_bold.setBold(true);
    m_heights.clear();
}

LogRow::Geometry LogRow::geometry(const LogLine& line, const QRect& row) const
{
    const QFontMetrics metrics(m_font);
    const int lineHeight = metrics.height();
    const int top = row.top() + kInsetY;
    Geometry g;
    int x = row.left() + kInsetX;
    g.time = QRect(x, top, metrics.horizontalAdvance(line.time), lineHeight);
    x = g.time.right() + 1 + kSpacing;
    g.badge = QRect(x, top + (lineHeight - kBadgeHeight) / 2, kBadgeWidth, kBadgeHeight);
    x += kBadgeWidth + kSpacing;
    g.tag = QRect(x, top, kTagWidth, lineHeight);
    x += kTagWidth + kSpacing;
    const int right = row.right() - kInsetX;
    g.message = QRect(x, top, std::max(1, right - x + 1), std::max(lineHeight, row.height() - 2 * kInsetY));
    return g;
}

int LogRow::messageHeight(const QString& message, int width) const
{
    const QFontMetrics metrics(m_font);
    // Most messages fit on one line; a monospaced font tells without laying out.
    if (message.size() * qsizetype(metrics.maxWidth()) <= width && !message.contains(QLatin1Char('\n')))
        return metrics.height();
    QTextLayout layout(drawnMessage(message), m_font);
    return std::max(metrics.height(), int(std::ceil(wrapLines(layout, width))));
}

QSize LogRow::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    (void)option;
    const auto* rows = qobject_cast<const LogRows*>(index.model());
    if (!rows)
        return {m_width, kMinimumHeight};
    const LogLine& line = rows->line(index.row());
    auto cached = m_heights.constFind(line.id);
    if (cached != m_heights.constEnd())
        return {m_width, *cached};
    const Geometry g = geometry(line, QRect(0, 0, m_width, kMinimumHeight));
    const int height = std::max(kMinimumHeight, messageHeight(line.message, g.message.width()) + 2 * kInsetY);
    // Records come and go; forget the old ones now and then.
    if (m_heights.size() > 4 * LogcatModel::kCap)
        m_heights.clear();
    m_heights.insert(line.id, height);
    return {m_width, height};
}

void LogRow::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto* rows = qobject_cast<const LogRows*>(index.model());
    if (!rows)
        return;
    const LogLine& line = rows->line(index.row());
    const QPalette& palette = option.palette;
    painter->save();
    if (option.state & QStyle::State_Selected)
        painter->fillRect(option.rect, Look::quaternaryFill(palette));
    const Geometry g = geometry(line, option.rect);
    painter->setFont(m_font);

    painter->setPen(Look::tertiary(palette));
    painter->drawText(g.time, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line.time);

    const QColor color = LogLook::levelColor(line.level, palette);
    QColor fill = color;
    fill.setAlphaF(0.85f);
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath badge;
    badge.addRoundedRect(g.badge, 3, 3);
    painter->fillPath(badge, fill);
    painter->setFont(m_bold);
    painter->setPen(Qt::white);
    painter->drawText(g.badge, Qt::AlignCenter, LogLook::letter(line.level));
    painter->setFont(m_font);

    painter->setPen(color);
    const QString tag = QFontMetrics(m_font).elidedText(line.tag, Qt::ElideRight, g.tag.width());
    painter->drawText(g.tag, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, tag);

    painter->setPen(LogLook::messageColor(line.level, palette));
    QTextLayout layout(drawnMessage(line.message), m_font);
    wrapLines(layout, g.message.width());
    layout.draw(painter, g.message.topLeft());
    painter->restore();
}

QWidget* LogRow::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    (void)option;
    (void)index;
    auto* editor = new QPlainTextEdit(parent);
    editor->setObjectName(QStringLiteral("messageSelection"));
    editor->setReadOnly(true);
    editor->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    editor->setFrameShape(QFrame::NoFrame);
    editor->setFont(m_font);
    editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    editor->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    editor->document()->setDocumentMargin(0);
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return editor;
}

void LogRow::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* text = qobject_cast<QPlainTextEdit*>(editor);
    const auto* rows = qobject_cast<const LogRows*>(index.model());
    if (!text || !rows)
        return;
    const LogLine& line = rows->line(index.row());
    const QString shown = drawnMessage(line.message);
    // Setting the same text again would drop the user's selection.
    if (text->toPlainText() != shown) {
        text->setPlainText(shown);
        QPalette palette = text->palette();
        palette.setColor(QPalette::Text, LogLook::messageColor(line.level, palette));
        text->setPalette(palette);
    }
}

void LogRow::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto* rows = qobject_cast<const LogRows*>(index.model());
    if (!rows)
        return;
    editor->setGeometry(geometry(rows->line(index.row()), option.rect).message);
}
