// The processing blocks: threshold filter, colouriser and alignment to the depth stream.
#include "Detail.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>

namespace rs2 {

using simcam::detail::Access;
using simcam::detail::FrameState;
using simcam::detail::OptionsState;
using simcam::detail::ProfileState;

namespace {

[[noreturn]] void NoFrame(const char* function) {
    Access::Throw("null pointer passed for argument \"frame\"", function, "frame:0x0",
                  RS2_EXCEPTION_TYPE_INVALID_VALUE);
}

// Applies `convert` to a frame, or to each member of a frame set (giving a new set).
frame Map(const frame& input, const std::function<frame(const frame&)>& convert) {
    const FrameState& state = Access::State(input);
    if (state.kind != FrameState::Kind::Set) {
        return convert(input);
    }
    auto set = std::make_shared<FrameState>();
    set->kind = FrameState::Kind::Set;
    for (const frame& member : state.members) {
        set->members.push_back(convert(member));
    }
    return Access::Frame(std::move(set));
}

const std::uint16_t* DepthValues(const FrameState& state) {
    return reinterpret_cast<const std::uint16_t*>(state.pixels.data());
}

size_t PixelCount(const FrameState& state) {
    return static_cast<size_t>(state.width) * static_cast<size_t>(state.height);
}

// The jet colour map, blue for the nearest depth to red for the farthest. Every entry has a
// channel of at least half intensity, so no depth ever comes out black.
using ColorMap = std::array<std::array<std::uint8_t, 3>, 1024>;

const ColorMap& Jet() {
    static const ColorMap map = [] {
        ColorMap colors{};
        for (size_t i = 0; i < colors.size(); ++i) {
            const double t = static_cast<double>(i) / static_cast<double>(colors.size() - 1);
            const auto channel = [t](double centre) {
                const double level = std::clamp(1.5 - std::abs(4 * t - centre), 0.0, 1.0);
                return static_cast<std::uint8_t>(std::lround(level * 255));
            };
            colors[i] = {channel(3), channel(2), channel(1)};
        }
        return colors;
    }();
    return map;
}

frame Colorize(const frame& input) {
    if (!input.is<depth_frame>()) {
        return input;
    }
    const FrameState& depth = Access::State(input);
    const ProfileState& depth_profile = *depth.profile;
    auto profile = std::make_shared<ProfileState>(
        ProfileState{depth_profile.stream, depth_profile.index, RS2_FORMAT_RGB8, depth_profile.fps,
                     depth_profile.intrinsics});
    auto colored = simcam::detail::FrameLike(depth, FrameState::Kind::Video, std::move(profile), 3);
    const std::uint16_t* values = DepthValues(depth);
    const size_t count = PixelCount(depth);

    // The map spans the depths present in this frame.
    std::uint16_t nearest = std::numeric_limits<std::uint16_t>::max();
    std::uint16_t farthest = 0;
    for (size_t i = 0; i < count; ++i) {
        if (values[i] != 0) {
            nearest = std::min(nearest, values[i]);
            farthest = std::max(farthest, values[i]);
        }
    }
    const ColorMap& map = Jet();
    const double scale =
        farthest > nearest ? static_cast<double>(map.size() - 1) / (farthest - nearest) : 0.0;
    std::uint8_t* out = colored->pixels.data();
    for (size_t i = 0; i < count; ++i, out += 3) {
        if (values[i] == 0) {
            continue;  // the buffer starts black
        }
        const auto& color = map[static_cast<size_t>((values[i] - nearest) * scale)];
        std::copy(color.begin(), color.end(), out);
    }
    return Access::Frame(std::move(colored));
}

}  // namespace

threshold_filter::threshold_filter(float min_dist, float max_dist)
    : options(std::make_shared<OptionsState>(
          std::vector<OptionsState::Option>{
              {RS2_OPTION_MIN_DISTANCE, "Min Distance", 0.f, 16.f, 0.f, false, false},
              {RS2_OPTION_MAX_DISTANCE, "Max Distance", 0.f, 16.f, 0.f, false, false}},
          std::nullopt)) {
    set_option(RS2_OPTION_MIN_DISTANCE, min_dist);
    set_option(RS2_OPTION_MAX_DISTANCE, max_dist);
}

frame threshold_filter::process(frame f) const {
    if (!f) {
        NoFrame("rs2_process_frame");
    }
    const float near_limit = get_option(RS2_OPTION_MIN_DISTANCE);
    const float far_limit = get_option(RS2_OPTION_MAX_DISTANCE);
    return Map(f, [&](const frame& member) -> frame {
        if (!member.is<depth_frame>()) {
            return member;
        }
        const FrameState& depth = Access::State(member);
        auto filtered = simcam::detail::FrameLike(depth, FrameState::Kind::Depth, depth.profile, 2);
        const std::uint16_t* in = DepthValues(depth);
        auto* out = reinterpret_cast<std::uint16_t*>(filtered->pixels.data());
        const size_t count = PixelCount(depth);
        for (size_t i = 0; i < count; ++i) {
            // The same distance that get_distance reports decides.
            const auto metres = static_cast<float>(in[i] * depth.depth_units);
            out[i] = (metres >= near_limit && metres <= far_limit) ? in[i] : 0;
        }
        return Access::Frame(std::move(filtered));
    });
}

video_frame colorizer::colorize(frame depth) const {
    return process(depth);
}

frame colorizer::process(frame f) const {
    if (!f) {
        NoFrame("rs2_process_frame");
    }
    return Map(f, Colorize);
}

// The colour camera sits where the depth camera is, so a depth pixel's point in space projects
// onto the colour image without a baseline between the two.
frameset align::process(frameset frames) const {
    if (!frames) {
        NoFrame("rs2_process_frame");
    }
    if (align_to_ != RS2_STREAM_DEPTH) {
        Access::Throw("the simulated camera aligns to the depth stream only", "rs2_process_frame",
                      "align_to:" + std::to_string(align_to_), RS2_EXCEPTION_TYPE_INVALID_VALUE);
    }
    const frame depth_member = frames.first_or_default(RS2_STREAM_DEPTH);
    if (!depth_member.is<depth_frame>()) {
        return frames;
    }
    const FrameState& depth = Access::State(depth_member);
    const rs2_intrinsics& to = depth.profile->intrinsics;
    const std::uint16_t* values = DepthValues(depth);

    auto set = std::make_shared<FrameState>();
    set->kind = FrameState::Kind::Set;
    for (const frame& member : Access::State(frames).members) {
        if (member.get_profile().stream_type() != RS2_STREAM_COLOR) {
            set->members.push_back(member);
            continue;
        }
        const FrameState& color = Access::State(member);
        const rs2_intrinsics& from = color.profile->intrinsics;
        rs2_intrinsics intrinsics = to;
        auto profile = std::make_shared<ProfileState>(
            ProfileState{color.profile->stream, color.profile->index, color.profile->format,
                         color.profile->fps, intrinsics});
        auto aligned =
            simcam::detail::FrameLike(depth, FrameState::Kind::Video, std::move(profile), 3);
        aligned->number = color.number;
        aligned->timestamp = color.timestamp;
        std::uint8_t* out = aligned->pixels.data();
        for (int v = 0; v < to.height; ++v) {
            const double y = (v - static_cast<double>(to.ppy)) / to.fy;
            const long row = std::lround(from.ppy + from.fy * y);
            for (int u = 0; u < to.width; ++u, out += 3) {
                if (values[static_cast<size_t>(v) * static_cast<size_t>(to.width) +
                           static_cast<size_t>(u)] == 0) {
                    continue;  // black where there is no depth
                }
                const double x = (u - static_cast<double>(to.ppx)) / to.fx;
                const long column = std::lround(from.ppx + from.fx * x);
                if (row < 0 || row >= from.height || column < 0 || column >= from.width) {
                    continue;
                }
                const std::uint8_t* in =
                    color.pixels.data() +
                    (static_cast<size_t>(row) * static_cast<size_t>(from.width) +
                     static_cast<size_t>(column)) *
                        3;
                std::copy(in, in + 3, out);
            }
        }
        set->members.push_back(Access::Frame(std::move(aligned)));
    }
    return frameset(Access::Frame(std::move(set)));
}

}  // namespace rs2
