#pragma once

#include "ADB.h"
#include "Cancel.h"
#include "CopyAccount.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>

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
    // Sentences shown when the job ends, however it ends, Stop included.
    QStringList notes;
    // A copy's items, told when it ends.
    CopyAccount account;
    // A question of the job is open (on the model's thread only).
    bool asking = false;

    explicit Channel(BrowserModel* owner) : model(owner) {}
    void cut();
    // Runs `action` on the model's thread unless the link is cut by then.
    static void post(const std::shared_ptr<Channel>& channel, std::function<void(BrowserModel&)> action);
};

// One question of a job. The worker stops waiting when the job is stopped;
// from then on the question is closed and an answer given to it is dropped.
struct Asking {
    std::mutex mutex;
    std::condition_variable given;
    bool answered = false;
    bool closed = false;
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
    // A sentence for the person when the job ends, even after Stop (what a
    // stopped copy left behind); after the failure, when the job fails.
    void note(const QString& sentence);
    // The account of a copy's items, told when the job ends, however it ends.
    CopyAccount& account() { return m_channel->account; }
    // Runs `question` with the model on its thread and returns what it
    // returns. Throws Cancelled when the job is stopped before the question is
    // put or answered (or the model goes first). The question may still be
    // open after the job has ended, so it must capture by value and hand back
    // everything it found out as its result, which reaches the worker only
    // while the worker waits for it.
    template <class Question>
    auto ask(Question question) -> std::invoke_result_t<Question&, BrowserModel&>;

private:
    // Puts `run` to the model and waits until `asking` is answered; throws
    // Cancelled, leaving it closed, when the job is stopped first.
    void putQuestion(const std::shared_ptr<jobdetail::Asking>& asking, std::function<void(BrowserModel&)> run);

    std::shared_ptr<jobdetail::Channel> m_channel;
    Cancel m_cancel;
};

template <class Question>
auto JobContext::ask(Question question) -> std::invoke_result_t<Question&, BrowserModel&>
{
    using Answer = std::invoke_result_t<Question&, BrowserModel&>;
    static_assert(!std::is_void_v<Answer> && !std::is_reference_v<Answer>, "a question answers with a value");
    auto asking = std::make_shared<jobdetail::Asking>();
    // Lives with the question, not on the worker's stack.
    auto answer = std::make_shared<std::optional<Answer>>();
    putQuestion(asking, [asking, answer, question = std::move(question)](BrowserModel& model) mutable {
        Answer given = question(model);
        std::lock_guard lock(asking->mutex);
        if (asking->closed)
            return;
        answer->emplace(std::move(given));
        asking->answered = true;
        asking->given.notify_all();
    });
    return std::move(**answer);
}
