#include "Configuration.h"

Configuration* Configuration::getInstance() {
    static Configuration instance;
    return &instance;
}

bool Configuration::CheckParameterInt(ConfigurationEnum parameter, int value) {
    switch (parameter) {
        case VISUAL_PRESET:
            return value >= 0 && value <= 6;
        case DIGITAL_GAIN:
            return value >= 0 && value <= 2;
        case REGION_OFFSET_X:
        case REGION_OFFSET_Y:
            return value >= -10000 && value <= 10000;
        default:
            return false;
    }
}

bool Configuration::CheckParameterFloat(ConfigurationEnum parameter, float value) {
    // Written so that a NaN fails every comparison and is refused.
    const auto within = [value](float low, float high) { return value >= low && value <= high; };
    switch (parameter) {
        case MIN_DEPTH:
        case MAX_DEPTH:
            return within(0, 200000);
        case MIN_AREA:
        case MAX_AREA:
            return within(10, 200000);
        case FOW_WIDTH:
        case FOW_HEIGHT:
            return within(0, 2000);
        case REGION_WIDTH:
            return within(10, 1920);
        case REGION_HEIGHT:
            return within(10, 1080);
        default:
            return false;
    }
}

ConfigurationStruct Configuration::GetAll() {
    std::lock_guard<std::mutex> guard(lock);
    return currentConfig;
}

bool Configuration::SetAll(ConfigurationStruct config) {
    const bool valid = CheckParameterInt(VISUAL_PRESET, config.VISUAL_PRESET) &&
                       CheckParameterInt(DIGITAL_GAIN, config.DIGITAL_GAIN) &&
                       CheckParameterInt(REGION_OFFSET_X, config.REGION_OFFSET_X) &&
                       CheckParameterInt(REGION_OFFSET_Y, config.REGION_OFFSET_Y) &&
                       CheckParameterFloat(MIN_DEPTH, config.MIN_DEPTH) &&
                       CheckParameterFloat(MAX_DEPTH, config.MAX_DEPTH) &&
                       CheckParameterFloat(MIN_AREA, config.MIN_AREA) &&
                       CheckParameterFloat(MAX_AREA, config.MAX_AREA) &&
                       CheckParameterFloat(FOW_WIDTH, config.FOW_WIDTH) &&
                       CheckParameterFloat(FOW_HEIGHT, config.FOW_HEIGHT) &&
                       CheckParameterFloat(REGION_WIDTH, config.REGION_WIDTH) &&
                       CheckParameterFloat(REGION_HEIGHT, config.REGION_HEIGHT);
    if (!valid) {
        return false;
    }
    std::lock_guard<std::mutex> guard(lock);
    currentConfig = config;
    return true;
}

int Configuration::GetVisualPreset() {
    std::lock_guard<std::mutex> guard(lock);
    return currentConfig.VISUAL_PRESET;
}

std::pair<float, float> Configuration::GetDepth() {
    std::lock_guard<std::mutex> guard(lock);
    return {currentConfig.MIN_DEPTH, currentConfig.MAX_DEPTH};
}

std::pair<float, float> Configuration::GetArea() {
    std::lock_guard<std::mutex> guard(lock);
    return {currentConfig.MIN_AREA, currentConfig.MAX_AREA};
}

std::pair<float, float> Configuration::GetFow() {
    std::lock_guard<std::mutex> guard(lock);
    return {currentConfig.FOW_WIDTH, currentConfig.FOW_HEIGHT};
}

std::pair<float, float> Configuration::GetRegion() {
    std::lock_guard<std::mutex> guard(lock);
    return {currentConfig.REGION_WIDTH, currentConfig.REGION_HEIGHT};
}

std::pair<int, int> Configuration::GetRegionOffset() {
    std::lock_guard<std::mutex> guard(lock);
    return {currentConfig.REGION_OFFSET_X, currentConfig.REGION_OFFSET_Y};
}

bool Configuration::GetDrawSize() {
    std::lock_guard<std::mutex> guard(lock);
    return currentConfig.DRAW_SIZE;
}

bool Configuration::SetDepth(std::pair<float, float> depth) {
    if (!CheckParameterFloat(MIN_DEPTH, depth.first) ||
        !CheckParameterFloat(MAX_DEPTH, depth.second)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(lock);
    currentConfig.MIN_DEPTH = depth.first;
    currentConfig.MAX_DEPTH = depth.second;
    return true;
}

bool Configuration::SetRegion(std::pair<float, float> region) {
    if (!CheckParameterFloat(REGION_WIDTH, region.first) ||
        !CheckParameterFloat(REGION_HEIGHT, region.second)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(lock);
    currentConfig.REGION_WIDTH = region.first;
    currentConfig.REGION_HEIGHT = region.second;
    return true;
}

bool Configuration::SetRegionOffset(std::pair<int, int> offset) {
    if (!CheckParameterInt(REGION_OFFSET_X, offset.first) ||
        !CheckParameterInt(REGION_OFFSET_Y, offset.second)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(lock);
    currentConfig.REGION_OFFSET_X = offset.first;
    currentConfig.REGION_OFFSET_Y = offset.second;
    return true;
}
