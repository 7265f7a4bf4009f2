#include "BrowserModel.h"

#include "Error.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>

namespace {

// One display frame: progress is shown at most this often.
constexpr std::chrono::milliseconds frame(16);

} // namespace

// ---- the link to the worker --------------------------------------------------------

namespace jobdetail {

void Channel::cut()
{
    std::lock_guard lock(mutex);
    model = nullptr;
}

void Channel::post(const std::shared_ptr<Channel>& channel, std::function<void(BrowserModel&)> action)
{
    std::lock_guard lock(channel->mutex);
    if (!channel->model)
        return;
    // Posted under the lock: the model cuts the link before it goes.
    QMetaObject::invokeMethod(
        channel->model,
        [channel, action = std::move(action)] {
            BrowserModel* receiver = nullptr;
            {
                std::lock_guard held(channel->mutex);
                receiver = channel->model;
            }
            if (receiver)
                action(*receiver);
        },
        Qt::QueuedConnection);
}

} // namespace jobdetail

JobContext::JobContext(std::shared_ptr<jobdetail::Channel> channel, Cancel cancel)
    : m_channel(std::move(channel)), m_cancel(std::move(cancel))
{
}

void JobContext::setItem(const QString& message)
{
    {
        // A report of the item before must not land on this one.
        std::lock_guard lock(m_channel->mutex);
        m_channel->hasProgress = false;
    }
    post([channel = m_channel, message](BrowserModel& model) { model.setJobLine(channel, message); });
}

Progress JobContext::progressHandler()
{
    // Each report only keeps its value; the model takes the latest once a frame.
    return [channel = m_channel](double fraction) {
        std::lock_guard lock(channel->mutex);
        channel->progress = fraction;
        channel->hasProgress = true;
        if (channel->pending || !channel->model)
            return;
        channel->pending = true;
        QMetaObject::invokeMethod(
            channel->model, [model = channel->model, channel] { model->scheduleProgress(channel); },
            Qt::QueuedConnection);
    };
}

void JobContext::post(std::function<void(BrowserModel&)> action)
{
    jobdetail::Channel::post(m_channel, std::move(action));
}

void JobContext::note(const QString& sentence)
{
    std::lock_guard lock(m_channel->mutex);
    m_channel->notes.append(sentence);
}

void JobContext::putQuestion(const std::shared_ptr<jobdetail::Asking>& asking,
                             std::function<void(BrowserModel&)> run)
{
    // A stopped job asks nothing more.
    m_cancel.check();
    post([asking, channel = m_channel, cancel = m_cancel, run = std::move(run)](BrowserModel& model) {
        {
            // Stopped while the question waited for its turn.
            std::lock_guard lock(asking->mutex);
            if (asking->closed || cancel.isCancelled())
                return;
        }
        // The job's end closes it (endJob).
        struct Open {
            jobdetail::Channel& channel;
            explicit Open(jobdetail::Channel& c) : channel(c) { channel.asking = true; }
            ~Open() { channel.asking = false; }
        } open(*channel);
        run(model);
    });
    // The model stops the job before it goes, so a question it drops ends the wait too.
    std::stop_callback wake(m_cancel.token(), [asking] {
        std::lock_guard lock(asking->mutex);
        asking->given.notify_all();
    });
    std::unique_lock lock(asking->mutex);
    asking->given.wait(lock, [&] { return asking->answered || m_cancel.isCancelled(); });
    if (!asking->answered) {
        asking->closed = true;
        throw Cancelled();
    }
}

// ---- the runner ----------------------------------------------------------------------

bool BrowserModel::refuseWhileJobRuns(bool beep)
{
    if (!m_job)
        return false;
    if (beep)
        m_desktop->beep();
    say({QStringLiteral("Wait for “"), m_job->message,
         m_job->cancellable ? QStringLiteral("” to finish, or stop it.") : QStringLiteral("” to finish.")},
        true);
    return true;
}

std::optional<QString> BrowserModel::notice() const
{
    if (!m_notice)
        return std::nullopt;
    return m_notice->text();
}

void BrowserModel::say(const Notice& notice, bool untilJobEnds)
{
    const uint64_t count = ++m_noticeCount;
    m_noticeEndsWithJob = untilJobEnds;
    setNotice(notice);
    m_clock->after(noticeTime, this, [this, count] {
        if (count == m_noticeCount)
            setNotice(std::nullopt);
    });
}

void BrowserModel::setNotice(const std::optional<Notice>& notice)
{
    if (notice == m_notice)
        return;
    m_notice = notice;
    Q_EMIT noticeChanged();
}

void BrowserModel::startJob(const QString& message, bool cancellable, bool reloadAfter,
                            std::function<void(JobContext&)> work)
{
    if (refuseWhileJobRuns())
        return;
    setJob(Job{message, std::nullopt, cancellable});
    auto channel = std::make_shared<jobdetail::Channel>(this);
    m_jobChannel = channel;
    try {
        m_jobTask = Task::run(
            this,
            [channel, work = std::move(work)](const Cancel& cancel) {
                JobContext context(channel, cancel);
                work(context);
            },
            [this, reloadAfter] { endJob(std::nullopt, reloadAfter); },
            [this, reloadAfter](const std::exception_ptr& error) {
                // Whatever the work ends with after Stop is the Stop.
                endJob(m_jobTask.isCancelled() ? std::nullopt : failureText(error), reloadAfter);
            });
    } catch (...) {
        // No worker to run it (the system is out of threads): nothing ran,
        // so nothing needs reading again; the job must not stay behind.
        endJob(failureText(std::current_exception()), false);
    }
}

void BrowserModel::endJob(const std::optional<QString>& failure, bool reloadAfter)
{
    const bool stopped = m_jobTask.isCancelled();
    QStringList sentences;
    QStringList details;
    bool leftOut = false;
    if (m_jobChannel) {
        std::lock_guard lock(m_jobChannel->mutex);
        // A copy tells every item it didn't copy, the failure that ended it first.
        if (const std::optional<CopyAccount::Told> told = m_jobChannel->account.tell(failure)) {
            sentences.append(told->text);
            details = told->details;
            leftOut = true;
        } else if (failure) {
            sentences.append(*failure);
        }
        sentences.append(m_jobChannel->notes);
    } else if (failure) {
        sentences.append(*failure);
    }
    // What the person's own Stop left is a note, not a fault.
    if (!sentences.isEmpty())
        setErrorMessage(sentences.join(QLatin1Char(' ')), details, !failure && (stopped || !leftOut));
    // A question of the job left open (the job was stopped while it was
    // asked) has nobody to answer to.
    if (m_jobChannel && m_jobChannel->asking)
        m_desktop->closeQuestions();
    if (m_jobChannel)
        m_jobChannel->cut();
    m_jobChannel.reset();
    m_progressTimer.stop();
    m_jobTask = Task();
    // What the job kept or left on the phone outlives a quit or a crash.
    storeWorkingItems();
    if (reloadAfter)
        reload([this] { refreshInfo(); });
    // Last: what waited for the job may start the next one.
    setJob(std::nullopt);
}

void BrowserModel::cancelJob()
{
    m_jobTask.cancel();
}

void BrowserModel::setJobLine(const std::shared_ptr<jobdetail::Channel>& channel, const QString& message)
{
    if (channel != m_jobChannel || !m_job)
        return;
    Job job = *m_job;
    job.message = message;
    job.progress = std::nullopt;
    setJob(job);
}

void BrowserModel::scheduleProgress(const std::shared_ptr<jobdetail::Channel>& channel)
{
    if (channel != m_jobChannel || m_progressTimer.isActive())
        return;
    const auto since = std::chrono::milliseconds(m_progressApplied.isValid() ? m_progressApplied.elapsed() : frame.count());
    m_progressTimer.start(std::max(std::chrono::milliseconds(0), frame - since));
}

void BrowserModel::applyProgress()
{
    if (!m_jobChannel || !m_job)
        return;
    double fraction = 0;
    {
        std::lock_guard lock(m_jobChannel->mutex);
        m_jobChannel->pending = false;
        if (!m_jobChannel->hasProgress)
            return;
        fraction = m_jobChannel->progress;
    }
    m_progressApplied.start();
    Job job = *m_job;
    job.progress = fraction;
    setJob(job);
}
