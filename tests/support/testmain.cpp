#include <cstdlib>

#include <QApplication>
#include <gtest/gtest.h>

// Tests run without a desktop: Qt draws offscreen and SDL writes its audio to
// a file. The environment is set here, since test discovery runs the binary
// without the test's own environment.
int main(int argc, char* argv[])
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "disk", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
