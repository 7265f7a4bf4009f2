#pragma once

#include "Error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The part of the machine's USB stack that the MTP client needs, behind one
// interface: libusb in the application, a simulated phone in the tests.

// How a USB request ended.
enum class UsbStatus {
    ok,
    timeout,
    stall,         // the endpoint halted
    noDevice,      // unplugged
    notResponding, // the transfer failed on the bus
    aborted,       // cancelled on our side, or the interface was released
    busy,          // another program holds the interface
    access,        // no permission to open the device
    other,
};

// A failed USB request. The description is the USB stack's own text.
class UsbError : public Error {
public:
    UsbError(UsbStatus status, QString description) : Error(std::move(description)), m_status(status) {}
    UsbStatus status() const noexcept { return m_status; }

private:
    UsbStatus m_status;
};

// One endpoint of an interface, as its descriptor states it.
struct UsbEndpoint {
    uint8_t address = 0;       // bit 7 set: IN
    uint8_t attributes = 0;    // bmAttributes; the low two bits are the transfer type
    uint16_t maxPacketSize = 0; // wMaxPacketSize

    static constexpr uint8_t control = 0, isochronous = 1, bulk = 2, interrupt = 3;
    uint8_t transferType() const { return attributes & 3; }
    bool isIn() const { return (address & 0x80) != 0; }
};

// One interface of an attached device, read without talking to the device.
struct UsbInterfaceRecord {
    // Stable while the device stays plugged in; a new one after replugging.
    uint64_t registryID = 0;
    std::optional<QString> name;    // the interface's own name string (iInterface)
    std::optional<QString> serial;  // the device's serial number string
    std::optional<QString> product; // the device's product name string
    // Where the device sits on USB: its node is /dev/bus/usb/BBB/DDD.
    std::optional<int> busNumber;
    std::optional<int> deviceAddress;
};

// A claimed interface. Destroying it ends the claim; pending asynchronous
// reads complete with `aborted` before the destructor returns.
class UsbInterface {
public:
    virtual ~UsbInterface() = default;

    virtual uint8_t number() const = 0; // bInterfaceNumber
    virtual std::vector<UsbEndpoint> endpoints() const = 0;

    // Synchronous bulk transfers. Each returns the bytes moved or throws UsbError.
    // An empty bulkOut sends a zero-length packet.
    virtual size_t bulkOut(uint8_t endpoint, QByteArrayView data, std::chrono::milliseconds timeout) = 0;
    virtual size_t bulkIn(uint8_t endpoint, char* buffer, size_t capacity, std::chrono::milliseconds timeout) = 0;

    // A host-to-device request on the control pipe; throws UsbError.
    virtual void controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                            QByteArrayView data, std::chrono::milliseconds timeout) = 0;
    // A device-to-host request on the control pipe: up to `capacity` bytes
    // into `buffer`; returns the bytes the device sent, or throws UsbError.
    virtual size_t controlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, char* buffer,
                             size_t capacity, std::chrono::milliseconds timeout) = 0;

    using ReadDone = std::function<void(UsbStatus, QByteArray)>;
    // Queues one read of up to `capacity` bytes on an interrupt-in endpoint,
    // without a time-out. `done` runs once, on a thread of the USB stack.
    // Throws UsbError when the read cannot be queued.
    virtual void readInterrupt(uint8_t endpoint, size_t capacity, ReadDone done) = 0;

    // Ends the pending asynchronous reads of an endpoint (they complete with `aborted`).
    virtual void abortPipe(uint8_t endpoint) = 0;
    // Clears a halted endpoint; throws UsbError.
    virtual void clearStall(uint8_t endpoint) = 0;

    // Gives up on the transfers in progress: they end with `aborted` at once,
    // whatever the device does (it may be left in the middle of a transfer),
    // and so does every transfer asked for later, until resume() or until the
    // interface is destroyed. Safe from any thread.
    virtual void abandon() = 0;
    // Lets transfers through again after abandon(), once the device has been
    // brought back in step.
    virtual void resume() = 0;
};

class UsbHost {
public:
    virtual ~UsbHost() = default;

    // Every interface of every attached device. Never fails: a stack that
    // cannot be read yields nothing.
    virtual std::vector<UsbInterfaceRecord> interfaces() = 0;

    // Opens the device and claims the interface; throws UsbError (`busy` when
    // another program holds it, `access` when we may not open the device).
    virtual std::unique_ptr<UsbInterface> open(uint64_t registryID) = 0;
};
