// The progress window's texts and its redraw throttle, worked out without a display.
#include "platform/linux/ui/gtk/progress_display.h"
#include "platform/linux/ui/progress_throttle.h"

#include <gtest/gtest.h>

namespace pellatrix::linuxos::gtk {
namespace {

using namespace std::chrono_literals;

TEST(ProgressDisplay, CountsBarAndShownPath) {
    // Progress as {files done, files in all, bytes done, bytes in all, the file being copied}.
    EXPECT_EQ(fileCountText({3, 120, 0, 0, {}}), "3 of 120 files");
    EXPECT_EQ(fileCountText({0, 1, 0, 0, {}}), "0 of 1 file");
    EXPECT_DOUBLE_EQ(doneFraction({1, 4, 250, 1000, {}}), 0.25);
    // Files that grew while being copied must not push the bar past its end.
    EXPECT_DOUBLE_EQ(doneFraction({4, 4, 1500, 1000, {}}), 1.0);
    // A copy of empty files only: the bar follows the files.
    EXPECT_DOUBLE_EQ(doneFraction({1, 2, 0, 0, {}}), 0.5);
    EXPECT_DOUBLE_EQ(doneFraction({0, 0, 0, 0, {}}), 0.0);
    for (const auto& [path, folder, name] : {std::tuple{"~/.local/share/Tolvex/Model/a b.dat",
                                                        "~/.local/share/Tolvex/Model", "a b.dat"},
                                             {"/x", "/", "x"},
                                             {"plain", "", "plain"}}) {
        EXPECT_EQ(folderOf(path), folder);
        EXPECT_EQ(fileNameOf(path), name);
    }
}

TEST(ProgressThrottle, LetsTheFirstUpdateThroughThenOnePerInterval) {
    for (const auto start : {ProgressThrottle::Clock::time_point{} + 10s,
                             ProgressThrottle::Clock::time_point{}}) { // even at the clock's epoch
        ProgressThrottle throttle(150ms);
        EXPECT_TRUE(throttle.due(start));
        EXPECT_FALSE(throttle.due(start));
        EXPECT_FALSE(throttle.due(start + 149ms));
        EXPECT_TRUE(throttle.due(start + 150ms));
        // The interval counts from the last update let through, not from the first.
        EXPECT_FALSE(throttle.due(start + 299ms));
        EXPECT_TRUE(throttle.due(start + 300ms));
    }
}

} // namespace
} // namespace pellatrix::linuxos::gtk
