#include "MTPPaths.h"

#include "MTPError.h"
#include "Paths.h"

#include <QFile>

namespace mtppaths {

namespace {

// Bytes in a file name on the usual Linux file systems.
constexpr qsizetype nameLimit = 255;

// Stands for "/" inside a listed name: a lone surrogate, as adb's listings
// mark bytes that aren't text; no name read over MTP holds one.
constexpr QChar slashMark(0xDC2F);

QStringView withoutTrailingSlashes(const QString& path)
{
    QStringView view(path);
    while (view.size() > 1 && view.endsWith(QLatin1Char('/')))
        view.chop(1);
    return view;
}

} // namespace

QString parentPath(const QString& path)
{
    const QStringView view = withoutTrailingSlashes(path);
    const qsizetype slash = view.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    if (slash == 0)
        return QStringLiteral("/");
    return view.first(slash).toString();
}

QString lastComponent(const QString& path)
{
    const QStringView view = withoutTrailingSlashes(path);
    if (view == QLatin1StringView("/"))
        return QStringLiteral("/");
    return view.sliced(view.lastIndexOf(QLatin1Char('/')) + 1).toString();
}

bool sameName(const QString& a, const QString& b)
{
    return a == b || a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

bool sameNameIgnoringCase(const QString& a, const QString& b)
{
    return a.normalized(QString::NormalizationForm_C)
               .compare(b.normalized(QString::NormalizationForm_C), Qt::CaseInsensitive)
           == 0;
}

QString listedName(const QString& name)
{
    QString listed = name;
    return listed.replace(QLatin1Char('/'), slashMark);
}

void checkUsable(const QString& path)
{
    if (!path.contains(slashMark))
        return;
    for (QString name : path.split(QLatin1Char('/'))) {
        if (!name.contains(slashMark))
            continue;
        name.replace(slashMark, QLatin1Char('/'));
        throw MTPError::failed(QStringLiteral("“") + name
                               + QStringLiteral("” has a “/” in its name, so it can't be used from here. Rename it "
                                                "on the phone first."));
    }
}

void checkStorable(const QString& name)
{
    if (name.size() <= nameUnits)
        return;
    throw MTPError::failed(QStringLiteral("“") + name
                           + QStringLiteral("” has a name too long for the phone, which would store it cut short. "
                                            "Give it a shorter name first."));
}

QString localName(const QString& name)
{
    if (name.isEmpty())
        throw MTPError::failed(
            QStringLiteral("The phone listed an item without a name, which can't be copied to this computer."));
    if (name == QLatin1StringView(".") || name == QLatin1StringView("..") || name.contains(QLatin1Char('/'))
        || name.contains(QChar(0))) {
        QString shown = name;
        shown.replace(QChar(0), QChar(QChar::ReplacementCharacter));
        throw MTPError::failed(QStringLiteral("The phone listed an item named “") + shown
                               + QStringLiteral("”, which can't be used as a file name on this computer."));
    }
    return name;
}

QString temporaryPath(const QString& target)
{
    const QString folder = parentPath(target);
    QString name = lastComponent(target);
    const QString prefix = QStringLiteral(".");
    const QString suffix = QStringLiteral(".vantelorquist");
    const qsizetype room = nameLimit - QFile::encodeName(prefix + suffix).size();
    // Cut whole characters off the end until the name fits.
    while (!name.isEmpty() && QFile::encodeName(name).size() > room)
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() && name.at(name.size() - 2).isHighSurrogate() ? 2 : 1);
    QString hidden = prefix + name + suffix;
    if (hidden == lastComponent(target)) // only a cut name made of dots can meet its target
        hidden = prefix + name.chopped(1) + suffix;
    if (folder.isEmpty())
        return hidden;
    return paths::joined(folder, hidden);
}

} // namespace mtppaths
