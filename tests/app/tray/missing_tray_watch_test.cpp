#include "test_files.h"
#include "tray/missing_tray_watch.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// Says so once for each time no panel shows the tray for the grace period: at start, and after a panel left.
TEST(MissingTrayWatch, SaysOnceForEachAbsence)
{
    MissingTrayWatch watch(50ms);
    std::vector<bool> said;
    QObject::connect(&watch, &MissingTrayWatch::missing, [&](bool sinceStart) { said.push_back(sinceStart); });

    ASSERT_TRUE(waitUntil([&] { return said.size() == 1; }));
    EXPECT_EQ(said, std::vector{true}) << "no panel since start";
    waitUntil([] { return false; }, 200ms);
    EXPECT_EQ(said.size(), 1u) << "once for the whole absence";

    watch.setHostPresent(true);
    watch.setHostPresent(false);
    watch.setHostPresent(true);  // back within the grace period: nothing to say
    waitUntil([] { return false; }, 200ms);
    EXPECT_EQ(said.size(), 1u);

    watch.setHostPresent(false);
    ASSERT_TRUE(waitUntil([&] { return said.size() == 2; }));
    EXPECT_EQ(said.back(), false) << "a panel was there once";
}
