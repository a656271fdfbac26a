#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "desktop.h"
#include "harness/nonregularfiles.h"

namespace {

// What a file manager can drag that the player must refuse with a message,
// dragged for real while a file plays: each time a message box comes up,
// closes at Return, and the player is alive and still playing.
TEST_F(DesktopDrop, BadFilesDraggedForRealAreReportedWhileTheFilePlaysOn)
{
    dragOntoLabel("cbr44_long.mp3");
    ASSERT_TRUE(waitForSound(0.3)) << readFile(log);

    const TempDir files;
    const NonRegularFiles nonRegular(files);
    const std::string empty = files.file("empty.mp3");
    std::ofstream(empty).close();
    const std::string rows[] = {files.path(), nonRegular.fifo(), "/dev/zero", nonRegular.socket(),
                                files.file("vanished.mp3"), empty};
    for (const std::string& path : rows) {
        SCOPED_TRACE(path);
        dragPathOntoLabel(path);
        const auto box = x11.findWindow("Merlow", 3s);
        ASSERT_TRUE(box.has_value()) << readFile(log);
        ASSERT_TRUE(xdotool.keyIn(*box, "Return"));
        const auto closing = std::chrono::steady_clock::now();
        while (x11.isViewable(*box) && std::chrono::steady_clock::now() - closing < 2s)
            std::this_thread::sleep_for(1ms);
        EXPECT_FALSE(x11.isViewable(*box));
        EXPECT_LT(std::chrono::steady_clock::now() - closing, 500ms);
        EXPECT_TRUE(merlow->running());
        EXPECT_FALSE(newestBufferSilent());
    }
}

} // namespace
