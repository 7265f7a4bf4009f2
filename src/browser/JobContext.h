#pragma once

#include "ADB.h"
#include "Cancel.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>

class BrowserModel;

namespace jobdetail {

// The link between one job's worker and the model. The model cuts it when
// the job ends or the model goes, so a late report never lands on another
// job or on a destroyed model.
struct Channel {
    std::mutex mutex;
    BrowserModel* model = nullptr; // none once cut
    // The latest progress not yet shown, and whether a showing is asked for.
    double progress = 0;
    bool hasProgress = false;
    bool pending = false;

    explicit Channel(BrowserModel* owner) : model(owner) {}
    void cut();
    // Runs `action` on the model's thread unless the link is cut by then.
    static void post(const std::shared_ptr<Channel>& channel, std::function<void(BrowserModel&)> action);
};

} // namespace jobdetail

// What a job's work, on its worker thread, has of the job: its cancellation
// token, its line and progress, and calls posted back to the model.
class JobContext {
public:
    JobContext(std::shared_ptr<jobdetail::Channel> channel, Cancel cancel);

    const Cancel& cancel() const { return m_cancel; }
    // The job's message for the next item; its progress becomes unknown.
    void setItem(const QString& message);
    // A new callback for one transfer; it may be called from any thread, as
    // often as the transport likes.
    Progress progressHandler();
    // Runs `action` with the model on its thread, unless the job has ended.
    void post(std::function<void(BrowserModel&)> action);
    // Runs `question` with the model on its thread and waits for its answer;
    // throws Cancelled when the job is stopped (or the model goes) first.
    int ask(std::function<int(BrowserModel&)> question);

private:
    std::shared_ptr<jobdetail::Channel> m_channel;
    Cancel m_cancel;
};
