#pragma once

#include <QString>

class QMessageBox;

// Texts from the phone, adb or a file name shown as they are, never as
// markup: a name starting with a tag must not turn bold or into a live link.
namespace PlainText {

// Qt 6.4 shows a message box's informative text as "auto" text whatever
// setTextFormat says; this sets the text and makes its label plain.
void setInformativeText(QMessageBox& box, const QString& text);

// A tooltip guesses rich text from the text itself; one that would be
// taken for markup is handed over escaped.
QString toolTip(const QString& text);

} // namespace PlainText
