// The camera SDK's C++ API, as far as the vision module uses it, served by the simulated camera.
// Every class is a handle: copies share the object behind them, as in the vendor's SDK.
#pragma once

#include <librealsense2/rs.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace simcam::detail {
struct Access;
struct ProfileState;
struct FrameState;
class OptionsState;
struct SensorState;
struct DeviceState;
struct ConfigState;
struct ActiveProfile;
class PipelineState;
}  // namespace simcam::detail

namespace rs2 {

// The only exception the library throws.
class error : public std::runtime_error {
  public:
    const std::string& get_failed_function() const { return function_; }
    const std::string& get_failed_args() const { return args_; }
    rs2_exception_type get_type() const { return type_; }

  private:
    friend struct simcam::detail::Access;
    error(const std::string& message, std::string function, std::string args,
          rs2_exception_type type);

    std::string function_;
    std::string args_;
    rs2_exception_type type_;
};

class stream_profile {
  public:
    rs2_stream stream_type() const;
    int stream_index() const;
    rs2_format format() const;
    int fps() const;

    template <class T>
    bool is() const;
    template <class T>
    T as() const {
        return T(*this);
    }

  protected:
    friend struct simcam::detail::Access;
    explicit stream_profile(std::shared_ptr<const simcam::detail::ProfileState> state);
    const simcam::detail::ProfileState& State() const;

    std::shared_ptr<const simcam::detail::ProfileState> state_;
};

class video_stream_profile : public stream_profile {
  public:
    explicit video_stream_profile(const stream_profile& profile);

    int width() const;
    int height() const;
    rs2_intrinsics get_intrinsics() const;
};

template <>
bool stream_profile::is<stream_profile>() const;
template <>
bool stream_profile::is<video_stream_profile>() const;

class frame {
  public:
    frame() = default;

    explicit operator bool() const { return state_ != nullptr; }
    const void* get_data() const;
    stream_profile get_profile() const;
    unsigned long long get_frame_number() const;
    double get_timestamp() const;

    template <class T>
    bool is() const;
    template <class T>
    T as() const {
        return T(*this);
    }

  protected:
    friend struct simcam::detail::Access;
    explicit frame(std::shared_ptr<simcam::detail::FrameState> state);
    const simcam::detail::FrameState& State() const;

    std::shared_ptr<simcam::detail::FrameState> state_;
};

// Converting from a frame of another kind gives an empty frame.
class video_frame : public frame {
  public:
    video_frame(const frame& f);

    int get_width() const;
    int get_height() const;
    int get_stride_in_bytes() const;
    int get_bits_per_pixel() const;
    int get_bytes_per_pixel() const;
};

class depth_frame : public video_frame {
  public:
    depth_frame(const frame& f);

    // Metres; 0 where the camera has no depth.
    float get_distance(int x, int y) const;
};

class frameset : public frame {
  public:
    frameset() = default;
    frameset(const frame& f);

    depth_frame get_depth_frame() const;
    video_frame get_color_frame() const;
    size_t size() const;
    frame first_or_default(rs2_stream s) const;
};

template <>
bool frame::is<frame>() const;
template <>
bool frame::is<video_frame>() const;
template <>
bool frame::is<depth_frame>() const;
template <>
bool frame::is<frameset>() const;

class options {
  public:
    void set_option(rs2_option option, float value) const;
    float get_option(rs2_option option) const;
    bool supports(rs2_option option) const;

  protected:
    friend struct simcam::detail::Access;
    explicit options(std::shared_ptr<simcam::detail::OptionsState> state);

    std::shared_ptr<simcam::detail::OptionsState> options_;
};

class sensor : public options {
  public:
    std::vector<stream_profile> get_stream_profiles() const;

  private:
    friend struct simcam::detail::Access;
    explicit sensor(const std::shared_ptr<simcam::detail::SensorState>& state);

    std::shared_ptr<const simcam::detail::SensorState> sensor_;
};

class device {
  public:
    std::vector<sensor> query_sensors() const;
    bool supports(rs2_camera_info info) const;
    const char* get_info(rs2_camera_info info) const;

  private:
    friend struct simcam::detail::Access;
    explicit device(std::shared_ptr<const simcam::detail::DeviceState> state);

    std::shared_ptr<const simcam::detail::DeviceState> state_;
};

class device_list {
  public:
    class device_list_iterator {
      public:
        device operator*() const { return (*list_)[index_]; }
        device_list_iterator& operator++() {
            ++index_;
            return *this;
        }
        bool operator==(const device_list_iterator& other) const {
            return list_ == other.list_ && index_ == other.index_;
        }
        bool operator!=(const device_list_iterator& other) const { return !(*this == other); }

      private:
        friend class device_list;
        device_list_iterator(const device_list* list, uint32_t index)
            : list_(list), index_(index) {}

        const device_list* list_;
        uint32_t index_;
    };

    uint32_t size() const;
    device operator[](uint32_t index) const;
    device_list_iterator begin() const { return device_list_iterator(this, 0); }
    device_list_iterator end() const { return device_list_iterator(this, size()); }

  private:
    friend struct simcam::detail::Access;
    explicit device_list(std::vector<device> devices);

    std::shared_ptr<const std::vector<device>> devices_;
};

class context {
  public:
    context() = default;

    device_list query_devices() const;
};

class config {
  public:
    config();

    void enable_device(const std::string& serial);
    void enable_stream(rs2_stream stream_type, int stream_index = -1);
    void enable_stream(rs2_stream stream_type, int width, int height,
                       rs2_format format = RS2_FORMAT_ANY, int framerate = 0);

  private:
    friend struct simcam::detail::Access;
    std::shared_ptr<simcam::detail::ConfigState> state_;
};

class pipeline_profile {
  public:
    device get_device() const;
    stream_profile get_stream(rs2_stream stream_type, int stream_index = -1) const;

  private:
    friend struct simcam::detail::Access;
    explicit pipeline_profile(std::shared_ptr<const simcam::detail::ActiveProfile> state);

    std::shared_ptr<const simcam::detail::ActiveProfile> state_;
};

class pipeline {
  public:
    pipeline(context ctx = context());

    pipeline_profile start(const config& config);
    frameset wait_for_frames(unsigned int timeout_ms = 15000) const;
    void stop();

  private:
    std::shared_ptr<simcam::detail::PipelineState> state_;
};

// Depth outside [min_dist, max_dist] metres becomes 0 (no depth).
class threshold_filter : public options {
  public:
    explicit threshold_filter(float min_dist = 0.15f, float max_dist = 4.f);

    frame process(frame f) const;
};

class colorizer {
  public:
    colorizer() = default;

    video_frame colorize(frame depth) const;
    frame process(frame f) const;
};

class align {
  public:
    explicit align(rs2_stream align_to) : align_to_(align_to) {}

    frameset process(frameset frames) const;

  private:
    rs2_stream align_to_;
};

}  // namespace rs2
