#pragma once

#include <QHash>
#include <QPixmap>
#include <QProxyStyle>

// The application's style with the standard icons that every toolbar and
// clearable field asks for at once made only when first drawn. They are
// PNG files, and Qt loads every image-format plugin (and their libraries)
// to read the first PNG, which would hold up the first window; the overflow
// button and the clear button are hidden at first anyway. The main window's
// toolbar background is drawn once per height and repeated across.
class LazyIconStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Wraps a new instance of the style named `key`.
    explicit LazyIconStyle(const QString& key);

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;

private:
    static constexpr int stripWidth = 8;
    const bool m_toolBarsRepeatAcross;
    mutable QHash<QString, QPixmap> m_toolBarStrips;
};
