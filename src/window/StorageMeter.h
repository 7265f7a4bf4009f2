#pragma once

#include <QColor>
#include <QWidget>

#include <cstdint>

// The thin used-storage bar under the device panel's facts: a track and a
// bar as long as the used share, orange when the phone is almost full.
class StorageMeter : public QWidget {
    Q_OBJECT
public:
    explicit StorageMeter(QWidget* parent = nullptr);

    // Only a positive total is shown; the panel hides the meter otherwise.
    void setStorage(int64_t total, int64_t free);
    int64_t total() const { return m_total; }
    int64_t free() const { return m_free; }

    // The used share, 0 to 1 whatever the phone said.
    static double fraction(int64_t total, int64_t free);
    // The bar's length in a track `width` long: never under 4.
    static qreal barWidth(qreal width, double fraction);
    // Orange above 0.9 used, else the accent colour.
    static QColor barColor(double fraction, bool dark);
    // "<free> free of <total>": the help text and the accessible value.
    static QString text(int64_t total, int64_t free);

    QSize sizeHint() const override { return QSize(120, 4); }
    QSize minimumSizeHint() const override { return QSize(4, 4); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int64_t m_total = 0;
    int64_t m_free = 0;
};
