#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

#include "Measurement.h"
#include "NumberConversion.h"

namespace {

// A worker that serves is_measured the way the vision loop does, while the requester clears the
// flag and reads the results the way the request server does. Every answer must carry the
// results written for it, never older ones; under ThreadSanitizer this also proves the flag
// shows the protocol is free of data races.
TEST(MeasurementProtocol, ResultsAreVisibleNoLaterThanTheirCompletionFlag) {
    Measurement* m = Measurement::getInstance();
    m->is_measured.store(true);
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        float served = 0;
        while (!stop.load()) {
            if (!m->is_measured.load(std::memory_order_acquire)) {
                served += 1;
                m->x = served;
                m->y = served * 2;
                m->z = served * 3;
                m->MEASURE_ERROR_EMPTY_Z = false;
                m->is_measured.store(true, std::memory_order_release);
            }
            std::this_thread::yield();
        }
    });

    for (int request = 1; request <= 500; ++request) {
        m->is_measured.store(false, std::memory_order_release);
        while (!m->is_measured.load(std::memory_order_acquire)) {
            std::this_thread::yield();
        }
        const float x = m->x;
        ASSERT_EQ(x, static_cast<float>(request));
        ASSERT_EQ(m->y, 2 * x);
        ASSERT_EQ(m->z, 3 * x);
    }
    stop = true;
    worker.join();
}

TEST(NumberConversion, TruncatesTowardZeroAndSaturates) {
    const struct {
        double in;
        int out;
    } cases[] = {
        {12.9, 12},
        {-3.7, -3},
        {0.0, 0},
        {1e12, std::numeric_limits<int>::max()},
        {-1e12, std::numeric_limits<int>::min()},
        {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<int>::min()},
        {std::numeric_limits<double>::infinity(), std::numeric_limits<int>::max()},
        {2147483647.0, std::numeric_limits<int>::max()},
        {-2147483648.5, std::numeric_limits<int>::min()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TruncateToInt(c.in), c.out) << c.in;
    }
}

}  // namespace
