#pragma once

#include <QPointer>
#include <QWidget>

class BrowserModel;
class GlassSurface;
class MirrorSession;
class QLabel;
class QScrollArea;
class RailButton;

// The column of phone controls beside the mirrored screen: the phone's
// keys, rotation, screenshot and recording, sound, the clipboard both ways,
// and the frame rate while the picture streams.
class MirrorSideRail : public QWidget {
    Q_OBJECT
public:
    // Both must outlive the rail.
    MirrorSideRail(MirrorSession& session, BrowserModel& model, QWidget* parent = nullptr);

    // The button with this title ("Power", "Back", ...), for tests and tools.
    RailButton* button(const QString& title) const;
    QList<RailButton*> buttons() const { return m_buttons; }
    QScrollArea* groupsArea() const { return m_scroll; }
    QWidget* navigationGroup() const { return m_navigation; }
    QWidget* badge() const;
    QString badgeText() const;

    // Every symbol name the rail can show.
    static QStringList symbolNames();

private:
    RailButton* add(QWidget* group, const QString& title, const QString& symbol, const QString& help,
                    std::function<void()> action);
    void refresh();
    void pasteClipboard();
    // Sets the flag for 1.2 s; each flash has its own timer.
    void flash(bool MirrorSideRail::*flag);

    QPointer<MirrorSession> m_session;
    BrowserModel& m_model;
    // The mirrored phone: its screenshot and recording.
    const QString m_serial;
    bool m_pasted = false;
    bool m_clipboardArrived = false;

    QList<RailButton*> m_buttons;
    RailButton* m_screenshot = nullptr;
    RailButton* m_record = nullptr;
    RailButton* m_sound = nullptr;
    RailButton* m_paste = nullptr;
    RailButton* m_sync = nullptr;
    QScrollArea* m_scroll;
    QWidget* m_navigation;
    GlassSurface* m_badge;
    QLabel* m_fps;
};
