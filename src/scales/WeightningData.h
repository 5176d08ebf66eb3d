// One decoded scales reply: settled flag, sign, magnitude and discreteness, plus the zero offset.
#pragma once

namespace scalesmod {

// Not locked: its owner makes decoding, zeroing and reading mutually exclusive.
class WeightningData {
  public:
    WeightningData();
    WeightningData(const WeightningData& other) = default;
    WeightningData& operator=(const WeightningData& other) = default;

    // Decodes the five bytes at `received`.
    void parse(unsigned char* received);
    // Kilograms of the last reply, or 0 when it is not settled.
    float countRealWeight();
    // Kilograms less the zero offset, or 0 when the last reply is not settled; logs one line.
    float getRealWeight();
    // Makes the current settled reading the zero; false when the last reply is not settled.
    bool setZero();

    bool WeightningFinished;
    float CalibrationDifference;
    int WeightsDiscreteness;
    bool WeightNegative;
    int SourceWeight;
    bool IsZeroIndication;
    bool IsWeightIndication;
};

}  // namespace scalesmod
