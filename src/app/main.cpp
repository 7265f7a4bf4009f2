#include "TempFolder.h"
#include "WorkerPool.h"

#include <QApplication>
#include <QMainWindow>

#include <chrono>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantelorquist"));
    QApplication::setOrganizationName(QStringLiteral("Vantelorquist"));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Vantelorquist"));
    window.resize(960, 600);
    window.show();

    const int status = app.exec();
    WorkerPool::shared().shutdown(std::chrono::seconds(3));
    TempFolder::removeAll();
    return status;
}
