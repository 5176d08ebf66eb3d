// The stand-in against the documented behaviour of each camera call the vision module makes:
// one row per call (or per fault set-up of device discovery).
#include <gtest/gtest.h>
#include <librealsense2/rsutil.h>
#include <simcam/scene.h>
#include <librealsense2/rs.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <ostream>
#include <string>

#include "SimcamTestSupport.h"

namespace {

using simcamtest::Camera;
using simcamtest::FrameSetOf;
using simcamtest::SceneFile;
using simcamtest::StderrCapture;
using simcamtest::Z16;
using testsupport::kPatience;

// Floor at 1500 mm, a box top at 1300 mm over the image centre, and a patch without depth.
const std::string kBoxScene = R"(
[camera]
floor_distance = 1500
[[box]]
length = 400
width = 300
height = 200
[[no_depth]]
x = 100
y = 100
width = 20
height = 10
)";

std::string WithFaults(const std::string& faults) {
    return kBoxScene + "[faults]\n" + faults;
}

template <class Call>
rs2::error ErrorOf(Call call) {
    try {
        call();
    } catch (const rs2::error& e) {
        return e;
    }
    ADD_FAILURE() << "no rs2::error";
    throw std::logic_error("no rs2::error");
}

std::vector<rs2_stream> StreamsOf(const rs2::device& device) {
    std::vector<rs2_stream> streams;
    for (const rs2::sensor& sensor : device.query_sensors()) {
        for (const rs2::stream_profile& profile : sensor.get_stream_profiles()) {
            streams.push_back(profile.stream_type());
        }
    }
    return streams;
}

bool IsBlack(const std::uint8_t* pixel) {
    return pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0;
}

const std::uint8_t* PixelAt(const rs2::video_frame& frame, int x, int y) {
    return static_cast<const std::uint8_t*>(frame.get_data()) + y * frame.get_stride_in_bytes() +
           x * frame.get_bytes_per_pixel();
}

void DiscoversD400() {
    const SceneFile scene(kBoxScene);
    const rs2::device_list devices = rs2::context().query_devices();
    ASSERT_EQ(devices.size(), 1u);
    const rs2::device device = devices[0];
    EXPECT_TRUE(device.supports(RS2_CAMERA_INFO_SERIAL_NUMBER));
    EXPECT_STREQ(device.get_info(RS2_CAMERA_INFO_SERIAL_NUMBER), "SIMCAM000001");
    EXPECT_TRUE(device.supports(RS2_CAMERA_INFO_NAME));
    EXPECT_EQ(StreamsOf(device),
              (std::vector<rs2_stream>{RS2_STREAM_DEPTH, RS2_STREAM_COLOR, RS2_STREAM_COLOR}));
    int listed = 0;
    for (const rs2::device& each : devices) {
        EXPECT_STREQ(each.get_info(RS2_CAMERA_INFO_SERIAL_NUMBER), "SIMCAM000001");
        ++listed;
    }
    EXPECT_EQ(listed, 1);
    const rs2::video_stream_profile depth =
        device.query_sensors()[0].get_stream_profiles()[0].as<rs2::video_stream_profile>();
    EXPECT_EQ(depth.format(), RS2_FORMAT_Z16);
    EXPECT_EQ(depth.width(), 1280);
    EXPECT_EQ(depth.height(), 720);
    EXPECT_EQ(depth.fps(), 6);
    EXPECT_EQ(ErrorOf([&] { devices[1]; }).get_type(), RS2_EXCEPTION_TYPE_INVALID_VALUE);
}

void DiscoversNothingWithoutAScene() {
    unsetenv(simcam::kSceneVariable);
    EXPECT_EQ(rs2::context().query_devices().size(), 0u);
    setenv(simcam::kSceneVariable, "", 1);
    EXPECT_EQ(rs2::context().query_devices().size(), 0u);
    rs2::pipeline pipe;
    EXPECT_STREQ(ErrorOf([&] { pipe.start(rs2::config()); }).what(), "No device connected");
    unsetenv(simcam::kSceneVariable);
}

void DiscoversNothingWhenTheSceneSaysNone() {
    const SceneFile scene(WithFaults("devices = \"none\"\n"));
    EXPECT_EQ(rs2::context().query_devices().size(), 0u);
}

void DiscoversNothingWhenTheSceneCannotBeRead() {
    const SceneFile scene("[camera]\nfloor_distance = \"far\"\n");
    StderrCapture errors;
    EXPECT_EQ(rs2::context().query_devices().size(), 0u);
    const std::string text = errors.Text();
    EXPECT_NE(text.find("no camera connected: " + scene.path() + ":2: 'floor_distance'"),
              std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

void DiscoversDepthOnlyCamera() {
    const SceneFile scene(WithFaults("devices = \"depth-only\"\n"));
    const rs2::device_list devices = rs2::context().query_devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(StreamsOf(devices[0]), std::vector<rs2_stream>{RS2_STREAM_DEPTH});
    rs2::config both;
    both.enable_stream(RS2_STREAM_DEPTH, 1280, 720, RS2_FORMAT_Z16, 6);
    both.enable_stream(RS2_STREAM_COLOR, -1);
    rs2::pipeline pipe;
    EXPECT_STREQ(ErrorOf([&] { pipe.start(both); }).what(), "Couldn't resolve requests");
    const Camera camera;
    const rs2::frameset frames = camera.pipe.wait_for_frames();
    EXPECT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames.get_depth_frame());
    EXPECT_FALSE(frames.get_color_frame());
}

void DiscoversTwoCamerasWithOneStreamEach() {
    const SceneFile scene(WithFaults("devices = \"split\"\n"));
    const rs2::device_list devices = rs2::context().query_devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(StreamsOf(devices[0]), std::vector<rs2_stream>{RS2_STREAM_DEPTH});
    EXPECT_EQ(StreamsOf(devices[1]), (std::vector<rs2_stream>{RS2_STREAM_COLOR, RS2_STREAM_COLOR}));
    EXPECT_STRNE(devices[0].get_info(RS2_CAMERA_INFO_SERIAL_NUMBER),
                 devices[1].get_info(RS2_CAMERA_INFO_SERIAL_NUMBER));
    rs2::config both;
    both.enable_stream(RS2_STREAM_COLOR, -1);
    both.enable_stream(RS2_STREAM_DEPTH, 1280, 720, RS2_FORMAT_Z16, 6);
    rs2::pipeline pipe;
    EXPECT_STREQ(ErrorOf([&] { pipe.start(both); }).what(), "Couldn't resolve requests");
    rs2::config color;
    color.enable_device(devices[1].get_info(RS2_CAMERA_INFO_SERIAL_NUMBER));
    const rs2::pipeline_profile profile = pipe.start(color);
    EXPECT_EQ(profile.get_stream(RS2_STREAM_COLOR).stream_type(), RS2_STREAM_COLOR);
}

void DiscoversCameraWithoutSerial() {
    const SceneFile scene(WithFaults("serial = false\n"));
    const rs2::device_list devices = rs2::context().query_devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_FALSE(devices[0].supports(RS2_CAMERA_INFO_SERIAL_NUMBER));
    const rs2::error error = ErrorOf([&] { devices[0].get_info(RS2_CAMERA_INFO_SERIAL_NUMBER); });
    EXPECT_EQ(error.get_failed_function(), "rs2_get_device_info");
    // Without a serial to restrict to, the pipeline picks the camera itself.
    const Camera camera;
    EXPECT_FALSE(camera.profile.get_device().supports(RS2_CAMERA_INFO_SERIAL_NUMBER));
    EXPECT_TRUE(camera.pipe.wait_for_frames().get_depth_frame());
}

void ConfigSelectsStreams() {
    const SceneFile scene(kBoxScene);
    rs2::config config;
    config.enable_device("SIMCAM000001");
    config.enable_stream(RS2_STREAM_COLOR, -1);
    config.enable_stream(RS2_STREAM_DEPTH, 1280, 720, RS2_FORMAT_Z16, 6);
    rs2::pipeline pipe(rs2::context{});
    const rs2::pipeline_profile profile = pipe.start(config);
    EXPECT_STREQ(profile.get_device().get_info(RS2_CAMERA_INFO_SERIAL_NUMBER), "SIMCAM000001");
    const auto depth = profile.get_stream(RS2_STREAM_DEPTH).as<rs2::video_stream_profile>();
    EXPECT_EQ(depth.format(), RS2_FORMAT_Z16);
    EXPECT_EQ(depth.fps(), 6);
    EXPECT_EQ(profile.get_stream(RS2_STREAM_COLOR).format(), RS2_FORMAT_BGR8);
    EXPECT_EQ(ErrorOf([&] { profile.get_stream(RS2_STREAM_INFRARED); }).get_type(),
              RS2_EXCEPTION_TYPE_INVALID_VALUE);
    EXPECT_EQ(ErrorOf([&] { pipe.start(config); }).get_type(),
              RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE);
    pipe.stop();

    rs2::config elsewhere;
    elsewhere.enable_device("SOMEONE-ELSE");
    EXPECT_STREQ(ErrorOf([&] { pipe.start(elsewhere); }).what(), "Couldn't resolve requests");
    rs2::config too_large;
    too_large.enable_stream(RS2_STREAM_DEPTH, 1920, 1080);
    const rs2::error error = ErrorOf([&] { pipe.start(too_large); });
    EXPECT_STREQ(error.what(), "Couldn't resolve requests");
    EXPECT_EQ(error.get_failed_function(), "rs2_pipeline_start_with_config");
    rs2::config rgb;
    rgb.enable_stream(RS2_STREAM_COLOR, 0, 0, RS2_FORMAT_RGB8);
    EXPECT_EQ(pipe.start(rgb).get_stream(RS2_STREAM_COLOR).format(), RS2_FORMAT_RGB8);
}

void GetDistanceIsZ16TimesDepthUnit() {
    const SceneFile scene(kBoxScene);
    const Camera camera;
    const rs2::depth_frame depth = camera.pipe.wait_for_frames().get_depth_frame();
    EXPECT_EQ(Z16(depth, 640, 360), 1300);
    EXPECT_EQ(depth.get_distance(640, 360), 1.3f);
    EXPECT_EQ(Z16(depth, 5, 5), 1500);
    EXPECT_EQ(depth.get_distance(5, 5), 1.5f);
    EXPECT_EQ(depth.get_distance(1279, 719), 1.5f);
    EXPECT_EQ(Z16(depth, 110, 105), 0);
    EXPECT_EQ(depth.get_distance(110, 105), 0.f);
    EXPECT_EQ(camera.profile.get_device().query_sensors()[0].get_option(RS2_OPTION_DEPTH_UNITS),
              0.001f);
    EXPECT_EQ(ErrorOf([&] { depth.get_distance(1280, 0); }).get_type(),
              RS2_EXCEPTION_TYPE_INVALID_VALUE);
}

void DepthIntrinsicsFollowTheFieldOfView() {
    const SceneFile scene(kBoxScene);
    const Camera camera;
    const rs2_intrinsics in = camera.profile.get_stream(RS2_STREAM_DEPTH)
                                  .as<rs2::video_stream_profile>()
                                  .get_intrinsics();
    const double pi = std::acos(-1.0);
    EXPECT_EQ(in.width, 1280);
    EXPECT_EQ(in.height, 720);
    EXPECT_FLOAT_EQ(in.fx, static_cast<float>(640 / std::tan(65.0 / 2 * pi / 180)));
    EXPECT_FLOAT_EQ(in.fy, static_cast<float>(360 / std::tan(40.0 / 2 * pi / 180)));
    EXPECT_EQ(in.ppx, 640.f);
    EXPECT_EQ(in.ppy, 360.f);
    EXPECT_EQ(in.model, RS2_DISTORTION_BROWN_CONRADY);
    for (const float coefficient : in.coeffs) {
        EXPECT_EQ(coefficient, 0.f);
    }
    // The frame's own profile carries the same intrinsics.
    const rs2::depth_frame depth = camera.pipe.wait_for_frames().get_depth_frame();
    EXPECT_EQ(depth.get_profile().as<rs2::video_stream_profile>().get_intrinsics().fx, in.fx);
}

void DeprojectsWithThePinholeFormula() {
    rs2_intrinsics in{};
    in.ppx = 640;
    in.ppy = 360;
    in.fx = 1000;
    in.fy = 800;
    for (const rs2_distortion model : {RS2_DISTORTION_NONE, RS2_DISTORTION_BROWN_CONRADY}) {
        in.model = model;
        const float pixel[2] = {840, 160};
        float point[3];
        rs2_deproject_pixel_to_point(point, &in, pixel, 1.5f);
        EXPECT_FLOAT_EQ(point[0], 1.5f * 200 / 1000);
        EXPECT_FLOAT_EQ(point[1], 1.5f * -200 / 800);
        EXPECT_EQ(point[2], 1.5f);
    }
}

void ThresholdFilterZeroesOutsideItsLimits() {
    const rs2::depth_frame depth = FrameSetOf(kBoxScene).get_depth_frame();
    const auto kept = [&](float near_limit, float far_limit) {
        rs2::threshold_filter filter(near_limit, far_limit);
        const rs2::depth_frame out = filter.process(depth);
        EXPECT_EQ(out.get_width(), 1280);
        EXPECT_NE(out.get_data(), depth.get_data());
        return std::pair(out.get_distance(640, 360), out.get_distance(5, 5));
    };
    EXPECT_EQ(kept(1.3f, 1.5f), std::pair(1.3f, 1.5f));  // the limits themselves pass
    EXPECT_EQ(kept(1.31f, 1.5f), std::pair(0.f, 1.5f));
    EXPECT_EQ(kept(1.3f, 1.49f), std::pair(1.3f, 0.f));
    EXPECT_EQ(kept(0.15f, 4.f), std::pair(1.3f, 1.5f));
    EXPECT_EQ(depth.get_distance(640, 360), 1.3f);  // the input is unchanged

    rs2::threshold_filter filter;
    EXPECT_EQ(filter.get_option(RS2_OPTION_MIN_DISTANCE), 0.15f);
    EXPECT_EQ(filter.get_option(RS2_OPTION_MAX_DISTANCE), 4.f);
    filter.set_option(RS2_OPTION_MAX_DISTANCE, 16.f);
    EXPECT_EQ(filter.get_option(RS2_OPTION_MAX_DISTANCE), 16.f);
    EXPECT_TRUE(filter.supports(RS2_OPTION_MIN_DISTANCE));
    EXPECT_FALSE(filter.supports(RS2_OPTION_VISUAL_PRESET));
    EXPECT_EQ(ErrorOf([&] { filter.set_option(RS2_OPTION_MAX_DISTANCE, 16.5f); }).get_type(),
              RS2_EXCEPTION_TYPE_INVALID_VALUE);
    EXPECT_EQ(
        ErrorOf([&] { filter.set_option(RS2_OPTION_MIN_DISTANCE, -0.1f); }).get_failed_function(),
        "rs2_set_option");
    ErrorOf([&] { filter.set_option(RS2_OPTION_VISUAL_PRESET, 1.f); });
    ErrorOf([&] { filter.get_option(RS2_OPTION_VISUAL_PRESET); });
    EXPECT_EQ(filter.get_option(RS2_OPTION_MAX_DISTANCE), 16.f);

    // A frame set goes through with its depth filtered and its colour as it was.
    const rs2::frameset frames = FrameSetOf(kBoxScene);
    const rs2::frameset filtered = rs2::threshold_filter(1.4f, 4.f).process(frames);
    EXPECT_EQ(filtered.get_depth_frame().get_distance(640, 360), 0.f);
    EXPECT_EQ(filtered.get_color_frame().get_data(), frames.get_color_frame().get_data());
}

void ColorizerIsBlackExactlyWhereThereIsNoDepth() {
    const rs2::depth_frame depth = FrameSetOf(kBoxScene).get_depth_frame();
    // Every Z16 value, written into the frame's own buffer.
    auto* values = static_cast<std::uint16_t*>(const_cast<void*>(depth.get_data()));
    const int count = depth.get_width() * depth.get_height();
    for (int i = 0; i < count; ++i) {
        values[i] = static_cast<std::uint16_t>(i % 65536);
    }
    const rs2::colorizer colorizer;
    const rs2::video_frame colored = colorizer.colorize(depth);
    EXPECT_EQ(colored.get_width(), depth.get_width());
    EXPECT_EQ(colored.get_height(), depth.get_height());
    EXPECT_EQ(colored.get_bytes_per_pixel(), 3);
    EXPECT_EQ(colored.get_bits_per_pixel(), 24);
    EXPECT_EQ(colored.get_stride_in_bytes(), 3 * 1280);
    EXPECT_EQ(colored.get_profile().format(), RS2_FORMAT_RGB8);
    int wrong = 0;
    for (int i = 0; i < count; ++i) {
        const bool black = IsBlack(PixelAt(colored, i % 1280, i / 1280));
        wrong += black != (values[i] == 0);
    }
    EXPECT_EQ(wrong, 0);

    // A frame with a single depth value (the narrowest range) is not black either.
    std::fill(values, values + count, std::uint16_t{1500});
    values[7] = 0;
    const rs2::video_frame flat = colorizer.process(depth);
    EXPECT_FALSE(IsBlack(PixelAt(flat, 0, 0)));
    EXPECT_TRUE(IsBlack(PixelAt(flat, 7, 0)));
}

void AlignGivesColourTheDepthGrid() {
    const rs2::frameset frames = FrameSetOf(kBoxScene);
    const rs2::video_frame color = frames.get_color_frame();
    EXPECT_EQ(color.get_profile().format(), RS2_FORMAT_BGR8);
    EXPECT_EQ(color.get_bytes_per_pixel(), 3);
    const rs2::frameset aligned = rs2::align(RS2_STREAM_DEPTH).process(frames);
    const rs2::video_frame moved = aligned.get_color_frame();
    const rs2::depth_frame depth = aligned.get_depth_frame();
    EXPECT_EQ(depth.get_data(), frames.get_depth_frame().get_data());
    EXPECT_EQ(moved.get_width(), depth.get_width());
    EXPECT_EQ(moved.get_height(), depth.get_height());
    EXPECT_EQ(moved.get_bytes_per_pixel(), 3);
    EXPECT_EQ(moved.get_profile().stream_type(), RS2_STREAM_COLOR);
    const std::uint8_t box[3] = {108, 154, 196};  // the default box colour, blue first
    const std::uint8_t floor[3] = {118, 118, 118};
    EXPECT_EQ(std::memcmp(PixelAt(moved, 640, 360), box, 3), 0);
    EXPECT_EQ(std::memcmp(PixelAt(moved, 5, 5), floor, 3), 0);
    EXPECT_TRUE(IsBlack(PixelAt(moved, 110, 105)));  // no depth behind it
    // The colour camera sees more of the floor; aligned, the box edge sits where depth has it.
    int box_columns_depth = 0;
    int box_columns_color = 0;
    for (int x = 0; x < 1280; ++x) {
        box_columns_depth += Z16(depth, x, 360) == 1300;
        box_columns_color += std::memcmp(PixelAt(moved, x, 360), box, 3) == 0;
    }
    EXPECT_NEAR(box_columns_color, box_columns_depth, 2);
}

void FramesAreSharedHandles() {
    const rs2::frameset frames = FrameSetOf(kBoxScene);
    EXPECT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames.is<rs2::frameset>());
    const rs2::frame depth = frames.first_or_default(RS2_STREAM_DEPTH);
    const rs2::frame copy = depth;
    EXPECT_EQ(copy.get_data(), depth.get_data());
    EXPECT_EQ(copy.get_frame_number(), depth.get_frame_number());
    EXPECT_TRUE(depth.is<rs2::video_frame>());
    EXPECT_TRUE(depth.is<rs2::depth_frame>());
    EXPECT_EQ(depth.as<rs2::depth_frame>().get_bytes_per_pixel(), 2);
    const rs2::frame color = frames.first_or_default(RS2_STREAM_COLOR);
    EXPECT_TRUE(color.is<rs2::video_frame>());
    EXPECT_FALSE(color.is<rs2::depth_frame>());
    EXPECT_FALSE(rs2::depth_frame(color));
    EXPECT_FALSE(rs2::frameset(depth));
    EXPECT_FALSE(frames.first_or_default(RS2_STREAM_INFRARED));
    const rs2::frame empty;
    EXPECT_FALSE(empty);
    EXPECT_EQ(ErrorOf([&] { empty.get_data(); }).get_type(), RS2_EXCEPTION_TYPE_INVALID_VALUE);
    EXPECT_TRUE(depth.get_profile().is<rs2::video_stream_profile>());
}

void EachFrameSetHasFreshPixels() {
    const SceneFile scene(kBoxScene + "[noise]\nsigma_at_1m = 3.0\n");
    const Camera camera;
    const rs2::frameset first = camera.pipe.wait_for_frames();
    // Drawing into one frame set's pictures, as the vision module does, leaves the next alone.
    auto* depth =
        static_cast<std::uint16_t*>(const_cast<void*>(first.get_depth_frame().get_data()));
    auto* color = static_cast<std::uint8_t*>(const_cast<void*>(first.get_color_frame().get_data()));
    const std::vector<std::uint16_t> noisy(depth, depth + 1280 * 720);
    std::fill(depth, depth + 1280 * 720, std::uint16_t{0});
    std::fill(color, color + 1280 * 720 * 3, std::uint8_t{0});
    const rs2::frameset second = camera.pipe.wait_for_frames();
    const auto* next = static_cast<const std::uint16_t*>(second.get_depth_frame().get_data());
    EXPECT_NE(std::vector<std::uint16_t>(next, next + 1280 * 720), noisy);  // new noise
    EXPECT_NEAR(Z16(second.get_depth_frame(), 5, 5), 1500, 20);
    EXPECT_FALSE(IsBlack(PixelAt(second.get_color_frame(), 640, 360)));
}

void WaitForFramesPacesFrameSets() {
    const SceneFile scene(kBoxScene);
    const auto before_start = std::chrono::steady_clock::now();
    const Camera camera;
    const rs2::frameset first = camera.pipe.wait_for_frames();
    const rs2::frameset second = camera.pipe.wait_for_frames();
    // The second frame set cannot come before one period of the camera has passed.
    EXPECT_GE(std::chrono::steady_clock::now() - before_start,
              std::chrono::nanoseconds(1000000000 / 6));
    EXPECT_GT(second.get_frame_number(), first.get_frame_number());
    EXPECT_GE(second.get_timestamp() - first.get_timestamp(), 1000.0 / 6 - 1e-6);
}

void WaitForFramesTimesOut() {
    const SceneFile scene(WithFaults("stop_after_framesets = 2\n"));
    Camera camera;
    camera.pipe.wait_for_frames(kPatience.count());
    camera.pipe.wait_for_frames(kPatience.count());
    const rs2::error error = ErrorOf([&] { camera.pipe.wait_for_frames(50); });
    EXPECT_STREQ(error.what(), "Frame didn't arrive within 50");
    EXPECT_EQ(error.get_failed_function(), "rs2_pipeline_wait_for_frames");
    EXPECT_NE(error.get_failed_args().find("timeout_ms:50"), std::string::npos);
    camera.pipe.stop();
    EXPECT_EQ(ErrorOf([&] { camera.pipe.wait_for_frames(); }).get_type(),
              RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE);
}

void StopEndsAWaitInProgress() {
    const SceneFile scene(WithFaults("stop_after_framesets = 0\n"));
    Camera camera;
    // Whether stop comes before or during the wait, the wait ends at once with an error.
    std::atomic<bool> waiting{false};
    auto wait = std::async(std::launch::async, [&] {
        waiting = true;
        camera.pipe.wait_for_frames(kPatience.count());
    });
    ASSERT_TRUE(testsupport::WaitFor([&] { return waiting.load(); }));
    camera.pipe.stop();
    ASSERT_EQ(wait.wait_for(kPatience), std::future_status::ready);
    ErrorOf([&] { wait.get(); });
}

void VisualPresetIsAnOptionOfTheFirstSensor() {
    const SceneFile scene(kBoxScene);
    const Camera camera;
    const std::vector<rs2::sensor> sensors = camera.profile.get_device().query_sensors();
    const rs2::sensor& first = sensors[0];
    EXPECT_EQ(first.get_stream_profiles()[0].stream_type(), RS2_STREAM_DEPTH);
    EXPECT_TRUE(first.supports(RS2_OPTION_VISUAL_PRESET));
    for (float preset = 0; preset <= 6; ++preset) {
        first.set_option(RS2_OPTION_VISUAL_PRESET, preset);
        EXPECT_EQ(first.get_option(RS2_OPTION_VISUAL_PRESET), preset);
    }
    for (const float wrong : {-1.f, 7.f, 2.5f}) {
        EXPECT_EQ(ErrorOf([&] { first.set_option(RS2_OPTION_VISUAL_PRESET, wrong); }).get_type(),
                  RS2_EXCEPTION_TYPE_INVALID_VALUE)
            << wrong;
    }
    EXPECT_EQ(first.get_option(RS2_OPTION_VISUAL_PRESET), 6.f);
    ErrorOf([&] { first.set_option(RS2_OPTION_DEPTH_UNITS, 0.001f); });  // read-only
    EXPECT_FALSE(sensors[1].supports(RS2_OPTION_VISUAL_PRESET));
    ErrorOf([&] { sensors[1].set_option(RS2_OPTION_VISUAL_PRESET, 3.f); });
}

void RefusedOptionThrows() {
    const SceneFile scene(WithFaults("refuse_option = \"VISUAL_PRESET\"\n"));
    const Camera camera;
    const rs2::sensor first = camera.profile.get_device().query_sensors()[0];
    const rs2::error error = ErrorOf([&] { first.set_option(RS2_OPTION_VISUAL_PRESET, 3.f); });
    EXPECT_EQ(error.get_failed_function(), "rs2_set_option");
    EXPECT_EQ(first.get_option(RS2_OPTION_VISUAL_PRESET), 0.f);
}

struct Behaviour {
    const char* name;
    std::function<void()> check;
};

void PrintTo(const Behaviour& value, std::ostream* out) {
    *out << value.name;
}

const Behaviour kBehaviours[] = {
    {"QueryDevicesFindsTheD400", DiscoversD400},
    {"QueryDevicesWithoutSceneFindsNothing", DiscoversNothingWithoutAScene},
    {"QueryDevicesWithDevicesNoneFindsNothing", DiscoversNothingWhenTheSceneSaysNone},
    {"QueryDevicesWithUnreadableSceneFindsNothing", DiscoversNothingWhenTheSceneCannotBeRead},
    {"QueryDevicesFindsDepthOnlyCamera", DiscoversDepthOnlyCamera},
    {"QueryDevicesFindsSplitCameras", DiscoversTwoCamerasWithOneStreamEach},
    {"QueryDevicesFindsCameraWithoutSerial", DiscoversCameraWithoutSerial},
    {"ConfigAndStartSelectStreams", ConfigSelectsStreams},
    {"GetDistanceIsZ16TimesDepthUnit", GetDistanceIsZ16TimesDepthUnit},
    {"GetIntrinsicsFollowFieldOfView", DepthIntrinsicsFollowTheFieldOfView},
    {"DeprojectPixelToPoint", DeprojectsWithThePinholeFormula},
    {"ThresholdFilterLimits", ThresholdFilterZeroesOutsideItsLimits},
    {"ColorizerBlackOnlyWithoutDepth", ColorizerIsBlackExactlyWhereThereIsNoDepth},
    {"AlignToDepth", AlignGivesColourTheDepthGrid},
    {"FramesAreSharedHandles", FramesAreSharedHandles},
    {"FrameSetsHaveFreshPixels", EachFrameSetHasFreshPixels},
    {"WaitForFramesPaced", WaitForFramesPacesFrameSets},
    {"WaitForFramesTimeOut", WaitForFramesTimesOut},
    {"StopEndsWaitForFrames", StopEndsAWaitInProgress},
    {"VisualPresetOnFirstSensor", VisualPresetIsAnOptionOfTheFirstSensor},
    {"RefusedOption", RefusedOptionThrows},
};

class SdkBehaviour : public ::testing::TestWithParam<Behaviour> {};

TEST_P(SdkBehaviour, AsDocumented) {
    GetParam().check();
}

INSTANTIATE_TEST_SUITE_P(Calls, SdkBehaviour, ::testing::ValuesIn(kBehaviours),
                         [](const ::testing::TestParamInfo<Behaviour>& param_info) {
                             return std::string(param_info.param.name);
                         });

}  // namespace
