#include "PlainText.h"

#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>

namespace PlainText {

void setInformativeText(QMessageBox& box, const QString& text)
{
    box.setInformativeText(text);
    // The box makes the label on first use; it is the one child showing the text.
    const QList<QLabel*> labels = box.findChildren<QLabel*>();
    for (QLabel* label : labels) {
        if (label->objectName() == QLatin1StringView("qt_msgbox_informativelabel") || label->text() == text) {
            label->setTextFormat(Qt::PlainText);
            label->setOpenExternalLinks(false);
            label->setText(text);
        }
    }
}

QString toolTip(const QString& text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap) : text;
}

} // namespace PlainText
