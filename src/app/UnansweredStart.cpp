#include "UnansweredStart.h"

#include <QMessageBox>

namespace UnansweredStart {

QString sentence()
{
    return QStringLiteral("Vantelorquist is already running but doesn't answer.");
}

bool shownOn(const QString& platformName)
{
    return platformName != QLatin1String("offscreen") && platformName != QLatin1String("minimal")
           && platformName != QLatin1String("minimalegl");
}

void tell(std::FILE* terminal, bool withBox)
{
    // The terminal first: it is read even while the box waits.
    std::fputs(qPrintable(sentence() + QLatin1Char('\n')), terminal);
    std::fflush(terminal);
    if (!withBox)
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vantelorquist"), sentence(), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace UnansweredStart
