#pragma once

#include <QHashFunctions>
#include <QList>
#include <QMap>
#include <QString>
#include <Qt>

#include <optional>

// A location shortcut on the phone, shown in the sidebar and the Go menu.
struct Place {
    QString name;
    QString symbol; // icon name
    QString path;

    const QString& id() const { return path; }

    // The fixed shortcuts, in the order they are shown.
    static const QList<Place>& all();

    friend bool operator==(const Place&, const Place&) = default;
};

size_t qHash(const Place& place, size_t seed = 0);

// How the main window shows a folder.
enum class ViewMode { list, grid };

// "list" or "grid", as stored in the settings.
QString viewModeText(ViewMode mode);
// Only the two exact texts name a mode.
std::optional<ViewMode> viewModeFromText(const QString& text);

// The one long operation that is running: what it says, how far the current
// item is (none while that is unknown) and whether Stop is offered.
struct Job {
    QString message;
    std::optional<double> progress;
    bool cancellable = false;

    friend bool operator==(const Job&, const Job&) = default;
};

// A passing word for the status line, in three parts: only `name` (a job's
// message, a folder's name) may be shortened where the line is too narrow,
// so that the words around it always show.
struct Notice {
    QString before;
    QString name;
    QString after;

    QString text() const { return before + name + after; }
    friend bool operator==(const Notice&, const Notice&) = default;
};

// One column of the listing's sort; a sort order is a list of them, the first
// deciding and each later one breaking the ties of those before it.
struct SortKey {
    enum class Column {
        name,     // natural, case-insensitive text order
        modified, // date order
        size,     // folders below every file
        kind,     // the kind text in plain text order
    };

    Column column = Column::name;
    Qt::SortOrder order = Qt::AscendingOrder;

    friend bool operator==(const SortKey&, const SortKey&) = default;
};

using SortOrder = QList<SortKey>;

// A crumb of the path bar: the folder's title and where it leads.
struct PathComponent {
    QString name;
    QString path;

    friend bool operator==(const PathComponent&, const PathComponent&) = default;
};

// Paired Wi-Fi phones: hardware serial to display name ("" when unknown).
using PhoneNames = QMap<QString, QString>;
