// main() of every test binary: an application object for Qt, then GoogleTest.
#include <gtest/gtest.h>

#ifdef VT_GUI_TEST
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include "AdbGuard.h"

#include <csignal>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    std::string name = argv[0];
    for (int index = 1; index < argc; ++index) {
        if (std::strncmp(argv[index], "--gtest_filter=", 15) == 0)
            name += std::string(" ") + (argv[index] + 15);
    }
    adbguard::begin(name.c_str());
#ifdef VT_GUI_TEST
    // Widget tests never need a display (test discovery runs them at build time).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    // Test discovery lists tests and runs none.
    const bool clean = adbguard::end();
    return status != 0 ? status : clean ? 0 : 1;
}
