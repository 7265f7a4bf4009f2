// Quits the way the application does while an app action is under way: the
// window has let the model go, the quit clean-up waits for the workers, and
// the application object goes with the action's answer still in its queue.
// Exits 0; a hang is what the test that runs it looks for.
#include "AppsModel.h"
#include "WorkerPool.h"

#include <QCoreApplication>

#include <chrono>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    {
        // Any program stands in for adb: the action only has to end.
        const std::shared_ptr<AppsModel> model =
            AppsModel::make(ADB(QStringLiteral("/bin/true")), QStringLiteral("serial"), QStringLiteral("Phone"));
        model->forceStop(InstalledApp {QStringLiteral("com.example.notes"), std::nullopt, std::nullopt, false});
    }
    return WorkerPool::shared().shutdown(std::chrono::seconds(10)) ? 0 : 2;
}
