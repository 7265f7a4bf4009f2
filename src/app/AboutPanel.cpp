#include "AboutPanel.h"

#include "Mirvek.h"

#include <QApplication>
#include <QDate>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

namespace Mirvek {

QDialog* showAboutPanel()
{
    static QPointer<QDialog> open;
    if (!open) {
        auto* panel = new QDialog;
        panel->setObjectName(QStringLiteral("aboutPanel"));
        panel->setAttribute(Qt::WA_DeleteOnClose);
        const QString name = QApplication::applicationDisplayName();
        panel->setWindowTitle(QStringLiteral("About ") + name);
        auto* column = new QVBoxLayout(panel);
        column->setContentsMargins(32, 24, 32, 20);
        column->setSpacing(8);

        auto* icon = new QLabel(panel);
        icon->setPixmap(QPixmap::fromImage(markImage(64, panel->devicePixelRatioF())));
        icon->setAccessibleName(QStringLiteral("MIRVEK"));
        column->addWidget(icon, 0, Qt::AlignHCenter);
        auto* title = new QLabel(name, panel);
        title->setObjectName(QStringLiteral("aboutName"));
        title->setTextFormat(Qt::PlainText);
        QFont bold = title->font();
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() * 1.3);
        title->setFont(bold);
        column->addWidget(title, 0, Qt::AlignHCenter);
        auto* version = new QLabel(QStringLiteral("Version ") + QApplication::applicationVersion(), panel);
        version->setObjectName(QStringLiteral("aboutVersion"));
        version->setTextFormat(Qt::PlainText);
        version->setVisible(!QApplication::applicationVersion().isEmpty());
        column->addWidget(version, 0, Qt::AlignHCenter);
        column->addSpacing(6);
        column->addWidget(credits(panel), 0, Qt::AlignHCenter);
        column->addSpacing(6);
        auto* copyright = new QLabel(panel);
        copyright->setObjectName(QStringLiteral("copyright"));
        copyright->setTextFormat(Qt::PlainText);
        column->addWidget(copyright, 0, Qt::AlignHCenter);
        panel->setFixedSize(panel->sizeHint().expandedTo(QSize(300, 0)));
        open = panel;
    }
    // The year when the panel comes up, also across a new year.
    open->findChild<QLabel*>(QStringLiteral("copyright"))
        ->setText(QStringLiteral("© %1 MIRVEK").arg(QDate::currentDate().year()));
    open->show();
    open->raise();
    open->activateWindow();
    return open;
}

} // namespace Mirvek
