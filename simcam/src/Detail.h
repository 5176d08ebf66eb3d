// The objects behind the rs2 handles, and the one door through which the library reaches the
// handles' private parts.
#pragma once

#include <simcam/scene.h>
#include <librealsense2/rs.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace simcam::detail {

struct ProfileState {
    rs2_stream stream;
    int index;
    rs2_format format;
    int fps;
    rs2_intrinsics intrinsics;  // also holds the width and height
};

struct FrameState {
    enum class Kind { Video, Depth, Set };

    Kind kind = Kind::Video;
    std::shared_ptr<const ProfileState> profile;
    unsigned long long number = 0;
    double timestamp = 0;  // milliseconds
    int width = 0;
    int height = 0;
    int bytes_per_pixel = 0;
    double depth_units = 0;  // metres per Z16 unit
    std::vector<std::uint8_t> pixels;
    std::vector<rs2::frame> members;  // of a frame set
};

// The options of a sensor or a processing block, each with its range.
class OptionsState {
  public:
    struct Option {
        rs2_option id;
        const char* name;
        float min;
        float max;
        float value;
        bool read_only;
        bool whole_numbers;
    };

    OptionsState(std::vector<Option> options, std::optional<rs2_option> refused)
        : options_(std::move(options)), refused_(refused) {}

    bool Supports(rs2_option id) const;
    float Get(rs2_option id) const;
    void Set(rs2_option id, float value);

  private:
    const Option* Find(rs2_option id) const;
    Option* Find(rs2_option id);

    mutable std::mutex mutex_;
    std::vector<Option> options_;
    std::optional<rs2_option> refused_;
};

struct SensorState : OptionsState {
    SensorState(std::vector<Option> options, std::optional<rs2_option> refused,
                std::vector<rs2::stream_profile> profiles_)
        : OptionsState(std::move(options), refused), profiles(std::move(profiles_)) {}

    std::vector<rs2::stream_profile> profiles;  // the first of each stream type is its default
};

// A scene file as read at one moment, with the file's identity then.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;
    int error = 0;  // errno of a failed stat

    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

FileStamp StampOf(const std::string& path);

struct DeviceState {
    std::string name;
    std::optional<std::string> serial;
    std::vector<rs2::sensor> sensors;
    std::string scene_path;
    std::shared_ptr<const Scene> scene;  // as read when the device was found
    FileStamp scene_stamp;
};

struct ConfigState {
    struct Request {
        rs2_stream stream;
        int index;
        int width;
        int height;
        rs2_format format;
        int fps;
    };

    std::optional<std::string> serial;
    std::vector<Request> requests;
};

struct ActiveProfile {
    rs2::device device;
    std::vector<rs2::stream_profile> streams;
};

struct Access {
    [[noreturn]] static void Throw(const std::string& message, const std::string& function,
                                   const std::string& args, rs2_exception_type type) {
        throw rs2::error(message, function, args, type);
    }

    static rs2::stream_profile Profile(std::shared_ptr<const ProfileState> state) {
        return rs2::stream_profile(std::move(state));
    }
    static const std::shared_ptr<const ProfileState>& Shared(const rs2::stream_profile& profile) {
        return profile.state_;
    }

    static rs2::frame Frame(std::shared_ptr<FrameState> state) {
        return rs2::frame(std::move(state));
    }
    static const FrameState& State(const rs2::frame& frame) { return frame.State(); }
    static const FrameState* StateOrNull(const rs2::frame& frame) { return frame.state_.get(); }

    static rs2::sensor Sensor(const std::shared_ptr<SensorState>& state) {
        return rs2::sensor(state);
    }
    static rs2::device Device(std::shared_ptr<const DeviceState> state) {
        return rs2::device(std::move(state));
    }
    static const std::shared_ptr<const DeviceState>& State(const rs2::device& device) {
        return device.state_;
    }
    static rs2::device_list DeviceList(std::vector<rs2::device> devices) {
        return rs2::device_list(std::move(devices));
    }
    static const ConfigState& State(const rs2::config& config) { return *config.state_; }
    static rs2::pipeline_profile PipelineProfile(std::shared_ptr<const ActiveProfile> state) {
        return rs2::pipeline_profile(std::move(state));
    }
};

// "0x..." for the arguments of an error message.
std::string Address(const void* object);

// A new frame that shares the kind, profile, number and time of `model`.
std::shared_ptr<FrameState> FrameLike(const FrameState& model, FrameState::Kind kind,
                                      std::shared_ptr<const ProfileState> profile,
                                      int bytes_per_pixel);

// The devices that the scene named by the environment shows; none when no scene is named or the
// named one cannot be read (which is reported on standard error).
std::vector<rs2::device> Discover();

}  // namespace simcam::detail
