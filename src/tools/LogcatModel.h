#pragma once

#include "ADB.h"
#include "LogLine.h"
#include "Task.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ADBStream;

// One phone's log: a long-running `adb logcat` whose lines are parsed in
// batches, the newest records kept, and the records that pass the level,
// app and text filters offered as `shown`. Lives on the GUI thread.
class LogcatModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool paused READ paused WRITE setPaused NOTIFY pausedChanged)
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(QString package READ package WRITE setPackage NOTIFY packageChanged)
    Q_PROPERTY(bool ended READ ended NOTIFY endedChanged)

public:
    static constexpr qsizetype kCap = 20000;

    // What the model asks of the person; tests answer instead.
    struct Prompts {
        // A file to save to, suggesting `suggestedName`; none when cancelled.
        std::function<std::optional<QString>(const QString& suggestedName)> askSaveFile;
        std::function<void(const QString& title, const QString& text)> warn;
    };
    struct Timing {
        std::chrono::milliseconds flush {150};
        std::chrono::milliseconds pidPoll {3000};
    };

    LogcatModel(ADB adb, QString serial, QString name, QObject* parent = nullptr);
    ~LogcatModel() override;

    // Empty members keep the real dialogs.
    void setPrompts(Prompts prompts);
    void setTiming(Timing timing) { m_timing = timing; }

    const QString& serial() const { return m_serial; }
    const QString& name() const { return m_name; }

    // Starts the log stream and the app's process-id poll; nothing while a
    // stream runs.
    void start();
    // Ends the stream (its process too) and the poll; `ended` is set by the
    // stream's exit report, not here.
    void stop();
    // Empties the list and asks the phone to clear its log; failures are silent.
    void clear();
    // Asks for a file and writes the raw lines shown when asked to it, also
    // when the model is gone by the answer; a failed write is reported with
    // the file and the reason.
    void save();

    // Oldest first, at most kCap after each flush. Ids are consecutive.
    const QList<LogLine>& lines() const { return m_lines; }
    // The records that pass the filters, oldest first.
    qsizetype shownCount() const { return m_shown.size(); }
    const LogLine& shownAt(qsizetype row) const { return m_lines.at(m_shown.at(row) - m_lines.first().id); }
    QList<LogLine> shown() const;

    bool paused() const { return m_paused; }
    void setPaused(bool paused);
    LogLine::Level minimumLevel() const { return m_minimumLevel; }
    void setMinimumLevel(LogLine::Level level);
    const QString& search() const { return m_search; }
    void setSearch(const QString& search);
    const QString& package() const { return m_package; }
    // Every assignment, even of the same text, looks the app's ids up again.
    void setPackage(const QString& package);
    // None: no app filter; an empty set matches no line.
    const std::optional<QSet<QString>>& appPids() const { return m_appPids; }
    bool ended() const { return m_ended; }
    // Why the log ended, when that is more than the phone going or our own
    // stop: adb ended from outside. Set before `ended` is announced.
    const std::optional<QString>& endedBecause() const { return m_endedBecause; }

    // One batch of raw lines, as the stream hands them to the GUI thread.
    void receive(const QStringList& batch);

    // Whether a record passes the filters: at least the level, one of the
    // app's ids (when there is an app), and the search text anywhere in the
    // raw line, without regard to case.
    static bool passes(const LogLine& line, LogLine::Level minimumLevel, const std::optional<QSet<QString>>& pids,
                       const QString& search);

Q_SIGNALS:
    void linesChanged();
    void pausedChanged();
    void minimumLevelChanged();
    void searchChanged();
    void packageChanged();
    void appPidsChanged();
    void endedChanged();
    // Each change of `shown` is announced before it is made (its rows can
    // still be read) and after: so many records leave its front, so many join
    // its end, or it is worked out afresh.
    void shownAboutToBeRemoved(qsizetype atFront);
    void shownRemoved(qsizetype atFront);
    void shownAboutToBeAppended(qsizetype atEnd);
    void shownAppended(qsizetype atEnd);
    void shownAboutToBeReset();
    void shownReset();
    // After a flush or a clear: `shown` lost that many records at its front
    // and gained that many at its end.
    void shownUpdated(qsizetype removedAtFront, qsizetype appendedAtEnd);

private:
    struct Inbox;

    void flush();
    void refreshPids(bool fromPoll);
    void setAppPids(const std::optional<QSet<QString>>& pids);
    void setEnded(bool ended);
    bool passes(const LogLine& line) const { return passes(line, m_minimumLevel, m_appPids, m_search); }
    void recomputeShown();

    const ADB m_adb;
    const QString m_serial;
    const QString m_name;
    Prompts m_prompts;
    Timing m_timing;

    QList<LogLine> m_lines;
    QList<int64_t> m_shown; // ids of m_lines, ascending
    bool m_paused = false;
    LogLine::Level m_minimumLevel = LogLine::Level::verbose;
    QString m_search;
    QString m_package;
    std::optional<QSet<QString>> m_appPids;
    bool m_ended = false;
    std::optional<QString> m_endedBecause;

    std::unique_ptr<ADBStream> m_stream;
    std::shared_ptr<Inbox> m_inbox;
    quint64 m_generation = 0; // of the latest stream started
    int64_t m_nextID = 0;
    QStringList m_buffer;
    bool m_flushScheduled = false;
    QTimer m_pidPoll;
    struct Lookup {
        Task task;
        QString package;
    };
    QHash<quint64, Lookup> m_lookups;
    quint64 m_nextLookup = 0;
};
