#include <reference_checks/Sleep.h>

#include <gtest/gtest.h>

#include <chrono>

namespace {

std::chrono::steady_clock::duration timeOf(int ms)
{
    const auto start = std::chrono::steady_clock::now();
    sleepMs(ms);
    return std::chrono::steady_clock::now() - start;
}

TEST(SleepTest, WaitsAtLeastTheTimeAsked)
{
    for (const int ms : {1, 2, 15})
        EXPECT_GE(timeOf(ms), std::chrono::milliseconds(ms)) << ms;
}

TEST(SleepTest, NothingToWaitForReturns)
{
    // A negative count must not turn into a huge unsigned wait.
    for (const int ms : {0, -1, -2147483647 - 1})
        EXPECT_LT(timeOf(ms), std::chrono::seconds(5)) << ms;
}

} // namespace
