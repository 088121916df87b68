#include <gtest/gtest.h>

#include "transport/frame_timer.h"

namespace tw {
namespace {

// A hand-driven clock: counts move only when a test moves them.
struct FakeClock {
    static inline std::int64_t counts = 0;
    static inline std::int64_t millis = 0;
    static inline bool counter_works = true;

    static ClockSource source() {
        return ClockSource{
            []() -> std::optional<std::int64_t> {
                return counter_works ? std::optional<std::int64_t>(10'000'000) : std::nullopt;
            },
            []() -> std::optional<std::int64_t> {
                return counter_works ? std::optional(counts) : std::nullopt;
            },
            []() -> std::int64_t { return millis; },
        };
    }
};

class FrameTimerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeClock::counts = 5'000'000'000;  // a machine that has been up for a while
        FakeClock::millis = 123'456;
        FakeClock::counter_works = true;
    }
};

TEST_F(FrameTimerTest, NotRunningUntilStarted) {
    FrameTimer timer(FakeClock::source());
    EXPECT_FALSE(timer.is_running());
    timer.start();
    EXPECT_TRUE(timer.is_running());
    EXPECT_EQ(timer.elapsed(), 0.0);
    FakeClock::counts += 2'500'000;
    EXPECT_DOUBLE_EQ(timer.elapsed(), 0.25);
}

TEST_F(FrameTimerTest, TicksMeasureTheTimeBetweenThem) {
    FrameTimer timer(FakeClock::source());
    timer.start();
    FakeClock::counts += 10'000'000;
    timer.tick();
    EXPECT_EQ(timer.frame_time(), std::chrono::seconds(1));
    FakeClock::counts += 5'000'000;
    timer.tick();
    EXPECT_EQ(timer.frame_time(), std::chrono::milliseconds(500));
    EXPECT_EQ(timer.now(), std::chrono::milliseconds(1500));
}

// A float sum of frame times stops moving after about 18 hours of 1-ms frames; the
// integer reading still tells a 100-ns frame apart after a month.
TEST_F(FrameTimerTest, AMonthUpTheClockStillMovesByOneCount) {
    FrameTimer timer(FakeClock::source());
    timer.start();
    FakeClock::counts += std::int64_t{10'000'000} * 86'400 * 30;
    timer.tick();
    EXPECT_EQ(timer.now(), std::chrono::hours(24 * 30));
    FakeClock::counts += 1;
    timer.tick();
    EXPECT_EQ(timer.frame_time(), std::chrono::nanoseconds(100));
}

TEST_F(FrameTimerTest, RestartMeasuresFromTheNewStart) {
    FrameTimer timer(FakeClock::source());
    timer.start();
    FakeClock::counts += 30'000'000;
    timer.tick();
    timer.start();
    EXPECT_EQ(timer.frame_time(), SessionTime{0});
    EXPECT_EQ(timer.now(), SessionTime{0});
    FakeClock::counts += 1'000'000;
    timer.tick();
    EXPECT_EQ(timer.frame_time(), std::chrono::milliseconds(100));
}

TEST_F(FrameTimerTest, FallsBackToMillisecondsWithoutACounter) {
    FakeClock::counter_works = false;
    FrameTimer timer(FakeClock::source());
    EXPECT_EQ(timer.counts_per_second(), 1000);
    timer.start();
    FakeClock::millis += 250;
    EXPECT_DOUBLE_EQ(timer.elapsed(), 0.25);
}

TEST(MonotonicClock, ElapsedIsSmallAndNonNegativeAfterStart) {
    FrameTimer timer;
    timer.start();
    const double first = timer.elapsed();
    EXPECT_GE(first, 0.0);
    EXPECT_LT(first, 5.0);
    EXPECT_GE(timer.elapsed(), first);
}

}  // namespace
}  // namespace tw
