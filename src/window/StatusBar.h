#pragma once

#include "BrowserTypes.h"
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
    // `notice` on one line `width` wide: the name shortened in the middle
    // when the whole does not fit, so that the words around it show.
    static QString fitted(const Notice& notice, const QFont& font, int width);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();

    BrowserModel* m_model;
    QLabel* m_line;
};
