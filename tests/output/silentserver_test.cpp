// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "harness/silentserver.h"
#include "harness/tempdir.h"
#include "harness/withoutserver.h"
#include "output/systemoutput.h"

// The output where the sound server has accepted the connection and never
// answers, with ALSA configured as the system configures it: on Debian its
// configuration asks the same server whether it runs, and its default device
// plays through it.

using namespace std::chrono_literals;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Warmed up and asked again, each time the server has its bound to answer,
// and the reason says it did not. ALSA's configuration must not be loaded
// yet in this process, as when ctest runs each test on its own: loading it
// would ask the server.
TEST(SystemOutput, AServerThatNeverAnswersIsGivenUpWithinItsBoundEachTime)
{
    const SilentServer server;
    server.useInThisProcess();
    unsetenv("ALSA_CONFIG_PATH");
    const auto output = systemOutput({"Merlow", MERLOW_APP_ID});
    output->warmUp();
    for (const char* attempt : {"warmed up", "again"}) {
        SCOPED_TRACE(attempt);
        const auto start = std::chrono::steady_clock::now();
        std::string error;
        EXPECT_FALSE(output->prepare(44100, 2, error));
        EXPECT_LT(secondsSince(start), 2.5);
        EXPECT_NE(error.find("the sound server does not answer"), std::string::npos) << error;
        EXPECT_FALSE(output->isOpen());
    }
}

// Where ALSA's configuration is loaded already and its default device is one
// of its own, not the server's, that device plays instead.
TEST(SystemOutput, WhereTheServerDoesNotAnswerADeviceOfALoadedConfigurationPlays)
{
    const TempDir dir;
    playWithoutServer(dir, "pcm.!default { type null }\n");
    const auto output = systemOutput({"Merlow", MERLOW_APP_ID});
    std::string error;
    ASSERT_TRUE(output->prepare(44100, 2, error)) << error;
    output->close();

    const SilentServer server;
    server.useInThisProcess();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(output->prepare(44100, 2, error)) << error;
    EXPECT_LT(secondsSince(start), 2.5);
    EXPECT_TRUE(output->isOpen());
    output->close();
}

// Another thread gives the waits up, as the engine does when it stops: the
// connection in progress ends at once, and later ones do not wait.
TEST(SystemOutput, AbandoningItsWaitsEndsAConnectionInProgressAtOnce)
{
    const SilentServer server;
    server.useInThisProcess();
    unsetenv("ALSA_CONFIG_PATH");
    const auto output = systemOutput({"Merlow", MERLOW_APP_ID});
    std::string error;
    bool prepared = true;
    std::thread engine([&] { prepared = output->prepare(44100, 2, error); });
    // Nothing shows that the wait has begun: this gives it ample time to.
    std::this_thread::sleep_for(300ms);
    const auto abandoned = std::chrono::steady_clock::now();
    output->abandonWaits();
    engine.join();
    EXPECT_LT(secondsSince(abandoned), 0.2);
    EXPECT_FALSE(prepared);

    const auto again = std::chrono::steady_clock::now();
    EXPECT_FALSE(output->prepare(44100, 2, error));
    EXPECT_LT(secondsSince(again), 0.2);
}

} // namespace
