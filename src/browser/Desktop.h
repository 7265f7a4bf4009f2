#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// What the browser model asks of the desktop it runs on: modal questions,
// the two choosing panels, the beep, and opening or showing files on the
// computer. The application implements it with widgets; the model itself
// knows none, and tests script it.
class Desktop {
public:
    struct Question {
        QString message;
        QString informative;
        // In order; the first is the default (Return), one titled "Cancel"
        // takes Escape.
        QStringList buttons;
        bool warning = false;
        // The position of a button whose action destroys something; -1: none.
        int destructive = -1;
    };
    struct Panel {
        QString message;
        QString prompt; // the accept button's title
        QString folder; // where the panel opens; empty for its own choice
    };

    virtual ~Desktop() = default;

    // The position of the button pressed; none when the question was closed
    // another way.
    virtual std::optional<int> ask(const Question& question) = 0;
    // Closes the questions open now, as if closed another way: for the
    // question of a job that has ended meanwhile.
    virtual void closeQuestions() {}
    // A folder (new ones can be made in the panel); none when cancelled.
    virtual std::optional<QString> chooseFolder(const Panel& panel) = 0;
    // Files and folders together, several at once; empty when cancelled.
    virtual QStringList chooseItems(const Panel& panel) = 0;
    // Files matching one of the wildcard patterns, several at once; empty
    // when cancelled.
    virtual QStringList chooseFiles(const Panel& panel, const QStringList& patterns);
    // Puts plain text on the clipboard in place of what it held.
    virtual void copyText(const QString& text);
    virtual void beep() = 0;
    // Opens a file with its default application; false when there is no
    // program to open it with. Where that is only known once the launcher
    // has tried, `failed` is called later on this thread instead.
    virtual bool open(const QString& path, std::function<void()> failed) = 0;
    // Shows the files selected in the file manager.
    virtual void reveal(const QStringList& paths) = 0;
};

// A desktop without a user: every question is cancelled, no panel chooses
// anything, and nothing is shown.
std::shared_ptr<Desktop> makeSilentDesktop();
