#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "Paths.h"
#include "WorkerPool.h"

#include <QDir>
#include <QPointer>

#include <condition_variable>
#include <mutex>

using paths::joined;

namespace {

const QString uriList = QStringLiteral("text/uri-list");

// One copy of a dragged entry from the phone into a new folder of its own,
// shared by the drag data and the worker that makes it. Whichever of the
// two is last to let go of a copy nobody took removes it.
struct Pull {
    std::mutex mutex;
    std::condition_variable changed;
    std::stop_source stop;
    bool finished = false;
    std::optional<QString> folder; // made, so it is ours to remove
    std::optional<QString> file;   // the copy, once it has arrived
    std::optional<QString> failure; // why there is none, for the user
    bool abandoned = false;        // the drag ended without handing it over
};

void removeLater(const QString& folder)
{
    try {
        WorkerPool::shared().start([folder](std::stop_token) { QDir(folder).removeRecursively(); });
    } catch (...) {
        // No thread to remove it now; the staging folder goes at quit.
    }
}

// Starts copying the entry; the worker uses only the values given here,
// never the model or the drag data.
std::shared_ptr<Pull> startPull(const std::shared_ptr<PhoneFiles>& phone, const QString& phonePath,
                                const QString& name)
{
    auto pull = std::make_shared<Pull>();
    const auto work = [pull, phone, phonePath, name](std::stop_token token) {
        std::optional<QString> file;
        std::optional<QString> failure;
        try {
            const QString folder = browserpaths::newPrivateFolder();
            {
                std::lock_guard lock(pull->mutex);
                pull->folder = folder;
            }
            phone->pull(phonePath, folder, Cancel(std::move(token)));
            file = joined(folder, name);
        } catch (const Cancelled&) {
            // The drag ended: nobody to tell.
        } catch (const Error& error) {
            failure = error.description();
        } catch (...) {
            failure = QStringLiteral("“") + name + QStringLiteral("” couldn't be copied from the phone.");
        }
        std::unique_lock lock(pull->mutex);
        pull->finished = true;
        pull->file = file;
        pull->failure = failure;
        // Nothing to hand over, or nobody left to take it.
        if ((!file || pull->abandoned) && pull->folder) {
            const QString folder = *pull->folder;
            pull->folder.reset();
            lock.unlock();
            QDir(folder).removeRecursively();
        } else {
            lock.unlock();
        }
        pull->changed.notify_all();
    };
    try {
        WorkerPool::shared().start(work, pull->stop);
    } catch (...) {
        pull->finished = true; // no thread for it: nothing to hand over
    }
    return pull;
}

// A phone entry dragged out. Nothing is copied before a receiver asks for
// the URL list. The platform asks on the GUI thread and wants the answer
// before it returns, while the receiver waits only a few seconds; so a
// request waits for the copy at most `wait`, without running the window's
// events (which could end the drag and delete this object under the wait).
// A copy that is not ready by then goes on, and the next request takes it;
// otherwise each request gets a copy of its own. When the drag ends with a
// request left unanswered, the model says so.
class EntryDragData : public QMimeData {
public:
    EntryDragData(std::shared_ptr<PhoneFiles> phone, QString phonePath, QString name, QPointer<BrowserModel> model,
                  std::chrono::milliseconds wait)
        : m_phone(std::move(phone)), m_phonePath(std::move(phonePath)), m_name(std::move(name)),
          m_model(std::move(model)), m_wait(wait)
    {
    }

    ~EntryDragData() override
    {
        if (m_pending) {
            std::unique_lock lock(m_pending->mutex);
            m_pending->abandoned = true;
            m_pending->stop.request_stop();
            // A finished copy nobody took is removed here; a running one by
            // its worker.
            if (m_pending->finished && m_pending->folder)
                removeLater(*m_pending->folder);
        }
        if (m_unanswered)
            tell(QStringLiteral("“") + m_name
                 + QStringLiteral("” couldn't be dropped: the app it was dropped on stopped waiting before it "
                                  "was copied from the phone. Use “Copy to Mac…” for large items."));
    }

    QStringList formats() const override { return m_phone ? QStringList{uriList} : QStringList(); }
    bool hasFormat(const QString& mimeType) const override { return m_phone && mimeType == uriList; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType) const override
    {
        if (!m_phone || mimeType != uriList)
            return {};
        if (!m_pending)
            m_pending = startPull(m_phone, m_phonePath, m_name);
        const std::shared_ptr<Pull> pull = m_pending;
        std::unique_lock lock(pull->mutex);
        if (!pull->changed.wait_for(lock, m_wait, [&] { return pull->finished; })) {
            m_unanswered = true;
            return {};
        }
        // Handed over (or failed): the next request copies afresh.
        m_pending.reset();
        if (!pull->file) {
            // The receiver shows nothing on this desktop: the user hears it from us.
            if (pull->failure)
                tell(*pull->failure);
            return {};
        }
        m_unanswered = false;
        return QVariantList{QUrl::fromLocalFile(*pull->file)};
    }

private:
    // Later, so that no alert opens inside the platform's drag handling.
    void tell(const QString& sentence) const
    {
        if (!m_model)
            return;
        QMetaObject::invokeMethod(
            m_model.data(), [model = m_model, sentence] {
                if (model)
                    model->setErrorMessage(sentence);
            },
            Qt::QueuedConnection);
    }

    std::shared_ptr<PhoneFiles> m_phone;
    QString m_phonePath;
    QString m_name;
    QPointer<BrowserModel> m_model;
    std::chrono::milliseconds m_wait;
    // The copy under way or made and not yet handed over.
    mutable std::shared_ptr<Pull> m_pending;
    mutable bool m_unanswered = false;
};

} // namespace

void BrowserModel::copyPaths(const QList<RemoteEntry>& entries)
{
    QStringList lines;
    for (const RemoteEntry& entry : entries)
        lines.append(joined(m_path, entry.name));
    m_desktop->copyText(lines.join(QLatin1Char('\n')));
}

QMimeData* BrowserModel::itemProvider(const RemoteEntry& entry)
{
    if (const std::optional<QString> text = refusal({entry}, QStringLiteral("dragged out"))) {
        setErrorMessage(*text);
        return new EntryDragData(nullptr, {}, entry.name, this, m_dragOutWait);
    }
    return new EntryDragData(files(), joined(m_path, entry.name), entry.name, this, m_dragOutWait);
}

void BrowserModel::setDragOutWait(std::chrono::milliseconds wait)
{
    m_dragOutWait = wait;
}
