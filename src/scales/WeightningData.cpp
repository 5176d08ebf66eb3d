#include "WeightningData.h"

#include <iostream>
#include <sstream>

namespace scalesmod {

namespace {

constexpr unsigned char kFinishedBit = 0x80;
constexpr unsigned char kZeroIndicationBit = 0x40;
constexpr unsigned char kWeightIndicationBit = 0x20;
constexpr unsigned char kSignBit = 0x80;

// The discreteness code names the power of ten that turns the count into kilograms; codes
// the scales do not define leave the count undivided.
float Divisor(int discreteness) {
    switch (discreteness) {
        case 0:
            return 1000;
        case 1:
            return 10000;
        case 4:
            return 100;
        case 5:
        case 6:
            return 10;
        default:
            return 1;
    }
}

}  // namespace

WeightningData::WeightningData()
    : WeightningFinished(false),
      CalibrationDifference(0),
      WeightsDiscreteness(0),
      WeightNegative(false),
      SourceWeight(0),
      IsZeroIndication(false),
      IsWeightIndication(false) {}

void WeightningData::parse(unsigned char* received) {
    WeightningFinished = (received[0] & kFinishedBit) != 0;
    IsZeroIndication = (received[0] & kZeroIndicationBit) != 0;
    IsWeightIndication = (received[0] & kWeightIndicationBit) != 0;
    if (received[2] == 0 && received[3] == 0 && received[4] == 0) {
        // A zero weight carries no meaningful discreteness code: the last one is kept.
        WeightNegative = false;
        SourceWeight = 0;
        return;
    }
    WeightNegative = (received[4] & kSignBit) != 0;
    WeightsDiscreteness = received[1];
    SourceWeight = received[2] + 256 * received[3] + 65536 * (received[4] & ~kSignBit);
}

float WeightningData::countRealWeight() {
    if (!WeightningFinished) {
        return 0;
    }
    float weight = static_cast<float>(SourceWeight);
    if (WeightNegative) {
        weight = -weight;
    }
    return weight / Divisor(WeightsDiscreteness);
}

float WeightningData::getRealWeight() {
    if (!WeightningFinished) {
        return 0;
    }
    const float weight = countRealWeight();
    std::ostringstream line;
    line << "Scales real weight: " << weight << " with calibration: " << CalibrationDifference;
    std::cout << line.str() << std::endl;
    return weight - CalibrationDifference;
}

bool WeightningData::setZero() {
    if (!WeightningFinished) {
        return false;
    }
    const float weight = countRealWeight();
    CalibrationDifference = weight;
    std::ostringstream line;
    line << "Calibrating scales with new coeff: " << CalibrationDifference << " on weight "
         << weight;
    std::cout << line.str() << std::endl;
    return true;
}

}  // namespace scalesmod
