#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "Paths.h"
#include "WorkerPool.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <condition_variable>
#include <mutex>

using paths::joined;

namespace {

const QString uriList = QStringLiteral("text/uri-list");

// A dragged entry: where it is on the phone and its name.
struct Dragged {
    QString phonePath;
    QString name;
};

// The copies of a drag's entries from the phone, each into a new folder of
// its own, shared by the drag data and the worker that makes them.
// Whichever of the two is last to let go of copies nobody took removes them.
struct Pull {
    std::mutex mutex;
    std::condition_variable changed;
    std::stop_source stop;
    bool finished = false;
    QStringList folders;            // made, so ours to remove
    std::optional<QStringList> files; // the copies, once every one has arrived
    std::optional<QString> failure; // why there are none, for the user
    bool abandoned = false;         // the drag ended without handing them over
    bool handedOver = false;        // a receiver has them: theirs to keep
};

void removeLater(const QStringList& folders)
{
    try {
        WorkerPool::shared().start([folders](std::stop_token) {
            for (const QString& folder : folders)
                QDir(folder).removeRecursively();
        });
    } catch (...) {
        // No thread to remove them now; the staging folder goes at quit.
    }
}

// Starts copying the entries one after another; the first failure ends it
// and nothing is handed over. The worker uses only the values given here,
// never the model or the drag data.
std::shared_ptr<Pull> startPull(const std::shared_ptr<PhoneFiles>& phone, const QList<Dragged>& items)
{
    auto pull = std::make_shared<Pull>();
    const auto work = [pull, phone, items](std::stop_token token) {
        QStringList files;
        std::optional<QString> failure;
        bool complete = false;
        QString name;
        try {
            const Cancel cancel(std::move(token));
            for (const Dragged& item : items) {
                name = item.name;
                const QString folder = browserpaths::newPrivateFolder();
                {
                    std::lock_guard lock(pull->mutex);
                    pull->folders.append(folder);
                }
                // Its folder is its own: the name as a person reads it is free there.
                const QString staged = joined(folder, paths::shown(item.name));
                phone->pull(item.phonePath, staged, cancel);
                files.append(staged);
            }
            complete = true;
        } catch (const Cancelled&) {
            // The drag ended: nobody to tell.
        } catch (const Error& error) {
            failure = error.description();
        } catch (...) {
            failure = QStringLiteral("“") + paths::shown(name) + QStringLiteral("” couldn't be copied from the phone.");
        }
        std::unique_lock lock(pull->mutex);
        pull->finished = true;
        if (complete)
            pull->files = files;
        pull->failure = failure;
        // Nothing to hand over, or nobody left to take it.
        if (!complete || pull->abandoned) {
            const QStringList folders = std::exchange(pull->folders, {});
            lock.unlock();
            for (const QString& folder : folders)
                QDir(folder).removeRecursively();
        } else {
            lock.unlock();
        }
        pull->changed.notify_all();
    };
    try {
        WorkerPool::shared().start(work, pull->stop);
    } catch (...) {
        // No thread for it: nothing to hand over, and the user hears why.
        pull->finished = true;
        pull->failure = failureText(std::current_exception());
    }
    return pull;
}

// Phone entries dragged out. Nothing is copied before a receiver asks for
// the URL list. The platform asks on the GUI thread and wants the answer
// before it returns, while the receiver waits only a few seconds; so a
// request waits for the copies at most `wait`, without running the
// window's events (which could end the drag and delete this object under
// the wait). Copies not ready by then go on, and the next request takes
// them. Some receivers ask again at every move: once made, the same copies
// are handed to every request of the drag, and a failure is told once.
// When the drag ends with a request left unanswered, the model says so.
class EntryDragData : public QMimeData {
public:
    EntryDragData(std::shared_ptr<PhoneFiles> phone, QList<Dragged> items, QPointer<BrowserModel> model,
                  std::chrono::milliseconds wait)
        : m_phone(std::move(phone)), m_items(std::move(items)), m_model(std::move(model)), m_wait(wait)
    {
    }

    ~EntryDragData() override
    {
        if (m_pull) {
            std::unique_lock lock(m_pull->mutex);
            m_pull->abandoned = true;
            m_pull->stop.request_stop();
            // Finished copies nobody took are removed here; running ones by
            // their worker.
            if (m_pull->finished && !m_pull->handedOver && !m_pull->folders.isEmpty())
                removeLater(std::exchange(m_pull->folders, {}));
        }
        if (m_unanswered && !m_items.isEmpty()) {
            tell(m_items.size() == 1
                     ? QStringLiteral("“") + m_items.first().name
                           + QStringLiteral("” couldn't be dropped: the app it was dropped on stopped waiting before it "
                                            "was copied from the phone. Use “Copy to Computer…” for large items.")
                     : QString::number(m_items.size())
                           + QStringLiteral(" items couldn't be dropped: the app they were dropped on stopped waiting "
                                            "before they were copied from the phone. Use “Copy to Computer…” for large "
                                            "items."));
        }
    }

    QStringList formats() const override { return carries() ? QStringList{uriList} : QStringList(); }
    bool hasFormat(const QString& mimeType) const override { return carries() && mimeType == uriList; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType) const override
    {
        if (!carries() || mimeType != uriList)
            return {};
        if (!m_pull || gone(*m_pull))
            m_pull = startPull(m_phone, m_items);
        const std::shared_ptr<Pull> pull = m_pull;
        std::unique_lock lock(pull->mutex);
        if (!pull->changed.wait_for(lock, m_wait, [&] { return pull->finished; })) {
            m_unanswered = true;
            return {};
        }
        // Answered, with the copies or with why there are none.
        m_unanswered = false;
        if (!pull->files) {
            // The receiver shows nothing on this desktop: the user hears it from us.
            if (pull->failure && !m_told) {
                m_told = true;
                tell(*pull->failure);
            }
            return {};
        }
        pull->handedOver = true;
        QVariantList urls;
        for (const QString& file : std::as_const(*pull->files))
            urls.append(QUrl::fromLocalFile(file));
        return urls;
    }

private:
    bool carries() const { return m_phone && !m_items.isEmpty(); }

    // Copies handed over and since taken away (by a receiver that moved
    // them): the next request gets new ones.
    static bool gone(Pull& pull)
    {
        std::lock_guard lock(pull.mutex);
        if (!pull.files)
            return false;
        for (const QString& file : std::as_const(*pull.files)) {
            if (!QFileInfo::exists(file))
                return true;
        }
        return false;
    }

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
    QList<Dragged> m_items;
    QPointer<BrowserModel> m_model;
    std::chrono::milliseconds m_wait;
    // The copies under way or made for this drag.
    mutable std::shared_ptr<Pull> m_pull;
    mutable bool m_unanswered = false;
    mutable bool m_told = false;
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
    return itemProvider(QList<RemoteEntry>{entry});
}

QMimeData* BrowserModel::itemProvider(const QList<RemoteEntry>& entries)
{
    if (const std::optional<QString> text = refusal(entries, QStringLiteral("dragged out"))) {
        setErrorMessage(*text);
        return new EntryDragData(nullptr, {}, this, m_dragOutWait);
    }
    QList<Dragged> items;
    for (const RemoteEntry& entry : entries)
        items.append(Dragged{joined(m_path, entry.name), entry.name});
    return new EntryDragData(files(), items, this, m_dragOutWait);
}

void BrowserModel::setDragOutWait(std::chrono::milliseconds wait)
{
    m_dragOutWait = wait;
}
