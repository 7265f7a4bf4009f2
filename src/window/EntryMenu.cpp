#include "EntryMenu.h"

#include "BrowserModel.h"
#include "WindowRules.h"

EntryMenu::EntryMenu(const Environment& env, const QList<RemoteEntry>& items, QWidget* parent)
    : QMenu(parent), m_env(env), m_items(items)
{
    using Action = WindowRules::MenuItem::Action;
    BrowserModel* model = m_env.model;
    // The items are of the phone and folder shown now; every item acts
    // there or nowhere, however long the menu stays open.
    const std::optional<BrowserModel::Shown> asked = model->shown();
    // Runs `work` only while that phone and folder are still shown; else
    // says that nothing was `done`.
    const auto there = [model, asked](const QString& done, std::function<void()> work) -> std::function<void()> {
        if (!asked)
            return {};
        return [model, asked = *asked, done, work] {
            if (model->stillShown(asked, true, done))
                work();
        };
    };

    for (const WindowRules::MenuItem& item : WindowRules::entryMenu(items)) {
        if (item.action == Action::separator) {
            addSeparator();
            continue;
        }
        QAction* action = addAction(item.title);
        action->setObjectName(item.title);
        std::function<void()> run;
        // Whether the model may ask a question or open a panel first.
        const bool asks = item.action == Action::copyToPhone || item.action == Action::copyToMac
                          || item.action == Action::remove;
        switch (item.action) {
        case Action::newFolder:
            run = [model] { model->setShowingNewFolder(true); };
            break;
        case Action::copyToPhone:
            run = [model] { model->chooseAndUpload(std::nullopt); };
            break;
        case Action::open:
            run = there(QStringLiteral("opened"), [model, entry = items.first()] { model->open(entry); });
            break;
        case Action::openOnMac:
            run = there(QStringLiteral("opened"), [model, items] { model->openOnMac(items); });
            break;
        case Action::copyToMac:
            if (asked)
                run = [model, asked = *asked, items] { model->download(asked, items); };
            break;
        case Action::copyPaths:
            run = there(QStringLiteral("copied"), [model, items] { model->copyPaths(items); });
            break;
        case Action::rename:
            run = there(QStringLiteral("renamed"), [model, entry = items.first()] { model->setRenaming(entry); });
            break;
        case Action::remove:
            action->setProperty("destructive", true);
            if (asked)
                run = [model, asked = *asked, items] { model->remove(asked, items); };
            break;
        case Action::separator:
            break;
        }
        // While a job runs, whatever would start another is off.
        const bool startsJob = item.action != Action::open && item.action != Action::copyPaths;
        action->setEnabled(bool(run) && !(startsJob && model->job()));
        if (run && asks) {
            // A question's or panel's own loop must not run under the menu's
            // click: the window may go meanwhile (closed on quit) and take
            // the menu along. The model outlives the windows.
            connect(action, &QAction::triggered, this,
                    [model, run] { QMetaObject::invokeMethod(model, run, Qt::QueuedConnection); });
        } else if (run) {
            connect(action, &QAction::triggered, this, run);
        }
    }
}
