#pragma once

#include "LogLine.h"

#include <QAbstractListModel>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QStyledItemDelegate>

class LogcatModel;
class QPalette;

// How log levels look: their names, letters and colours.
namespace LogLook {
QString name(LogLine::Level level);
QString letter(LogLine::Level level); // "F" for fatal, also from an "A" line
QColor levelColor(LogLine::Level level, const QPalette& palette);
QColor messageColor(LogLine::Level level, const QPalette& palette);
QFont rowFont(const QFont& base); // small, monospaced
} // namespace LogLook

// The shown records as list rows. Flushes insert and remove rows, told
// before the records change; only a change of the filters resets the list.
class LogRows : public QAbstractListModel {
    Q_OBJECT
public:
    explicit LogRows(QObject* parent = nullptr);

    void setModel(LogcatModel* model);
    const LogLine& line(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    LogcatModel* m_model = nullptr;
    int m_rows = 0;
};

// Paints one record on one row: time, level badge, tag in a column of its
// own, message wrapping below itself. Heights are kept per record for the
// current width. The message opens in a read-only editor for selecting.
class LogRow : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit LogRow(QObject* parent = nullptr);

    static constexpr int kTagWidth = 150;
    static constexpr int kMinimumHeight = 18;
    // Longer messages are drawn cut here (the record keeps them whole), so
    // that a huge line cannot stall the window.
    static constexpr qsizetype kDrawnMessage = 16384;

    // The list's width; a new one forgets the heights.
    void setWidth(int width);
    // Heights are kept by record id, which a new log model starts again.
    void forgetHeights();
    void setFont(const QFont& font);

    // Where the parts of a row go within its rectangle.
    struct Geometry {
        QRect time;
        QRect badge;
        QRect tag;
        QRect message;
    };
    Geometry geometry(const LogLine& line, const QRect& row) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

private:
    int messageHeight(const QString& message, int width) const;

    QFont m_font;
    QFont m_bold;
    int m_width = 0;
    mutable QHash<int64_t, int> m_heights;
};
