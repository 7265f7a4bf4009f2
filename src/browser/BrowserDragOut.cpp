#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "Paths.h"

#include <QCoreApplication>
#include <QEventLoop>

using paths::joined;

namespace {

const QString uriList = QStringLiteral("text/uri-list");

// A phone entry dragged out. The file is pulled only when a receiver asks
// for the URL list, and only once however often it asks during the drop; the
// window keeps running its events while the pull goes on.
class EntryDragData : public QMimeData {
public:
    EntryDragData(std::shared_ptr<PhoneFiles> phone, QString phonePath, QString name)
        : m_phone(std::move(phone)), m_phonePath(std::move(phonePath)), m_name(std::move(name))
    {
    }

    QStringList formats() const override { return m_phone ? QStringList{uriList} : QStringList(); }
    bool hasFormat(const QString& mimeType) const override { return m_phone && mimeType == uriList; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType) const override
    {
        if (!m_phone || mimeType != uriList)
            return {};
        const_cast<EntryDragData*>(this)->pullOnce();
        // A request that arrives while the pull runs waits for the same pull.
        QEventLoop loop;
        while (!m_done)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        if (!m_file)
            return {};
        return QVariantList{QUrl::fromLocalFile(*m_file)};
    }

private:
    void pullOnce()
    {
        if (m_started)
            return;
        m_started = true;
        // Only the values taken when the drag began; never the model.
        m_task = Task::run(
            this,
            [phone = m_phone, path = m_phonePath, name = m_name](const Cancel& cancel) {
                const QString folder = browserpaths::newPrivateFolder();
                phone->pull(path, folder, cancel);
                return joined(folder, name);
            },
            [this](const QString& file) {
                m_file = file;
                m_done = true;
            },
            // The receiver gets nothing; the browser shows nothing.
            [this](const std::exception_ptr&) { m_done = true; });
    }

    std::shared_ptr<PhoneFiles> m_phone;
    QString m_phonePath;
    QString m_name;
    bool m_started = false;
    bool m_done = false;
    std::optional<QString> m_file;
    Task m_task;
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
    if (const std::optional<QString> refusal = browserpaths::refusal(entry.name, QStringLiteral("dragged out"))) {
        setErrorMessage(*refusal);
        return new EntryDragData(nullptr, {}, entry.name);
    }
    return new EntryDragData(files(), joined(m_path, entry.name), entry.name);
}
