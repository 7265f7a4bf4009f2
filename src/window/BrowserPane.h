#pragma once

#include "Environment.h"
#include "FileDrag.h"

#include <QPoint>
#include <QWidget>

class DropOverlay;
class FileGridView;
class FileListView;
class PathBar;
class StatusBar;
class QLabel;
class QStackedLayout;
class Spinner;
class TransferHUD;
class QVariantAnimation;

// The file browser of a ready phone: the listing, or a loading or empty
// message in its place, the running job's capsule over its bottom, and the
// drop target that copies files from the computer into the folder shown.
class BrowserPane : public QWidget {
    Q_OBJECT
public:
    enum class Body { loading, empty, listing, grid };

    explicit BrowserPane(const Environment& env, QWidget* parent = nullptr);

    Body body() const;
    QWidget* bodyWidget() const { return m_body; }
    DropOverlay* dropOverlay() const { return m_overlay; }
    // Whether a drop would go into the folder shown; the overlay may still
    // be fading out after it stops.
    bool dropTargeted() const { return m_dropTargeted; }
    PathBar* pathBar() const { return m_pathBar; }
    StatusBar* statusBar() const { return m_statusBar; }
    FileGridView* grid() const { return m_grid; }
    // Shown while the model has a job.
    TransferHUD* transferHUD() const { return m_hud; }
    // The empty message's parts.
    QString emptyText() const;
    bool showsDragHint() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();
    void setDropTargeted(bool targeted);
    void followJob();
    void stepHUD(double progress);
    void placeHUD();
    void keepOnTop();

    Environment m_env;
    QWidget* m_body;
    QStackedLayout* m_pages;
    QWidget* m_loadingPage;
    QWidget* m_emptyPage;
    Spinner* m_spinner;
    QLabel* m_emptySymbol;
    QLabel* m_emptyText;
    QLabel* m_dragHint;
    FileListView* m_list;
    FileGridView* m_grid;
    PathBar* m_pathBar;
    StatusBar* m_statusBar;
    DropOverlay* m_overlay;
    QVariantAnimation* m_overlayFade;
    bool m_dropTargeted = false;
    FileDrag m_drag;
    TransferHUD* m_hud;
    QVariantAnimation* m_hudMotion;
    static constexpr double hudResponse = 0.35;
    static constexpr double hudDamping = 0.85;
    struct Path {
        QPoint from;
        QPoint to;
        double fromOpacity = 0;
        double toOpacity = 0;
    };
    Path m_hudPath;
    bool m_hudShown = false;
};
