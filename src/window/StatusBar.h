#pragma once

#include "Models.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

class BrowserModel;
class QLabel;

// The line under the listing: how many items show, how many are selected
// and how large the selected files are, and the phone's free space; while the
// model has a notice (a refused request, a folder gone), that instead.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(BrowserModel* model, QWidget* parent = nullptr);

    // The line for `visible` items shown, the selected entries (when there is
    // a selection) and the phone's facts.
    static QString summary(qsizetype visible, bool hasSelection, const QList<RemoteEntry>& selected,
                           const std::optional<DeviceInfo>& info);
    QString text() const;

private:
    void update();

    BrowserModel* m_model;
    QLabel* m_line;
};
