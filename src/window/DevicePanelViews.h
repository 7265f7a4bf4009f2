#pragma once

#include "Models.h"

#include <QAbstractButton>
#include <QBasicTimer>
#include <QColor>
#include <QDateTime>
#include <QLabel>
#include <QWidget>

#include <functional>
#include <optional>

class DigitsLabel;
class GlassSurface;

// A text of one line, cut with an ellipsis where it does not fit, shown as
// plain text whatever it holds: names and versions come from the phone.
class OneLineLabel : public QLabel {
    Q_OBJECT
public:
    explicit OneLineLabel(QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The phone tile: the phone symbol on the accent gradient, on glass, with a
// badge for the kind of connection at its corner. Screen readers skip it;
// its help text says how the phone is connected.
class DeviceTile : public QWidget {
    Q_OBJECT
public:
    explicit DeviceTile(QWidget* parent = nullptr);

    void setDevice(const Device& device);
    const QString& badgeSymbol() const { return m_badge; }

    // Not ready first, then Wi-Fi, then file transfer, else the cable.
    static QString badgeSymbol(const Device& device);
    // File transfer first, then Wi-Fi, else USB; readiness plays no part.
    static QString helpText(const Device& device);

private:
    QWidget* m_badgeView;
    QString m_badge;
};

// One tool of the panel: a symbol on a glass circle over a small title. The
// whole cell takes clicks; it is drawn faded while disabled.
class ToolButton : public QAbstractButton {
    Q_OBJECT
public:
    ToolButton(const QString& title, const QString& symbol, const QString& help, QWidget* parent = nullptr);

    // The title is also the name screen readers read; no tint means the accent.
    void setLook(const QString& title, const QString& symbol, const std::optional<QColor>& tint = std::nullopt);
    const QString& symbolName() const { return m_symbol; }
    const std::optional<QColor>& tint() const { return m_tint; }
    // 1 while usable, 0.4 while not.
    qreal opacity() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QFont titleFont() const;

    QString m_symbol;
    std::optional<QColor> m_tint;
    GlassSurface* m_circle;
};

// The red capsule of a running screen recording: how long it has run, and
// a click stops it. Only its time text is redrawn, once a second, and only
// while it is shown.
class RecordingBadge : public QAbstractButton {
    Q_OBJECT
public:
    explicit RecordingBadge(QWidget* parent = nullptr);

    void setStarted(const QDateTime& started);
    // The time source; the computer's clock unless a test sets one.
    void setClock(std::function<QDateTime()> now);

    // "Recording m:ss": whole seconds since `started`, none before it.
    static QString elapsedText(const QDateTime& started, const QDateTime& now);
    QString timeText() const;
    bool isTicking() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void tick();

    DigitsLabel* m_time;
    QDateTime m_started;
    std::function<QDateTime()> m_now;
    QBasicTimer m_timer;
};
