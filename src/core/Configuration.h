// The thirteen measuring parameters, range-checked, shared between the request server and vision.
#pragma once

#include <mutex>
#include <utility>

enum ConfigurationEnum {
    VISUAL_PRESET = 0,
    DIGITAL_GAIN = 1,
    MIN_DEPTH = 2,
    MAX_DEPTH = 3,
    MIN_AREA = 4,
    MAX_AREA = 5,
    FOW_WIDTH = 6,
    FOW_HEIGHT = 7,
    REGION_WIDTH = 8,
    REGION_HEIGHT = 9,
    REGION_OFFSET_X = 10,
    REGION_OFFSET_Y = 11,
    DRAW_SIZE = 12,
};

struct ConfigurationStruct {
    int VISUAL_PRESET = 3;
    int DIGITAL_GAIN = 2;
    float MIN_DEPTH = 0.29f;
    float MAX_DEPTH = 16;
    float MIN_AREA = 100;
    // Deliberately outside its own accepted range: it stands until a client sets a whole set.
    float MAX_AREA = 200000000;
    float FOW_WIDTH = 65;
    float FOW_HEIGHT = 40;
    float REGION_WIDTH = 680;
    float REGION_HEIGHT = 550;
    int REGION_OFFSET_X = 0;
    int REGION_OFFSET_Y = 40;
    bool DRAW_SIZE = true;
};

class Configuration {
  public:
    static Configuration* getInstance();

    bool CheckParameterInt(ConfigurationEnum parameter, int value);
    bool CheckParameterFloat(ConfigurationEnum parameter, float value);

    ConfigurationStruct GetAll();
    // All thirteen values or none.
    bool SetAll(ConfigurationStruct config);

    int GetVisualPreset();
    std::pair<float, float> GetDepth();
    std::pair<float, float> GetArea();
    std::pair<float, float> GetFow();
    std::pair<float, float> GetRegion();
    std::pair<int, int> GetRegionOffset();
    bool GetDrawSize();

    // Both values or neither.
    bool SetDepth(std::pair<float, float> depth);
    bool SetRegion(std::pair<float, float> region);
    bool SetRegionOffset(std::pair<int, int> offset);

  private:
    Configuration() = default;

    // The server's thread replaces the set while vision reads it: a reader must never see a
    // half-applied SetAll or SetDepth.
    std::mutex lock;
    ConfigurationStruct currentConfig;
};
