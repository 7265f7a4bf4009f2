#include "Motion.h"

#include <QPointF>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>
#include <numbers>

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

QEasingCurve easeOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

double spring(double seconds, double response, double damping)
{
    if (seconds <= 0)
        return 0;
    const double natural = 2 * std::numbers::pi / response;
    const double decay = damping * natural;
    const double ringing = natural * std::sqrt(1 - damping * damping);
    return 1 - std::exp(-decay * seconds) * (std::cos(ringing * seconds) + decay / ringing * std::sin(ringing * seconds));
}

int springMilliseconds(double response, double damping)
{
    const double natural = 2 * std::numbers::pi / response;
    return int(std::ceil(1000 * std::log(1000.0) / (damping * natural)));
}

} // namespace Motion
