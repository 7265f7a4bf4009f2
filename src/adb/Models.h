#pragma once

#include <QDateTime>
#include <QHashFunctions>
#include <QString>

#include <cstdint>
#include <optional>

// One phone in the device list. Its identity is the serial; a phone whose
// state or name changed is a different value with the same id.
struct Device {
    enum class Transport { adb, mtp };

    QString serial;
    QString state; // "device" means ready (isReady)
    QString model; // the name shown for the phone
    Transport transport = Transport::adb;

    const QString& id() const { return serial; }

    bool isReady() const { return state == QLatin1StringView("device"); }
    // Reached over Wi-Fi: listed by address ("host:port") or by service name.
    bool isWireless() const;
    // The state as the user reads it.
    QString stateDescription() const;

    friend bool operator==(const Device&, const Device&) = default;
};

size_t qHash(const Device& device, size_t seed = 0);

// Each word (a run between spaces, tabs and line breaks) with its first
// character in upper case and the others in lower case: how the phone's
// manufacturer and state words are shown, whatever the transport.
QString capitalizedWords(const QString& text);

// Facts about the chosen phone; an absent field is a fact we didn't get.
struct DeviceInfo {
    std::optional<QString> androidVersion;
    std::optional<QString> manufacturer;
    std::optional<int> battery; // percent
    bool charging = false;
    std::optional<int64_t> storageTotal;
    std::optional<int64_t> storageFree;

    // The same facts without those no phone can have (a battery outside 0 to
    // 100 percent, storage below zero or more free than there is): they are
    // as unknown as an unreadable line.
    DeviceInfo possible() const;

    friend bool operator==(const DeviceInfo&, const DeviceInfo&) = default;
};

// One item of a phone folder; names are unique within one listing.
struct RemoteEntry {
    QString name;
    bool isDirectory = false;
    int64_t size = 0;
    QDateTime modified;
    // The transport's own mark of this very object, where it has one (an MTP
    // object handle): an item made anew at the name has another. 0: none.
    uint64_t identity = 0;

    const QString& id() const { return name; }

    // The list's "Kind" column: "Folder", "<EXT> file" or "Document".
    QString kind() const;
    // -1 for folders, so that an ascending sort puts every folder first.
    int64_t sizeForSorting() const { return isDirectory ? -1 : size; }

    friend bool operator==(const RemoteEntry&, const RemoteEntry&) = default;
};

size_t qHash(const RemoteEntry& entry, size_t seed = 0);
