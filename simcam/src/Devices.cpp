// Device discovery, stream configuration and the pipeline that delivers the simulated camera's
// frame sets in real time.
#include "Detail.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace simcam::detail {

namespace {

constexpr int kStreamIndex = 0;
constexpr double kDepthUnits = 0.001;

std::shared_ptr<const ProfileState> MakeProfile(rs2_stream stream, rs2_format format,
                                                const rs2_intrinsics& intrinsics) {
    return std::make_shared<ProfileState>(
        ProfileState{stream, kStreamIndex, format, kFramesPerSecond, intrinsics});
}

rs2::sensor DepthSensor(const Scene& scene) {
    return Access::Sensor(std::make_shared<SensorState>(
        std::vector<OptionsState::Option>{
            {RS2_OPTION_VISUAL_PRESET, "Visual Preset", 0.f, 6.f, 0.f, false, true},
            {RS2_OPTION_DEPTH_UNITS, "Depth Units", 0.001f, 0.001f, 0.001f, true, false}},
        scene.faults.refuse_option,
        std::vector<rs2::stream_profile>{
            Access::Profile(MakeProfile(RS2_STREAM_DEPTH, RS2_FORMAT_Z16, scene.depth))}));
}

// BGR first: it is the default profile, and the order OpenCV expects of three-byte pixels.
rs2::sensor ColorSensor(const Scene& scene) {
    return Access::Sensor(std::make_shared<SensorState>(
        std::vector<OptionsState::Option>{}, scene.faults.refuse_option,
        std::vector<rs2::stream_profile>{
            Access::Profile(MakeProfile(RS2_STREAM_COLOR, RS2_FORMAT_BGR8, scene.color)),
            Access::Profile(MakeProfile(RS2_STREAM_COLOR, RS2_FORMAT_RGB8, scene.color))}));
}

rs2::device MakeDevice(const std::string& path, const std::shared_ptr<const Scene>& scene,
                       const FileStamp& stamp, const std::string& serial, bool depth, bool color) {
    auto state = std::make_shared<DeviceState>();
    state->name = "Simulated RealSense D400";
    if (scene->faults.serial) {
        state->serial = serial;
    }
    if (depth) {
        state->sensors.push_back(DepthSensor(*scene));
    }
    if (color) {
        state->sensors.push_back(ColorSensor(*scene));
    }
    state->scene_path = path;
    state->scene = scene;
    state->scene_stamp = stamp;
    return Access::Device(std::move(state));
}

std::int64_t Nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

bool Matches(const ConfigState::Request& request, const rs2::stream_profile& profile) {
    const auto video = profile.as<rs2::video_stream_profile>();
    return profile.stream_type() == request.stream &&
           (request.index == -1 || request.index == profile.stream_index()) &&
           (request.width == 0 || request.width == video.width()) &&
           (request.height == 0 || request.height == video.height()) &&
           (request.format == RS2_FORMAT_ANY || request.format == profile.format()) &&
           (request.fps == 0 || request.fps == profile.fps());
}

// The profiles of `device` that satisfy every request (each stream's default when nothing is
// requested), or nothing.
std::optional<std::vector<rs2::stream_profile>> Resolve(const rs2::device& device,
                                                        const ConfigState& config) {
    std::vector<ConfigState::Request> requests = config.requests;
    if (requests.empty()) {
        for (const rs2::sensor& sensor : device.query_sensors()) {
            requests.push_back(
                {sensor.get_stream_profiles().front().stream_type(), -1, 0, 0, RS2_FORMAT_ANY, 0});
        }
    }
    std::vector<rs2::stream_profile> chosen;
    for (const ConfigState::Request& request : requests) {
        std::optional<rs2::stream_profile> found;
        for (const rs2::sensor& sensor : device.query_sensors()) {
            for (const rs2::stream_profile& profile : sensor.get_stream_profiles()) {
                if (!found && Matches(request, profile)) {
                    found = profile;
                }
            }
        }
        if (!found) {
            return std::nullopt;
        }
        chosen.push_back(*found);
    }
    return chosen;
}

}  // namespace

bool FileStamp::operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified_ns == other.modified_ns && changed_ns == other.changed_ns &&
           error == other.error;
}

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        stamp.error = errno;
        return stamp;
    }
    stamp.device = status.st_dev;
    stamp.inode = status.st_ino;
    stamp.size = status.st_size;
    stamp.modified_ns = Nanoseconds(status.st_mtim);
    stamp.changed_ns = Nanoseconds(status.st_ctim);
    return stamp;
}

std::vector<rs2::device> Discover() {
    const char* variable = std::getenv(kSceneVariable);
    if (variable == nullptr || *variable == '\0') {
        return {};
    }
    const std::string path = variable;
    const FileStamp stamp = StampOf(path);
    std::shared_ptr<const Scene> scene;
    try {
        scene = std::make_shared<const Scene>(LoadScene(path));
    } catch (const SceneError& e) {
        std::cerr << std::string("simcam: no camera connected: ") + e.what() + "\n" << std::flush;
        return {};
    }
    const std::string& serial = scene->serial_number;
    switch (scene->faults.devices) {
        case DeviceSetup::D400:
            return {MakeDevice(path, scene, stamp, serial, true, true)};
        case DeviceSetup::DepthOnly:
            return {MakeDevice(path, scene, stamp, serial, true, false)};
        case DeviceSetup::Split:
            return {MakeDevice(path, scene, stamp, serial, true, false),
                    MakeDevice(path, scene, stamp, serial + "-COLOR", false, true)};
        case DeviceSetup::None:
            break;
    }
    return {};
}

// The state behind a pipeline: the running session, if any, and the scene it renders, which
// is read again whenever the file changes.
class PipelineState {
  public:
    explicit PipelineState(rs2::context context) : context_(std::move(context)) {}

    rs2::pipeline_profile Start(const ConfigState& config);
    rs2::frameset Wait(unsigned int timeout_ms);
    void Stop();

  private:
    using Clock = std::chrono::steady_clock;

    struct Session {
        std::shared_ptr<const ActiveProfile> profile;
        std::shared_ptr<const DeviceState> device;
        std::shared_ptr<const Scene> scene;
        FileStamp loaded;
        FileStamp refused;
        Clock::time_point start;
        double start_ms = 0;  // system time of the start, for frame time stamps
        long long last_index = -1;
        unsigned long long delivered = 0;
        // The pixels of each stream as last rendered from `cached_scene`; a scene that has not
        // changed looks the same in the next frame set, unless its depth is noisy.
        std::shared_ptr<const Scene> cached_scene;
        std::vector<std::vector<std::uint8_t>> cached_pixels;
    };

    void Refresh(Session& session);
    rs2::frameset Render(Session& session, long long index);
    [[noreturn]] void TimedOut(unsigned int timeout_ms) const;

    const rs2::context context_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    std::optional<Session> session_;
    unsigned long long generation_ = 0;
};

rs2::pipeline_profile PipelineState::Start(const ConfigState& config) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string args = "pipe:" + Address(this) + ", config:" + Address(&config);
    if (session_) {
        Access::Throw("start() cannot be called before stop()", "rs2_pipeline_start_with_config",
                      args, RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE);
    }
    const rs2::device_list devices = context_.query_devices();
    if (devices.size() == 0) {
        Access::Throw("No device connected", "rs2_pipeline_start_with_config", args,
                      RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED);
    }
    for (const rs2::device& device : devices) {
        const auto& state = Access::State(device);
        if (config.serial && state->serial != config.serial) {
            continue;
        }
        std::optional<std::vector<rs2::stream_profile>> streams = Resolve(device, config);
        if (!streams) {
            continue;
        }
        Session session;
        session.profile = std::make_shared<const ActiveProfile>(ActiveProfile{device, *streams});
        session.device = state;
        session.scene = state->scene;
        session.loaded = state->scene_stamp;
        session.start = Clock::now();
        session.start_ms = std::chrono::duration<double, std::milli>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
        session_ = std::move(session);
        ++generation_;
        return Access::PipelineProfile(session_->profile);
    }
    Access::Throw("Couldn't resolve requests", "rs2_pipeline_start_with_config", args,
                  RS2_EXCEPTION_TYPE_INVALID_VALUE);
}

void PipelineState::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!session_) {
            Access::Throw("stop() cannot be called before start()", "rs2_pipeline_stop",
                          "pipe:" + Address(this), RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE);
        }
        session_.reset();
        ++generation_;
    }
    stopped_.notify_all();
}

void PipelineState::TimedOut(unsigned int timeout_ms) const {
    Access::Throw("Frame didn't arrive within " + std::to_string(timeout_ms),
                  "rs2_pipeline_wait_for_frames",
                  "pipe:" + Address(this) + ", timeout_ms:" + std::to_string(timeout_ms),
                  RS2_EXCEPTION_TYPE_UNKNOWN);
}

// Runs once per frame set; a stat is all it costs while the file stays as it is.
void PipelineState::Refresh(Session& session) {
    const FileStamp stamp = StampOf(session.device->scene_path);
    if (stamp == session.loaded || stamp == session.refused) {
        return;
    }
    try {
        session.scene = std::make_shared<const Scene>(LoadScene(session.device->scene_path));
        session.loaded = stamp;
    } catch (const SceneError& e) {
        session.refused = stamp;
        std::cerr << std::string("simcam: keeping the previous scene: ") + e.what() + "\n"
                  << std::flush;
    }
}

rs2::frameset PipelineState::Wait(unsigned int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!session_) {
        Access::Throw("wait_for_frames cannot be called before start()",
                      "rs2_pipeline_wait_for_frames",
                      "pipe:" + Address(this) + ", timeout_ms:" + std::to_string(timeout_ms),
                      RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE);
    }
    const unsigned long long generation = generation_;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const auto interrupted = [&] { return generation_ != generation; };
    const auto period = std::chrono::nanoseconds(1000000000 / kFramesPerSecond);
    Refresh(*session_);
    for (;;) {
        Session& session = *session_;
        const auto& stop_after = session.scene->faults.stop_after_framesets;
        const bool exhausted = stop_after && session.delivered >= *stop_after;
        // Frame sets come out at start + k periods; a late caller gets the newest one.
        const long long newest = (Clock::now() - session.start) / period;
        const long long index = std::max(session.last_index + 1, newest);
        const auto due = session.start + index * period;
        if (exhausted || due > deadline) {
            if (!stopped_.wait_until(lock, deadline, interrupted)) {
                TimedOut(timeout_ms);
            }
        } else if (due <= Clock::now()) {
            session.last_index = index;
            ++session.delivered;
            return Render(session, index);
        } else {
            stopped_.wait_until(lock, due, interrupted);
        }
        if (interrupted()) {
            Access::Throw("the pipeline was stopped while waiting for frames",
                          "rs2_pipeline_wait_for_frames",
                          "pipe:" + Address(this) + ", timeout_ms:" + std::to_string(timeout_ms),
                          RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE);
        }
    }
}

rs2::frameset PipelineState::Render(Session& session, long long index) {
    auto set = std::make_shared<FrameState>();
    set->kind = FrameState::Kind::Set;
    const auto number = static_cast<unsigned long long>(index) + 1;
    const double timestamp = session.start_ms + static_cast<double>(index) * 1000.0 /
                                                    static_cast<double>(kFramesPerSecond);
    const auto& streams = session.profile->streams;
    if (session.cached_scene != session.scene) {
        session.cached_scene = session.scene;
        session.cached_pixels.assign(streams.size(), {});
    }
    for (size_t i = 0; i < streams.size(); ++i) {
        const auto& profile_state = Access::Shared(streams[i]);
        const bool depth = profile_state->stream == RS2_STREAM_DEPTH;
        auto frame = std::make_shared<FrameState>();
        frame->kind = depth ? FrameState::Kind::Depth : FrameState::Kind::Video;
        frame->profile = profile_state;
        frame->number = number;
        frame->timestamp = timestamp;
        frame->width = profile_state->intrinsics.width;
        frame->height = profile_state->intrinsics.height;
        frame->bytes_per_pixel = depth ? 2 : 3;
        frame->depth_units = depth ? kDepthUnits : 0;
        std::vector<std::uint8_t>& cached = session.cached_pixels[i];
        if (!cached.empty()) {
            frame->pixels = cached;
        } else {
            frame->pixels.resize(static_cast<size_t>(frame->width) *
                                 static_cast<size_t>(frame->height) *
                                 static_cast<size_t>(frame->bytes_per_pixel));
            if (depth) {
                RenderDepth(*session.scene, profile_state->intrinsics, number,
                            reinterpret_cast<std::uint16_t*>(frame->pixels.data()));
            } else {
                RenderColor(*session.scene, profile_state->intrinsics, profile_state->format,
                            frame->pixels.data());
            }
            if (!depth || session.scene->noise_at_1m == 0) {
                cached = frame->pixels;
            }
        }
        set->members.push_back(Access::Frame(std::move(frame)));
    }
    return rs2::frameset(Access::Frame(std::move(set)));
}

}  // namespace simcam::detail

namespace rs2 {

using simcam::detail::Access;

// Sensors and devices.

sensor::sensor(const std::shared_ptr<simcam::detail::SensorState>& state)
    : options(state), sensor_(state) {}

std::vector<stream_profile> sensor::get_stream_profiles() const {
    return sensor_->profiles;
}

device::device(std::shared_ptr<const simcam::detail::DeviceState> state)
    : state_(std::move(state)) {}

std::vector<sensor> device::query_sensors() const {
    return state_->sensors;
}

bool device::supports(rs2_camera_info info) const {
    return info == RS2_CAMERA_INFO_NAME ||
           (info == RS2_CAMERA_INFO_SERIAL_NUMBER && state_->serial);
}

const char* device::get_info(rs2_camera_info info) const {
    if (info == RS2_CAMERA_INFO_NAME) {
        return state_->name.c_str();
    }
    if (info == RS2_CAMERA_INFO_SERIAL_NUMBER && state_->serial) {
        return state_->serial->c_str();
    }
    Access::Throw(
        "object doesn't support camera info #" + std::to_string(info), "rs2_get_device_info",
        "device:" + simcam::detail::Address(state_.get()) + ", info:" + std::to_string(info),
        RS2_EXCEPTION_TYPE_INVALID_VALUE);
}

device_list::device_list(std::vector<device> devices)
    : devices_(std::make_shared<const std::vector<device>>(std::move(devices))) {}

uint32_t device_list::size() const {
    return static_cast<uint32_t>(devices_->size());
}

device device_list::operator[](uint32_t index) const {
    if (index >= devices_->size()) {
        Access::Throw("device index " + std::to_string(index) + " is out of range",
                      "rs2_create_device",
                      "info_list:" + simcam::detail::Address(devices_.get()) +
                          ", index:" + std::to_string(index),
                      RS2_EXCEPTION_TYPE_INVALID_VALUE);
    }
    return (*devices_)[index];
}

device_list context::query_devices() const {
    return Access::DeviceList(simcam::detail::Discover());
}

// Configuration and pipeline.

config::config() : state_(std::make_shared<simcam::detail::ConfigState>()) {}

void config::enable_device(const std::string& serial) {
    state_->serial = serial;
}

void config::enable_stream(rs2_stream stream_type, int stream_index) {
    enable_stream(stream_type, 0, 0, RS2_FORMAT_ANY, 0);
    state_->requests.back().index = stream_index;
}

void config::enable_stream(rs2_stream stream_type, int width, int height, rs2_format format,
                           int framerate) {
    auto& requests = state_->requests;
    requests.erase(
        std::remove_if(requests.begin(), requests.end(),
                       [&](const auto& request) { return request.stream == stream_type; }),
        requests.end());
    requests.push_back({stream_type, -1, width, height, format, framerate});
}

pipeline_profile::pipeline_profile(std::shared_ptr<const simcam::detail::ActiveProfile> state)
    : state_(std::move(state)) {}

device pipeline_profile::get_device() const {
    return state_->device;
}

stream_profile pipeline_profile::get_stream(rs2_stream stream_type, int stream_index) const {
    for (const stream_profile& profile : state_->streams) {
        if (profile.stream_type() == stream_type &&
            (stream_index == -1 || stream_index == profile.stream_index())) {
            return profile;
        }
    }
    Access::Throw("Profile not found!", "rs2_pipeline_profile_get_stream",
                  "profile:" + simcam::detail::Address(state_.get()) + ", stream:" +
                      std::to_string(stream_type) + ", index:" + std::to_string(stream_index),
                  RS2_EXCEPTION_TYPE_INVALID_VALUE);
}

pipeline::pipeline(context ctx)
    : state_(std::make_shared<simcam::detail::PipelineState>(std::move(ctx))) {}

pipeline_profile pipeline::start(const config& config) {
    return state_->Start(Access::State(config));
}

frameset pipeline::wait_for_frames(unsigned int timeout_ms) const {
    return state_->Wait(timeout_ms);
}

void pipeline::stop() {
    state_->Stop();
}

}  // namespace rs2
