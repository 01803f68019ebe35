// main() of the GUI tests: an offscreen QApplication, then every case on this thread.

#include <QApplication>

#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
