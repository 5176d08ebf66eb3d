// The JSON documents exchanged with the client: parsing requests, building and serialising
// responses and automeasure results, and the thirteen measuring parameters as members.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <string>

#include "Configuration.h"
#include "Measurement.h"

namespace servermod {

using json = nlohmann::json;

// The parameter members, in the order in which they are printed and converted.
inline constexpr std::array<const char*, 13> kParameterNames = {
    "VISUAL_PRESET",   "DIGITAL_GAIN",    "MIN_DEPTH",  "MAX_DEPTH",    "MIN_AREA",
    "MAX_AREA",        "FOW_WIDTH",       "FOW_HEIGHT", "REGION_WIDTH", "REGION_HEIGHT",
    "REGION_OFFSET_X", "REGION_OFFSET_Y", "DRAW_SIZE"};

// Strict: no comments, nothing but white space after the document. Throws the library's
// parse_error otherwise.
json ParseRequest(const std::string& text);

// One compact line, members in ascending byte order, followed by a line feed.
std::string Serialise(const json& document);

// The seven error members, copied from the record now.
void AddErrorMembers(json& document, const Measurement& record);

// "X" the smaller of the two sides, "Y" the other, "Z" the height.
void AddDimensions(json& document, const Measurement& record);

void AddParameters(json& document, const ConfigurationStruct& parameters);

// Presence only; the types are judged by ReadParameters.
bool HasAllParameters(const json& request);

// Converts the thirteen members into `parameters`, in the order of kParameterNames. A member of
// the wrong JSON type throws the library's type_error and leaves the later fields unchanged.
void ReadParameters(const json& request, ConfigurationStruct& parameters);

}  // namespace servermod
