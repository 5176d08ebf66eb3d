// The record through which the request server hands work to vision and scales and gets results.
//
// Protocol: the requester stores false into a completion flag and polls it; the worker, finding
// it false, writes the results and only then stores true (release). The requester reads the
// results after it has seen true (acquire). Results are atomics too, because a requester that
// gave up waiting reads them while a late worker may still be writing.
#pragma once

#include <atomic>

#include "Singleton.h"

class Measurement : public Singleton<Measurement> {
  public:
    static Measurement* getInstance();

    std::atomic<bool> is_scales_calibrated{false};
    std::atomic<bool> is_calibrated{false};
    std::atomic<bool> is_measured{false};
    std::atomic<bool> is_scaled{false};
    std::atomic<float> x{0};
    std::atomic<float> y{0};
    std::atomic<float> z{0};
    std::atomic<float> weight{0};
    std::atomic<bool> MEASURE_ERROR_HANDS_DETECTED{false};
    std::atomic<bool> MEASURE_ERROR_EMPTY_X{false};
    std::atomic<bool> MEASURE_ERROR_EMPTY_Y{false};
    std::atomic<bool> MEASURE_ERROR_EMPTY_Z{false};
    std::atomic<bool> MEASURE_ERROR_EMPTY_W{false};
    std::atomic<bool> SERVER_ERROR_NO_LIDAR{false};
    std::atomic<bool> SERVER_ERROR_NO_SCALES{false};

  private:
    Measurement() = default;
};
