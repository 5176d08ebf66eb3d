#include "device_with_streams.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <stdexcept>

namespace visionmod {

bool device_with_streams(std::vector<rs2_stream> stream_requests, std::string& out_serial) {
    rs2::context ctx;
    rs2::device_list devices = ctx.query_devices();
    std::vector<rs2_stream> unavailable_streams = stream_requests;
    for (rs2::device device : devices) {
        std::map<rs2_stream, bool> found_streams;
        for (rs2_stream type : stream_requests) {
            found_streams[type] = false;
            for (const rs2::sensor& sensor : device.query_sensors()) {
                for (const rs2::stream_profile& profile : sensor.get_stream_profiles()) {
                    if (profile.stream_type() != type) {
                        continue;
                    }
                    found_streams[type] = true;
                    unavailable_streams.erase(
                        std::remove(unavailable_streams.begin(), unavailable_streams.end(), type),
                        unavailable_streams.end());
                    if (device.supports(RS2_CAMERA_INFO_SERIAL_NUMBER)) {
                        out_serial = device.get_info(RS2_CAMERA_INFO_SERIAL_NUMBER);
                    }
                }
            }
        }
        const bool all_found = std::all_of(found_streams.begin(), found_streams.end(),
                                           [](const auto& entry) { return entry.second; });
        if (all_found) {
            return true;
        }
    }

    for (rs2_stream type : unavailable_streams) {
        switch (type) {
            case RS2_STREAM_DEPTH:
                std::cerr << "The demo requires Realsense camera with DEPTH sensor" << std::endl;
                break;
            case RS2_STREAM_COLOR:
                std::cerr << "The demo requires Realsense camera with RGB sensor" << std::endl;
                break;
            case RS2_STREAM_FISHEYE:
            case RS2_STREAM_POSE:
                std::cerr << "Connect T26X and rerun the demo" << std::endl;
                break;
            default:
                throw std::runtime_error(
                    "The requested stream: " + std::to_string(static_cast<int>(type)) +
                    ", for the demo is not supported by connected devices!");
        }
    }
    return false;
}

}  // namespace visionmod
