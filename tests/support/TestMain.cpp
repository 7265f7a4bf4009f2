// main() of every test binary: an application object for Qt, then GoogleTest.
#include <gtest/gtest.h>

#ifdef VT_GUI_TEST
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <csignal>

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
#ifdef VT_GUI_TEST
    // Widget tests never need a display (test discovery runs them at build time).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
