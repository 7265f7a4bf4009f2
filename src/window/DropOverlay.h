#pragma once

#include <QString>
#include <QWidget>

class QLabel;

// The highlight over the browser while files from the computer are dragged
// over it, naming the folder they would be copied into. It takes no clicks.
class DropOverlay : public QWidget {
    Q_OBJECT
public:
    explicit DropOverlay(QWidget* parent = nullptr);

    void setFolder(const QString& folder);
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_text;
};
