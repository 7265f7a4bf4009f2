#pragma once

#include <QLabel>
#include <QWidget>

#include <functional>
#include <memory>

class BrowserModel;
class Desktop;
class QCheckBox;

// The Settings window's content: four groups of toggles and the save folder
// row. Every control writes through at once.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    // "showMenuBarIcon" lives in the settings storage, not in the model:
    // read and written through these.
    struct MenuBarSetting {
        std::function<bool()> read;
        std::function<void(bool)> write;
    };

    SettingsView(BrowserModel& model, std::shared_ptr<Desktop> desktop, MenuBarSetting menuBar,
                 QWidget* parent = nullptr);

    // The path with a leading home folder shown as "~"; only a home folder
    // that ends at a "/" or at the end of the path counts.
    static QString displayPath(const QString& path, const QString& home);

    QCheckBox* toggle(const QString& label) const;
    // The save folder as shown (before eliding).
    QString folderText() const;

    // Follows a change of "showMenuBarIcon" made elsewhere.
    void refresh();

private:
    void chooseFolder();

    BrowserModel& m_model;
    std::shared_ptr<Desktop> m_desktop;
    MenuBarSetting m_menuBar;
    QList<QCheckBox*> m_toggles;
    QLabel* m_folder;
};
