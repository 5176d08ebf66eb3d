// Search for a connected camera that offers every stream the vision module needs.
#pragma once

#include <librealsense2/rs.hpp>

#include <string>
#include <vector>

namespace visionmod {

// True when one connected device offers every stream type in `stream_requests`; `out_serial`
// then holds its serial number. Otherwise each stream type no device offers is named on standard
// error, and a type this module has no message for throws std::runtime_error.
bool device_with_streams(std::vector<rs2_stream> stream_requests, std::string& out_serial);

}  // namespace visionmod
