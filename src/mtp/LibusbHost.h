#pragma once

#include "UsbHost.h"

#include <QString>

#include <memory>

// The production USB stack: the list of interfaces comes from sysfs (strings
// the kernel read when the device was plugged in, so a poll does no device
// I/O); opening, transfers and control requests go through libusb.
class LibusbHost : public UsbHost {
public:
    explicit LibusbHost(QString sysfsDevices = QStringLiteral("/sys/bus/usb/devices"));
    ~LibusbHost() override;

    std::vector<UsbInterfaceRecord> interfaces() override;
    std::unique_ptr<UsbInterface> open(uint64_t registryID) override;

    // The key of an interface: bus number, device address, configuration and
    // interface number. The address changes when a device is plugged in again.
    static uint64_t registryID(int bus, int address, int configuration, int interfaceNumber);

    struct Context;

private:
    QString m_sysfs;
    std::shared_ptr<Context> m_context;
};
