#include "WidgetDesktop.h"
#include "PlainText.h"

#include "FileManager.h"
#include "ItemsPanel.h"
#include "OwnedDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QWindow>

namespace {

// The system's description of the files that all `patterns` stand for
// ("*.[aA][pP][kK]" is an "Android package"); empty when they name no one kind.
QString kindOf(const QStringList& patterns)
{
    static const QRegularExpression anyCase(QStringLiteral("\\[(.)[^\\]]*\\]"));
    QMimeDatabase types;
    QString kind;
    for (QString pattern : patterns) {
        pattern.replace(anyCase, QStringLiteral("\\1"));
        if (!pattern.startsWith(QStringLiteral("*.")) || pattern.size() < 3)
            return {};
        const QMimeType type =
            types.mimeTypeForFile(QStringLiteral("file") + pattern.mid(1), QMimeDatabase::MatchExtension);
        if (type.isDefault() || (!kind.isEmpty() && type.comment() != kind))
            return {};
        kind = type.comment();
    }
    return kind;
}

// The first press of a double-click decides where it belongs. The second
// press of one that began in a question (the click on its button closed it)
// lands in the window behind, where a double-click would open the row under
// the pointer: there it is a single press instead.
class DoubleClickGuard : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick) || !watched->isWindowType())
            return false;
        auto* window = static_cast<QWindow*>(watched);
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        if (type == QEvent::MouseButtonPress) {
            // The press that makes a double-click begins none.
            if (!(mouse->flags() & Qt::MouseEventCreatedDoubleClick))
                m_firstPress = window;
            return false;
        }
        if (m_firstPress == window)
            return false;
        // The window's widgets never saw that press; they get it now, plain.
        QMouseEvent press(QEvent::MouseButtonPress, mouse->position(), mouse->scenePosition(),
                          mouse->globalPosition(), mouse->button(), mouse->buttons(), mouse->modifiers(),
                          mouse->pointingDevice());
        press.setTimestamp(mouse->timestamp());
        QCoreApplication::sendEvent(window, &press);
        return true;
    }

private:
    QPointer<QWindow> m_firstPress;
};

} // namespace

WidgetDesktop::WidgetDesktop()
{
    // Once for the application, whichever desktop comes first.
    static QPointer<QObject> guard;
    if (!guard && qApp) {
        guard = new DoubleClickGuard(qApp);
        qApp->installEventFilter(guard);
    }
}

std::optional<int> WidgetDesktop::ask(const Question& question)
{
    const OwnedDialog box(new QMessageBox(QApplication::activeWindow()));
    box->setIcon(question.warning ? QMessageBox::Warning : QMessageBox::Information);
    // Names in the question are the phone's or the user's text, never markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(question.message);
    PlainText::setInformativeText(*box, question.informative);
    QList<QAbstractButton*> buttons;
    for (const QString& title : question.buttons) {
        // One role for all keeps them in the order given.
        QPushButton* button = box->addButton(title, QMessageBox::ActionRole);
        buttons.append(button);
        if (buttons.size() - 1 == question.destructive) {
            button->setProperty("destructive", true);
            QPalette red = button->palette();
            red.setColor(QPalette::ButtonText, QColor(0xd7, 0x2c, 0x2c));
            button->setPalette(red);
        }
        if (title == QStringLiteral("Cancel"))
            box->setEscapeButton(button);
    }
    if (!buttons.isEmpty())
        box->setDefaultButton(static_cast<QPushButton*>(buttons.first()));
    m_questions.append(box.get());
    box->exec();
    m_questions.removeAll(nullptr);
    if (box.gone())
        return std::nullopt;
    m_questions.removeAll(box.get());
    const qsizetype pressed = buttons.indexOf(box->clickedButton());
    return pressed < 0 ? std::nullopt : std::optional<int>(int(pressed));
}

void WidgetDesktop::closeQuestions()
{
    // No button is pressed: ask() answers none.
    for (const QPointer<QMessageBox>& box : std::as_const(m_questions)) {
        if (box)
            box->done(QDialog::Rejected);
    }
}

std::optional<QString> WidgetDesktop::chooseFolder(const Panel& panel)
{
    // A save folder that is not there yet (a fresh home has no Downloads)
    // would leave the accept button off: open on what does exist.
    const OwnedDialog dialog(
        new QFileDialog(QApplication::activeWindow(), panel.message, nearestExistingFolder(panel.folder)));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    // The desktop's own dialog may ignore the accept button's title.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // Without a prompt the panel keeps its own wording; an empty one would
    // leave the button blank and nameless.
    if (!panel.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, panel.prompt);
    if (!dialog.accepted() || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().first();
}

QStringList WidgetDesktop::chooseItems(const Panel& panel)
{
    const OwnedDialog dialog(new ItemsPanel(panel.message, panel.prompt,
                                            panel.folder.isEmpty() ? m_itemsFolder : panel.folder,
                                            QApplication::activeWindow()));
    if (!dialog.accepted())
        return {};
    m_itemsFolder = dialog->folder();
    return dialog->chosen();
}

QStringList WidgetDesktop::chooseFiles(const Panel& panel, const QStringList& patterns)
{
    // Without a folder the dialog would open wherever the process was started.
    const OwnedDialog dialog(
        new QFileDialog(QApplication::activeWindow(), panel.message, nearestExistingFolder(panel.folder)));
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    const QString kind = kindOf(patterns);
    if (kind.isEmpty()) {
        dialog->setNameFilter(patterns.join(QLatin1Char(' ')));
    } else {
        // The system's name for the kind, not the patterns behind it.
        dialog->setOption(QFileDialog::HideNameFilterDetails);
        dialog->setNameFilter(kind + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    }
    if (!panel.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, panel.prompt);
    if (!dialog.accepted())
        return {};
    return dialog->selectedFiles();
}

void WidgetDesktop::beep()
{
    QApplication::beep();
}

bool WidgetDesktop::open(const QString& path, std::function<void()> failed)
{
    // Qt starts xdg-open detached and calls that success whatever it then
    // answers, so a file no program opens would show nothing.
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (launcher.isEmpty()) {
        // False when the desktop has no launcher to hand the file to.
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
    auto* process = new QProcess(qApp);
    process->setProgram(launcher);
    // Absolute, so never taken for an option or a URL.
    process->setArguments({QFileInfo(path).absoluteFilePath()});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    // xdg-open may wait as long as the program it starts runs: only its
    // answer is heard, never waited for.
    QObject::connect(process, &QProcess::finished, process,
                     [process, failed](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         // 3: nothing opens this kind of file; 4: opening it failed.
                         if (status == QProcess::NormalExit && code != 0 && failed)
                             failed();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        if (failed)
            failed();
    });
    // Deleting a running QProcess kills it, and with it perhaps the program
    // it opened: quitting lets it go on instead.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, process, [process] { process->setParent(nullptr); });
    process->start();
    return true;
}

void WidgetDesktop::reveal(const QStringList& paths)
{
    FileManager::reveal(paths);
}
