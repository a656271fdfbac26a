// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>

#include <QApplication>
#include <gtest/gtest.h>

// Tests run without a desktop: Qt draws offscreen. The environment is set
// here, since test discovery runs the binary without the test's own
// environment. Sound goes to a server the tests start (harness/testsink.h).
int main(int argc, char* argv[])
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
