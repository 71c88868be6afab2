#include "platform/region_lock.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/temp_dir.hpp"

namespace georef::platform {
namespace {

using namespace std::chrono_literals;

// Waits up to two seconds for a condition that another process or thread
// brings about.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 200; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(RegionLock, RefusesALockFileInAMissingDirectory) {
    const test::TempDir dir;
    EXPECT_FALSE(RegionLock::Acquire(dir.File("missing/lock"), 0).has_value());
}

TEST(RegionLock, ExcludesAnotherThreadOfTheSameProcessUntilReleased) {
    const test::TempDir dir;
    const std::string file = dir.File("lock");
    std::optional<RegionLock> held = RegionLock::Acquire(file, 42);
    ASSERT_TRUE(held.has_value());

    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        const std::optional<RegionLock> second = RegionLock::Acquire(file, 42);
        acquired = second.has_value();
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(acquired);
    // Another byte of the same file is free all along.
    EXPECT_TRUE(RegionLock::Acquire(file, 43).has_value());

    held.reset();
    waiter.join();
    EXPECT_TRUE(acquired);
}

TEST(RegionLock, IsReleasedByTheKernelWhenItsHolderIsKilled) {
    const test::TempDir dir;
    const std::string file = dir.File("lock");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::optional<RegionLock> lock = RegionLock::Acquire(file, 7);
        if (!lock) {
            _exit(3);
        }
        pause();  // until killed, holding the lock
        _exit(0);
    }
    EXPECT_TRUE(Eventually([&] { return RegionLock::IsHeldElsewhere(file, 7); }));
    EXPECT_FALSE(RegionLock::IsHeldElsewhere(file, 8));

    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(RegionLock::IsHeldElsewhere(file, 7));
    EXPECT_TRUE(RegionLock::Acquire(file, 7).has_value());
}

}  // namespace
}  // namespace georef::platform
