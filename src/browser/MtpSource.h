#pragma once

#include "Cancel.h"
#include "Models.h"
#include "PhoneFiles.h"

#include <QSet>
#include <QString>

#include <exception>
#include <memory>
#include <vector>

// What the browser asks of the MTP layer: the phones on USB and the ready
// connection of one of them.
class MtpSource {
public:
    virtual ~MtpSource() = default;

    // The MTP phones now on USB, leaving out (and letting go of) those whose
    // serial is in `skipping`. Blocks; runs on a worker thread. Fails only
    // with NoThreadError, when a new phone's connection gets no thread.
    virtual std::vector<Device> devices(const QSet<QString>& skipping, const Cancel& cancel) = 0;
    // The files of the phone's ready connection, or none. Quick; called on
    // the GUI thread.
    virtual std::shared_ptr<PhoneFiles> connection(const QString& serial) = 0;
    // Whether the failure is the MTP layer's "that item isn't on the phone".
    virtual bool isMissingItem(const std::exception_ptr& error) const;
    // The USB device node of the phone, for finding the programs that hold
    // it; empty when unknown. Runs on a worker thread.
    virtual QString deviceNode(const QString& serial) { Q_UNUSED(serial); return {}; }
};

// The machine's USB phones through the shared MTP manager; a source that
// finds nothing when the application is built without MTP.
std::shared_ptr<MtpSource> makeSystemMtpSource();
