#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class CommandBox;
class PhoneFrame;
class QLabel;

// A centred message: a drawn phone with a symbol, a title, an explanation
// and, when given, a command to run.
class EmptyStateView : public QWidget {
    Q_OBJECT
public:
    EmptyStateView(const QString& symbol, const QString& title, const QString& detail,
                   const std::optional<QString>& command = std::nullopt, QWidget* parent = nullptr);

    QString title() const;
    QString detail() const;
    void setDetail(const QString& detail);
    // None when there is no command.

private:
    PhoneFrame* m_frame;
    QLabel* m_title;
    QLabel* m_detail;
    CommandBox* m_commandBox = nullptr;
};
