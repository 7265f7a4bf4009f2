// Icons drawn or read when first shown instead of when made, so that the
// first window comes up sooner, and looking the same as before.

#include "LazyIconStyle.h"
#include "Look.h"
#include "Symbols.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {

// Whether an image-format plugin has been loaded into this process.
bool imagePluginsLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/imageformats/");
}

QImage picture(const QIcon& icon, QSize size, QIcon::Mode mode = QIcon::Normal)
{
    return icon.pixmap(size, 1.0, mode).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// A symbol in one colour drawn through its QIcon, as it always was.
QImage throughIcon(const QString& name, int size, const QColor& color, qreal ratio)
{
    const QSize pixels(qRound(size * ratio), qRound(size * ratio));
    QPixmap result(pixels);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(QPoint(0, 0), pixels), Symbols::icon(name).pixmap(pixels));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(result.rect(), color);
    painter.end();
    return result.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage drawn(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

TEST(Symbol, LooksAsDrawnThroughItsIconAtEverySizeColourAndScale)
{
    for (const QString& name : {QStringLiteral("smartphone"), QStringLiteral("cable.connector"),
                                QStringLiteral("wifi"), QStringLiteral("iphone.gen3.radiowaves.left.and.right"),
                                QStringLiteral("iphone"), QStringLiteral("no.such.symbol")}) {
        for (const int size : {11, 16, 22, 23, 48}) {
            for (const QColor& color : {QColor(Qt::white), QColor(255, 255, 255, 217), QColor(40, 90, 200, 200)}) {
                for (const qreal ratio : {1.0, 1.5, 2.0}) {
                    SCOPED_TRACE(QStringLiteral("%1 %2 %3 %4").arg(name).arg(size).arg(color.name(QColor::HexArgb)).arg(ratio).toStdString());
                    const QPixmap symbol = Look::symbol(name, size, color, ratio);
                    EXPECT_EQ(symbol.devicePixelRatio(), ratio);
                    EXPECT_EQ(drawn(symbol), throughIcon(name, size, color, ratio));
                }
            }
        }
    }
}

TEST(Symbol, FollowsTheColourAskedForAfterBeingDrawnInAnother)
{
    // A theme switch asks for the same symbol in the other theme's colour.
    const QColor light(0, 122, 255), dark(10, 132, 255, 230);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(drawn(Look::symbol(QStringLiteral("wifi"), 18, light)),
                  throughIcon(QStringLiteral("wifi"), 18, light, 1.0));
        EXPECT_EQ(drawn(Look::symbol(QStringLiteral("wifi"), 18, dark)), throughIcon(QStringLiteral("wifi"), 18, dark, 1.0));
        EXPECT_EQ(drawn(Look::symbol(QStringLiteral("wifi"), 24, light)),
                  throughIcon(QStringLiteral("wifi"), 24, light, 1.0));
    }
}

TEST(SymbolIcon, AnswersAsAnIconHoldingEverySizeDrawnAtOnce)
{
    const QColor ink(40, 90, 200, 200);
    for (const QString& name : {QStringLiteral("chevron.left"), QStringLiteral("wifi"), QStringLiteral("no.such.symbol")}) {
        SCOPED_TRACE(name.toStdString());
        QIcon eager;
        for (int side : {16, 18, 24, 32, 36, 48})
            eager.addPixmap(Look::symbol(name, side, ink));
        const QIcon lazy = Look::symbolIcon(name, ink);
        EXPECT_FALSE(lazy.isNull());
        for (const QSize size : {QSize(18, 18), QSize(16, 16), QSize(20, 20), QSize(36, 36), QSize(12, 12),
                                 QSize(64, 64), QSize(30, 18)}) {
            SCOPED_TRACE(size.width());
            EXPECT_EQ(lazy.actualSize(size), eager.actualSize(size));
            for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Selected})
                EXPECT_EQ(picture(lazy, size, mode), picture(eager, size, mode)) << mode;
        }
        EXPECT_EQ(lazy.availableSizes(), eager.availableSizes());
    }
}

TEST(LazyIconStyle, AToolbarAndAClearableFieldLoadNoImagePluginAndTheIconsAreTheStylesOwn)
{
    if (imagePluginsLoaded())
        GTEST_SKIP() << "an image plugin was loaded before this test";
    const QString key = QApplication::style()->name();
    QApplication::setStyle(new LazyIconStyle(key));
    {
        QMainWindow window;
        QToolBar* bar = window.addToolBar(QStringLiteral("Toolbar"));
        auto* field = new QLineEdit(bar);
        field->setClearButtonEnabled(true);
        bar->addWidget(field);
        window.resize(400, 200);
        window.show();
        window.grab();
        EXPECT_FALSE(imagePluginsLoaded());
    }

    // Once asked for, they are the pictures of the style wrapped.
    std::unique_ptr<QStyle> plain(QStyleFactory::create(key));
    for (const QStyle::StandardPixmap which : {QStyle::SP_ToolBarHorizontalExtensionButton,
                                               QStyle::SP_ToolBarVerticalExtensionButton,
                                               QStyle::SP_LineEditClearButton}) {
        SCOPED_TRACE(which);
        const QIcon lazy = QApplication::style()->standardIcon(which);
        const QIcon own = plain->standardIcon(which);
        ASSERT_FALSE(own.isNull());
        EXPECT_EQ(lazy.availableSizes(), own.availableSizes());
        for (const QSize size : {QSize(8, 8), QSize(16, 16), QSize(32, 32)})
            EXPECT_EQ(picture(lazy, size), picture(own, size));
    }
    // Others are passed through.
    EXPECT_EQ(picture(QApplication::style()->standardIcon(QStyle::SP_DialogOkButton), QSize(16, 16)),
              picture(plain->standardIcon(QStyle::SP_DialogOkButton), QSize(16, 16)));
}

// The main window's toolbar background, drawn once per height and repeated
// across, looks exactly as the wrapped style draws it across the bar, also
// where it is drawn as before (a scaled screen, a bar too thin).
TEST(LazyIconStyle, AMainWindowsToolbarLooksAsTheWrappedStyleDrawsIt)
{
    std::unique_ptr<QStyle> plain(QStyleFactory::create(QStringLiteral("Fusion")));
    LazyIconStyle lazy(QStringLiteral("Fusion"));
    QMainWindow window;
    QToolBar* bar = window.addToolBar(QStringLiteral("Toolbar"));
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 32, 36));
    for (const QPalette& palette : {QPalette(), dark}) {
        for (const Qt::ToolBarArea area : {Qt::TopToolBarArea, Qt::BottomToolBarArea}) {
            for (const auto line : {QStyleOptionToolBar::OnlyOne, QStyleOptionToolBar::Beginning,
                                    QStyleOptionToolBar::Middle, QStyleOptionToolBar::End}) {
                for (const QSize size : {QSize(1040, 29), QSize(9, 40), QSize(333, 1)}) {
                    for (const qreal ratio : {1.0, 2.0}) {
                        SCOPED_TRACE(QStringLiteral("%1 area %2 line %3 %4x%5 ratio %6")
                                         .arg(palette.color(QPalette::Window).name())
                                         .arg(int(area)).arg(int(line)).arg(size.width()).arg(size.height()).arg(ratio)
                                         .toStdString());
                        QStyleOptionToolBar option;
                        option.initFrom(bar);
                        option.palette = palette;
                        option.state |= QStyle::State_Horizontal;
                        option.toolBarArea = area;
                        option.positionOfLine = line;
                        option.rect = QRect(QPoint(3, 2), size);
                        const auto draw = [&](const QStyle& style) {
                            QPixmap canvas(QSize(size.width() + 6, size.height() + 4) * ratio);
                            canvas.setDevicePixelRatio(ratio);
                            canvas.fill(Qt::magenta);
                            QPainter painter(&canvas);
                            style.drawControl(QStyle::CE_ToolBar, &option, &painter, bar);
                            painter.end();
                            return drawn(canvas);
                        };
                        // Twice: the second comes from what the first kept.
                        EXPECT_EQ(draw(lazy), draw(*plain));
                        EXPECT_EQ(draw(lazy), draw(*plain));
                    }
                }
            }
        }
    }
}
