#include "Documents.h"

#include <limits>

#include "NumberConversion.h"

namespace servermod {

namespace {

// Any JSON number, or a boolean as 0 or 1; every other type is the library's type error.
double NumberOf(const json& value) {
    if (value.is_boolean()) {
        return value.get<bool>() ? 1.0 : 0.0;
    }
    return value.get<double>();
}

int IntOf(const json& value) {
    return TruncateToInt(NumberOf(value));
}

// A number beyond the float range becomes an infinity on purpose (never an out-of-range
// conversion), which every range check refuses.
float FloatOf(const json& value) {
    const double number = NumberOf(value);
    if (number > std::numeric_limits<float>::max()) {
        return std::numeric_limits<float>::infinity();
    }
    if (number < -std::numeric_limits<float>::max()) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(number);
}

}  // namespace

json ParseRequest(const std::string& text) {
    return json::parse(text, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
}

std::string Serialise(const json& document) {
    return document.dump() + "\n";
}

void AddErrorMembers(json& document, const Measurement& record) {
    document["MEASURE_ERROR_HANDS_DETECTED"] = record.MEASURE_ERROR_HANDS_DETECTED.load();
    document["MEASURE_ERROR_EMPTY_X"] = record.MEASURE_ERROR_EMPTY_X.load();
    document["MEASURE_ERROR_EMPTY_Y"] = record.MEASURE_ERROR_EMPTY_Y.load();
    document["MEASURE_ERROR_EMPTY_Z"] = record.MEASURE_ERROR_EMPTY_Z.load();
    document["MEASURE_ERROR_EMPTY_W"] = record.MEASURE_ERROR_EMPTY_W.load();
    document["SERVER_ERROR_NO_LIDAR"] = record.SERVER_ERROR_NO_LIDAR.load();
    document["SERVER_ERROR_NO_SCALES"] = record.SERVER_ERROR_NO_SCALES.load();
}

void AddDimensions(json& document, const Measurement& record) {
    const float x = record.x.load();
    const float y = record.y.load();
    document["X"] = y < x ? y : x;
    document["Y"] = y < x ? x : y;
    document["Z"] = record.z.load();
}

void AddParameters(json& document, const ConfigurationStruct& parameters) {
    document["VISUAL_PRESET"] = parameters.VISUAL_PRESET;
    document["DIGITAL_GAIN"] = parameters.DIGITAL_GAIN;
    document["MIN_DEPTH"] = parameters.MIN_DEPTH;
    document["MAX_DEPTH"] = parameters.MAX_DEPTH;
    document["MIN_AREA"] = parameters.MIN_AREA;
    document["MAX_AREA"] = parameters.MAX_AREA;
    document["FOW_WIDTH"] = parameters.FOW_WIDTH;
    document["FOW_HEIGHT"] = parameters.FOW_HEIGHT;
    document["REGION_WIDTH"] = parameters.REGION_WIDTH;
    document["REGION_HEIGHT"] = parameters.REGION_HEIGHT;
    document["REGION_OFFSET_X"] = parameters.REGION_OFFSET_X;
    document["REGION_OFFSET_Y"] = parameters.REGION_OFFSET_Y;
    document["DRAW_SIZE"] = parameters.DRAW_SIZE;
}

bool HasAllParameters(const json& request) {
    for (const char* name : kParameterNames) {
        if (!request.contains(name)) {
            return false;
        }
    }
    return true;
}

void ReadParameters(const json& request, ConfigurationStruct& parameters) {
    parameters.VISUAL_PRESET = IntOf(request.at("VISUAL_PRESET"));
    parameters.DIGITAL_GAIN = IntOf(request.at("DIGITAL_GAIN"));
    parameters.MIN_DEPTH = FloatOf(request.at("MIN_DEPTH"));
    parameters.MAX_DEPTH = FloatOf(request.at("MAX_DEPTH"));
    parameters.MIN_AREA = FloatOf(request.at("MIN_AREA"));
    parameters.MAX_AREA = FloatOf(request.at("MAX_AREA"));
    parameters.FOW_WIDTH = FloatOf(request.at("FOW_WIDTH"));
    parameters.FOW_HEIGHT = FloatOf(request.at("FOW_HEIGHT"));
    parameters.REGION_WIDTH = FloatOf(request.at("REGION_WIDTH"));
    parameters.REGION_HEIGHT = FloatOf(request.at("REGION_HEIGHT"));
    parameters.REGION_OFFSET_X = IntOf(request.at("REGION_OFFSET_X"));
    parameters.REGION_OFFSET_Y = IntOf(request.at("REGION_OFFSET_Y"));
    parameters.DRAW_SIZE = request.at("DRAW_SIZE").get<bool>();
}

}  // namespace servermod
