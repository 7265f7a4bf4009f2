#pragma once

#include "Glass.h"

#include <QString>

class QLabel;
class QVariantAnimation;
class QWidget;

// A status text in a glass capsule, led by a pulsing accent dot or a small
// spinner. The dot breathes between 0.3 and full opacity unless motion is
// reduced, when it stays at full opacity.
class StatusPill : public GlassSurface {
    Q_OBJECT
public:
    StatusPill(const QString& text, bool pulsing, QWidget* parent = nullptr);

    QString text() const;
    bool isPulsing() const { return m_pulsing; }
    // The dot's opacity now; 1 without a dot.
    qreal dotOpacity() const;

private:
    bool m_pulsing;
    QLabel* m_text;
    QWidget* m_dot = nullptr;
};
