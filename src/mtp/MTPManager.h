#pragma once

#include "Cancel.h"
#include "MTPConnection.h"
#include "Models.h"
#include "UsbHost.h"

#include <QSet>
#include <QString>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The one owner of the MTP connections, one per USB interface that announces
// MTP, keyed by the interface's registry ID.
class MTPManager {
public:
    explicit MTPManager(std::shared_ptr<UsbHost> host);
    // Closes every connection (the shared manager lives until the process ends).
    ~MTPManager();

    MTPManager(const MTPManager&) = delete;
    MTPManager& operator=(const MTPManager&) = delete;

    // The process-wide manager over the machine's USB stack.
    static MTPManager& shared();

    // The MTP phones now on USB, one per interface, in scan order. Phones
    // whose serial is in `skipping` are handled elsewhere: their connections
    // are closed. Blocks while a newly seen phone is being connected. Never
    // fails; a cancelled call returns nothing.
    std::vector<Device> devices(const QSet<QString>& skipping, const Cancel& cancel);

    // The ready connection of the phone with this serial, or none.
    std::shared_ptr<MTPConnection> connection(const QString& serial);

    // The USB device node of the MTP phone with this serial, such as
    // "/dev/bus/usb/001/007", or an empty text. Reads no device.
    QString deviceNode(const QString& serial);

    // Closes every connection and forgets them; returns when each close has
    // run or `limit` has passed (a connection stuck in a transfer is abandoned:
    // this is for quitting).
    void closeAll(std::chrono::milliseconds limit = std::chrono::seconds(3));

private:
    struct Found {
        uint64_t registryID;
        QString serial;
        QString name;
        std::optional<int> bus;
        std::optional<int> address;
    };
    std::vector<Found> scan();
    std::vector<std::shared_ptr<MTPConnection>> update(const std::vector<Found>& found, const QSet<QString>& skipping);

    const std::shared_ptr<UsbHost> m_host;
    std::mutex m_lock; // guards m_connections; taken before any connection's lock
    std::map<uint64_t, std::shared_ptr<MTPConnection>> m_connections;
};
