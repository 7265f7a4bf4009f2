#pragma once

#include "SimulatedPhone.h"
#include "UsbHost.h"

#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace mtpsim {

// A USB stack with simulated phones plugged in. Each plug gives the phone's
// interface a new registry ID, as a real replug does.
class SimulatedUsbHost : public UsbHost {
public:
    // Plugs the phone in; returns the registry ID of its interface.
    uint64_t plug(const std::shared_ptr<SimulatedPhone>& phone);
    // Unplugs the phone: it leaves the list, and its transfers fail.
    void unplug(const std::shared_ptr<SimulatedPhone>& phone);
    // The registry ID under which the phone is plugged in now (0 when it isn't).
    uint64_t registryID(const std::shared_ptr<SimulatedPhone>& phone) const;
    // Another interface that is no phone at all (a keyboard, a camera's PTP).
    void addInterface(const UsbInterfaceRecord& record);

    // Every open() throws this until it is cleared (null).
    void failOpensWith(std::exception_ptr error);

    std::vector<UsbInterfaceRecord> interfaces() override;
    std::unique_ptr<UsbInterface> open(uint64_t registryID) override;

private:
    struct Plugged {
        std::shared_ptr<SimulatedPhone> phone;
        uint64_t registryID;
    };
    mutable std::mutex m_mutex;
    std::vector<Plugged> m_phones;
    std::vector<UsbInterfaceRecord> m_others;
    uint64_t m_nextID = 0x100000001ull;
    std::exception_ptr m_openFailure;
};

} // namespace mtpsim
