#include "Motion.h"

#include <QSettings>
#include <QStandardPaths>

namespace Motion {

namespace {

std::optional<bool>& override()
{
    static std::optional<bool> value;
    return value;
}

// The setting GNOME and GTK share with other desktops through GTK's own file.
bool desktopReduced()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QSettings gtk(folder + QStringLiteral("/gtk-3.0/settings.ini"), QSettings::IniFormat);
    const QString value = gtk.value(QStringLiteral("Settings/gtk-enable-animations")).toString().trimmed().toLower();
    return value == QStringLiteral("false") || value == QStringLiteral("0");
}

} // namespace

bool reduced()
{
    if (override())
        return *override();
    static const bool fromDesktop = desktopReduced();
    return fromDesktop;
}

void setReducedOverride(std::optional<bool> reduced)
{
    override() = reduced;
}

} // namespace Motion
