#pragma once

#include <QWidget>

#include <optional>

class LogcatModel;
class LogRow;
class LogRows;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;

// The log proper: the toolbar with its filters, the list of shown records,
// the empty-state text over it and the status bar under it.
class LogcatView : public QWidget {
    Q_OBJECT
public:
    explicit LogcatView(QWidget* parent = nullptr);

    // The model shown; the view's own follow setting stays as it is.
    void setModel(LogcatModel* model);
    LogcatModel* model() const { return m_model; }

    bool follow() const;
    void setFollow(bool follow);

    QListView* list() const { return m_list; }
    // The status bar's texts, as shown.
    QString stateText() const;
    QString appText() const; // empty when hidden
    QString countText() const;
    QColor dotColor() const { return m_dotColor; }
    // The empty-state text; empty when hidden.
    QString overlayText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolbar();
    void buildStatusBar();
    void shownChanged();
    void updateStatus();
    void updateOverlay();
    void updateControls();
    void placeOverlay();
    void showRowMenu(const QPoint& position);

    LogcatModel* m_model = nullptr;
    LogRows* m_rows;
    LogRow* m_row;
    QListView* m_list;
    QLabel* m_overlay;
    QComboBox* m_level = nullptr;
    QLineEdit* m_package = nullptr;
    QLineEdit* m_search = nullptr;
    QAction* m_follow = nullptr;
    QAction* m_pause = nullptr;
    QAction* m_clear = nullptr;
    QAction* m_save = nullptr;
    QWidget* m_statusBar = nullptr;
    QLabel* m_dot = nullptr;
    QLabel* m_state = nullptr;
    QLabel* m_app = nullptr;
    QLabel* m_count = nullptr;
    QColor m_dotColor;
    std::optional<int64_t> m_lastShownId;
    bool m_following = false; // the list keeps its last line at the bottom while it lays out
};
