#include "Scales2.h"

#include <unistd.h>

#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "CoreParams.h"
#include "WeightWorker.h"

namespace scalesmod {

namespace {

constexpr useconds_t kCyclePause = 100 * 1000;
constexpr float kDummyWeight = 1234567;
constexpr int kScalesPort = 24;
constexpr float kGramsPerKilogram = 1000;
constexpr float kLightestWeight = 1;

}  // namespace

Scales2::Scales2() : measurement(Measurement::getInstance()) {}

int Scales2::Run(bool disable_scales) {
    if (disable_scales) {
        return RunWithoutScales();
    }
    CoreParams* coreParams = CoreParams::getInstance();
    WeightWorker worker;
    if (!worker.init(kScalesPort)) {
        std::cout << "SCALES2: Unable to open com port. Scales module can't work. Please restart "
                     "core."
                  << std::endl;
        measurement->SERVER_ERROR_NO_SCALES = true;
        return 1;
    }
    try {
        while (!coreParams->APPLICATION_STOP_REQUEST) {
            // Confirmed before the zeroing has happened: the reader zeroes on its next settled
            // reading.
            if (!measurement->is_scales_calibrated.load(std::memory_order_acquire)) {
                worker.setCalibrate(true);
                measurement->is_scales_calibrated.store(true, std::memory_order_release);
            }
            if (!measurement->is_scaled.load(std::memory_order_acquire)) {
                const float realWeight = worker.getWeightningData().getRealWeight();
                float grams = realWeight * kGramsPerKilogram;
                std::ostringstream line;
                line << "SCALES2: RealWeight = " << realWeight;
                std::cout << line.str() << std::endl;
                // Under a gram, negative readings included, the platform counts as empty.
                if (grams < kLightestWeight) {
                    grams = 0;
                }
                measurement->weight = grams;
                measurement->MEASURE_ERROR_EMPTY_W = grams == 0;
                measurement->is_scaled.store(true, std::memory_order_release);
                usleep(kCyclePause);
            }
            usleep(kCyclePause);
        }
    } catch (const std::exception& error) {
        std::cout << std::string("SCALES2: Stopping on error: ") + error.what() << std::endl;
        coreParams->APPLICATION_STOP_REQUEST = true;
        measurement->SERVER_ERROR_NO_SCALES = true;
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
