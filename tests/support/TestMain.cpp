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
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
