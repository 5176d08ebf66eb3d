// Errors, stream profiles, frames and options: the handles that carry data, not devices.
#include "Detail.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

namespace rs2 {

using simcam::detail::Access;
using simcam::detail::FrameState;

error::error(const std::string& message, std::string function, std::string args,
             rs2_exception_type type)
    : std::runtime_error(message),
      function_(std::move(function)),
      args_(std::move(args)),
      type_(type) {}

namespace {

[[noreturn]] void NullHandle(const char* function, const char* argument) {
    Access::Throw(std::string("null pointer passed for argument \"") + argument + "\"", function,
                  std::string(argument) + ":0x0", RS2_EXCEPTION_TYPE_INVALID_VALUE);
}

bool IsVideo(const std::shared_ptr<FrameState>& state) {
    return state && state->kind != FrameState::Kind::Set;
}

}  // namespace

// Stream profiles.

stream_profile::stream_profile(std::shared_ptr<const simcam::detail::ProfileState> state)
    : state_(std::move(state)) {}

const simcam::detail::ProfileState& stream_profile::State() const {
    if (!state_) {
        NullHandle("rs2_get_stream_profile_data", "profile");
    }
    return *state_;
}

rs2_stream stream_profile::stream_type() const {
    return State().stream;
}
int stream_profile::stream_index() const {
    return State().index;
}
rs2_format stream_profile::format() const {
    return State().format;
}
int stream_profile::fps() const {
    return State().fps;
}

template <>
bool stream_profile::is<stream_profile>() const {
    return state_ != nullptr;
}
// Every stream the simulated cameras deliver is a video stream.
template <>
bool stream_profile::is<video_stream_profile>() const {
    return state_ != nullptr;
}

video_stream_profile::video_stream_profile(const stream_profile& profile)
    : stream_profile(profile) {
    if (!profile.is<video_stream_profile>()) {
        state_.reset();
    }
}

int video_stream_profile::width() const {
    return State().intrinsics.width;
}
int video_stream_profile::height() const {
    return State().intrinsics.height;
}
rs2_intrinsics video_stream_profile::get_intrinsics() const {
    return State().intrinsics;
}

// Frames.

frame::frame(std::shared_ptr<FrameState> state) : state_(std::move(state)) {}

const FrameState& frame::State() const {
    if (!state_) {
        NullHandle("rs2_get_frame_data", "frame");
    }
    return *state_;
}

const void* frame::get_data() const {
    const FrameState& state = State();
    return state.pixels.empty() ? nullptr : state.pixels.data();
}

stream_profile frame::get_profile() const {
    const FrameState& state = State();
    if (state.kind == FrameState::Kind::Set) {
        return state.members.front().get_profile();
    }
    return Access::Profile(state.profile);
}

unsigned long long frame::get_frame_number() const {
    const FrameState& state = State();
    return state.kind == FrameState::Kind::Set ? state.members.front().get_frame_number()
                                               : state.number;
}

double frame::get_timestamp() const {
    const FrameState& state = State();
    return state.kind == FrameState::Kind::Set ? state.members.front().get_timestamp()
                                               : state.timestamp;
}

template <>
bool frame::is<frame>() const {
    return state_ != nullptr;
}
template <>
bool frame::is<video_frame>() const {
    return IsVideo(state_);
}
template <>
bool frame::is<depth_frame>() const {
    return state_ && state_->kind == FrameState::Kind::Depth;
}
template <>
bool frame::is<frameset>() const {
    return state_ && state_->kind == FrameState::Kind::Set;
}

video_frame::video_frame(const frame& f) : frame(f.is<video_frame>() ? f : frame()) {}

int video_frame::get_width() const {
    return State().width;
}
int video_frame::get_height() const {
    return State().height;
}
int video_frame::get_stride_in_bytes() const {
    return State().width * State().bytes_per_pixel;
}
int video_frame::get_bits_per_pixel() const {
    return State().bytes_per_pixel * 8;
}
int video_frame::get_bytes_per_pixel() const {
    return State().bytes_per_pixel;
}

depth_frame::depth_frame(const frame& f) : video_frame(f.is<depth_frame>() ? f : frame()) {}

float depth_frame::get_distance(int x, int y) const {
    const FrameState& state = State();
    if (x < 0 || y < 0 || x >= state.width || y >= state.height) {
        Access::Throw("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                          ") lies outside the " + std::to_string(state.width) + " x " +
                          std::to_string(state.height) + " frame",
                      "rs2_depth_frame_get_distance",
                      "frame:" + simcam::detail::Address(&state) + ", x:" + std::to_string(x) +
                          ", y:" + std::to_string(y),
                      RS2_EXCEPTION_TYPE_INVALID_VALUE);
    }
    const auto* values = reinterpret_cast<const std::uint16_t*>(state.pixels.data());
    // The product is rounded once, so a whole number of millimetres gives the float nearest to
    // that many thousandths: 1500 units read 1.5 m exactly.
    return static_cast<float>(
        values[static_cast<size_t>(y) * static_cast<size_t>(state.width) + static_cast<size_t>(x)] *
        state.depth_units);
}

frameset::frameset(const frame& f) : frame(f.is<frameset>() ? f : frame()) {}

frame frameset::first_or_default(rs2_stream s) const {
    for (const frame& member : State().members) {
        if (member.get_profile().stream_type() == s) {
            return member;
        }
    }
    return frame();
}

depth_frame frameset::get_depth_frame() const {
    return first_or_default(RS2_STREAM_DEPTH);
}
video_frame frameset::get_color_frame() const {
    return first_or_default(RS2_STREAM_COLOR);
}
size_t frameset::size() const {
    return State().members.size();
}

// Options.

options::options(std::shared_ptr<simcam::detail::OptionsState> state)
    : options_(std::move(state)) {}

void options::set_option(rs2_option option, float value) const {
    options_->Set(option, value);
}
float options::get_option(rs2_option option) const {
    return options_->Get(option);
}
bool options::supports(rs2_option option) const {
    return options_->Supports(option);
}

}  // namespace rs2

namespace simcam::detail {

namespace {

std::string Number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

}  // namespace

const OptionsState::Option* OptionsState::Find(rs2_option id) const {
    const auto found = std::find_if(options_.begin(), options_.end(),
                                    [id](const Option& option) { return option.id == id; });
    return found == options_.end() ? nullptr : &*found;
}

OptionsState::Option* OptionsState::Find(rs2_option id) {
    return const_cast<Option*>(std::as_const(*this).Find(id));
}

bool OptionsState::Supports(rs2_option id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Find(id) != nullptr;
}

float OptionsState::Get(rs2_option id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Option* option = Find(id);
    if (!option) {
        Access::Throw("object doesn't support option #" + std::to_string(id), "rs2_get_option",
                      "options:" + Address(this) + ", option:" + std::to_string(id),
                      RS2_EXCEPTION_TYPE_INVALID_VALUE);
    }
    return option->value;
}

void OptionsState::Set(rs2_option id, float value) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string args =
        "options:" + Address(this) + ", option:" + std::to_string(id) + ", value:" + Number(value);
    Option* option = Find(id);
    if (!option) {
        Access::Throw("object doesn't support option #" + std::to_string(id), "rs2_set_option",
                      args, RS2_EXCEPTION_TYPE_INVALID_VALUE);
    }
    if (option->read_only) {
        Access::Throw(std::string("option ") + option->name + " is read-only", "rs2_set_option",
                      args, RS2_EXCEPTION_TYPE_INVALID_VALUE);
    }
    if (!(value >= option->min && value <= option->max) ||
        (option->whole_numbers && value != std::floor(value))) {
        Access::Throw(std::string("invalid value ") + Number(value) + " for option " +
                          option->name + ": the range is " + Number(option->min) + " to " +
                          Number(option->max),
                      "rs2_set_option", args, RS2_EXCEPTION_TYPE_INVALID_VALUE);
    }
    if (refused_ == id) {
        Access::Throw(std::string("the camera refused to set ") + option->name, "rs2_set_option",
                      args, RS2_EXCEPTION_TYPE_UNKNOWN);
    }
    option->value = value;
}

std::string Address(const void* object) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", object);
    return text;
}

std::shared_ptr<FrameState> FrameLike(const FrameState& model, FrameState::Kind kind,
                                      std::shared_ptr<const ProfileState> profile,
                                      int bytes_per_pixel) {
    auto state = std::make_shared<FrameState>();
    state->kind = kind;
    state->profile = std::move(profile);
    state->number = model.number;
    state->timestamp = model.timestamp;
    state->width = model.width;
    state->height = model.height;
    state->bytes_per_pixel = bytes_per_pixel;
    state->depth_units = model.depth_units;
    state->pixels.resize(static_cast<size_t>(state->width) * static_cast<size_t>(state->height) *
                         static_cast<size_t>(bytes_per_pixel));
    return state;
}

}  // namespace simcam::detail
