#include "Scales2.h"

#include <unistd.h>

#include "CoreParams.h"

namespace scalesmod {

namespace {

constexpr useconds_t kCyclePause = 100 * 1000;
constexpr float kDummyWeight = 1234567;

}  // namespace

Scales2::Scales2() : measurement(Measurement::getInstance()) {}

int Scales2::Run(bool disable_scales) {
    if (disable_scales) {
        return RunWithoutScales();
    }
    CoreParams* coreParams = CoreParams::getInstance();
    while (!coreParams->APPLICATION_STOP_REQUEST) {
        usleep(kCyclePause);
    }
    return 1;
}

int Scales2::RunWithoutScales() {
    CoreParams* coreParams = CoreParams::getInstance();
    while (!coreParams->APPLICATION_STOP_REQUEST) {
        // There is nothing to zero: confirming at once lets a calibration succeed without scales.
        if (!measurement->is_scales_calibrated.load(std::memory_order_acquire)) {
            measurement->is_scales_calibrated.store(true, std::memory_order_release);
        }
        if (!measurement->is_scaled.load(std::memory_order_acquire)) {
            measurement->weight = kDummyWeight;
            measurement->is_scaled.store(true, std::memory_order_release);
        }
        usleep(kCyclePause);
    }
    return 1;
}

}  // namespace scalesmod
