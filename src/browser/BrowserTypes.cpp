#include "BrowserTypes.h"

const QList<Place>& Place::all()
{
    static const QList<Place> places = {
        {QStringLiteral("Internal Storage"), QStringLiteral("internaldrive"), QStringLiteral("/sdcard")},
        {QStringLiteral("Camera"), QStringLiteral("camera"), QStringLiteral("/sdcard/DCIM/Camera")},
        {QStringLiteral("Screenshots"), QStringLiteral("camera.viewfinder"),
         QStringLiteral("/sdcard/Pictures/Screenshots")},
        {QStringLiteral("Pictures"), QStringLiteral("photo.on.rectangle"), QStringLiteral("/sdcard/Pictures")},
        {QStringLiteral("Downloads"), QStringLiteral("arrow.down.circle"), QStringLiteral("/sdcard/Download")},
        {QStringLiteral("Documents"), QStringLiteral("doc"), QStringLiteral("/sdcard/Documents")},
        {QStringLiteral("Music"), QStringLiteral("music.note"), QStringLiteral("/sdcard/Music")},
        {QStringLiteral("Movies"), QStringLiteral("film"), QStringLiteral("/sdcard/Movies")},
    };
    return places;
}

size_t qHash(const Place& place, size_t seed)
{
    return qHashMulti(seed, place.name, place.symbol, place.path);
}

QString viewModeText(ViewMode mode)
{
    return mode == ViewMode::grid ? QStringLiteral("grid") : QStringLiteral("list");
}

std::optional<ViewMode> viewModeFromText(const QString& text)
{
    if (text == QStringLiteral("list"))
        return ViewMode::list;
    if (text == QStringLiteral("grid"))
        return ViewMode::grid;
    return std::nullopt;
}
