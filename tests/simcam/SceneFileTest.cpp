// Scene files: what they may say, how a change on disk reaches a running camera, and the render
// tool that shows a scene as pictures.
#include <gtest/gtest.h>
#include <simcam/scene.h>
#include <librealsense2/rs.hpp>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>

#include "SimcamTestSupport.h"

namespace {

using simcamtest::Camera;
using simcamtest::SceneFile;
using simcamtest::StderrCapture;
using simcamtest::Z16;
using testsupport::FileExists;
using testsupport::TempDir;

std::string BoxAt(int x) {
    return "[camera]\nfloor_distance = 1500\n[[box]]\nlength = 200\nwidth = 200\nheight = 300\n"
           "x = " +
           std::to_string(x) + "\n";
}

// The column of the image centre row where the box top is seen for a box centred at x = 300.
constexpr int kRightColumn = 640 + 1004 * 300 / 1200;

TEST(SceneChange, ShowsInTheNextFrameSet) {
    const SceneFile scene(BoxAt(0));
    const Camera camera;
    rs2::depth_frame depth = camera.pipe.wait_for_frames().get_depth_frame();
    ASSERT_EQ(Z16(depth, 640, 360), 1200);
    ASSERT_EQ(Z16(depth, kRightColumn, 360), 1500);

    scene.Replace(BoxAt(300));
    depth = camera.pipe.wait_for_frames().get_depth_frame();
    EXPECT_EQ(Z16(depth, 640, 360), 1500);
    EXPECT_EQ(Z16(depth, kRightColumn, 360), 1200);
}

TEST(SceneChange, BrokenFileKeepsThePreviousSceneAndSaysSoOnce) {
    const SceneFile scene(BoxAt(0));
    const Camera camera;
    camera.pipe.wait_for_frames();
    StderrCapture errors;
    scene.Replace("[camera]\nfloor_distance = 1500\n[[box]]\nlength = 200\n");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Z16(camera.pipe.wait_for_frames().get_depth_frame(), 640, 360), 1200);
    }
    const std::string text = errors.Text();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_NE(text.find("keeping the previous scene: " + scene.path() + ":3: 'width' is missing"),
              std::string::npos)
        << text;

    scene.Replace(BoxAt(300));
    EXPECT_EQ(Z16(camera.pipe.wait_for_frames().get_depth_frame(), kRightColumn, 360), 1200);
}

TEST(SceneChange, FaultsTakeEffectWhileStreaming) {
    const SceneFile scene(BoxAt(0));
    const Camera camera;
    camera.pipe.wait_for_frames();
    scene.Replace(BoxAt(0) + "[faults]\nstop_after_framesets = 1\n");
    EXPECT_THROW(camera.pipe.wait_for_frames(20), rs2::error);
}

struct BadScene {
    const char* name;
    const char* toml;
    const char* says;
};

void PrintTo(const BadScene& value, std::ostream* out) {
    *out << value.name;
}

const BadScene kBadScenes[] = {
    {"NoCamera", "[[box]]\nlength = 1\nwidth = 1\nheight = 1\n", "the [camera] table is missing"},
    {"NoFloor", "[camera]\nfov = [60, 40]\n", "'floor_distance' is missing"},
    {"FloorTooFar", "[camera]\nfloor_distance = 70000\n", "between 1 and 65535 mm"},
    {"UnknownKeys", "[camera]\nfloor_distance = 1500\nheigth = 3\nfocus = 1\n",
     "unknown key 'focus', 'heigth' in [camera]"},
    {"UnknownTable", "[camera]\nfloor_distance = 1500\n[lights]\n", "unknown key 'lights'"},
    {"FovAndFocalLength", "[camera]\nfloor_distance = 1500\nfov = [60, 40]\nfx = 900\nfy = 900\n",
     "either 'fov' or 'fx' and 'fy'"},
    {"FovOutOfRange", "[camera]\nfloor_distance = 1500\nfov = [180, 40]\n",
     "between 0 and 180 degrees"},
    {"FocalLengthAlone", "[camera]\nfloor_distance = 1500\nfx = 900\n", "'fy' is missing"},
    {"BoxAsTable", "[camera]\nfloor_distance = 1500\n[box]\nlength = 1\n",
     "array of tables ([[box]])"},
    {"BoxTallerThanFloor",
     "[camera]\nfloor_distance = 1500\n[[box]]\nlength = 1\nwidth = 1\nheight = 1500\n",
     "less than the floor distance"},
    {"ColourOutOfRange",
     "[camera]\nfloor_distance = 1500\n[[box]]\nlength = 1\nwidth = 1\nheight = 1\n"
     "color = [0, 256, 0]\n",
     "three whole numbers 0 to 255"},
    {"ArmFromNowhere", "[camera]\nfloor_distance = 1500\n[[arm]]\nfrom = \"up\"\ntip = [0, 0]\n",
     "\"left\", \"right\", \"top\" or \"bottom\""},
    {"PatchNotWhole",
     "[camera]\nfloor_distance = 1500\n[[no_depth]]\nx = 1.5\ny = 0\nwidth = 1\nheight = 1\n",
     "'x' must be a whole number"},
    {"UnknownDevices", "[camera]\nfloor_distance = 1500\n[faults]\ndevices = \"d435\"\n",
     "\"d400\", \"none\", \"depth-only\" or \"split\""},
    {"NegativeStop", "[camera]\nfloor_distance = 1500\n[faults]\nstop_after_framesets = -1\n",
     "must not be negative"},
    {"UnknownOption", "[camera]\nfloor_distance = 1500\n[faults]\nrefuse_option = \"GAIN\"\n",
     "'refuse_option' must be \"VISUAL_PRESET\""},
    {"NotToml", "[camera\nfloor_distance = 1500\n", "scene.toml"},
};

class BadSceneFile : public ::testing::TestWithParam<BadScene> {};

TEST_P(BadSceneFile, IsRefusedWithAOneLineReason) {
    try {
        simcam::ParseScene(GetParam().toml, "scene.toml");
        FAIL() << "accepted";
    } catch (const simcam::SceneError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find(GetParam().says), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_EQ(message.rfind("scene.toml", 0), 0u) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, BadSceneFile, ::testing::ValuesIn(kBadScenes),
                         [](const ::testing::TestParamInfo<BadScene>& param_info) {
                             return std::string(param_info.param.name);
                         });

TEST(SceneFileFormat, ReadsEveryKey) {
    const simcam::Scene scene = simcam::ParseScene(R"(
[camera]
floor_distance = 1800.5
fx = 900
fy = 950.5
ppx = 600
color_fov = [70, 45]
serial_number = "CAM7"
floor_color = [1, 2, 3]
[[box]]
length = 10
width = 20
height = 30
x = -4
y = 5.5
rotation = 12
color = [7, 8, 9]
[[arm]]
from = "bottom"
tip = [1, 2]
width = 3
thickness = 4
height = 5
color = [10, 11, 12]
[[no_depth]]
x = 1
y = 2
width = 3
height = 4
[noise]
sigma_at_1m = 0.5
seed = 9
[faults]
devices = "split"
serial = false
stop_after_framesets = 0
refuse_option = "VISUAL_PRESET"
)",
                                                   "all.toml");
    EXPECT_EQ(scene.floor_distance, 1800.5);
    EXPECT_EQ(scene.depth.fx, 900.f);
    EXPECT_EQ(scene.depth.fy, 950.5f);
    EXPECT_EQ(scene.depth.ppx, 600.f);
    EXPECT_EQ(scene.depth.ppy, 360.f);
    EXPECT_NEAR(scene.color.fx, 640 / std::tan(35 * std::acos(-1.0) / 180), 1e-3);
    EXPECT_EQ(scene.serial_number, "CAM7");
    EXPECT_EQ(scene.floor_color.b, 3);
    ASSERT_EQ(scene.boxes.size(), 1u);
    EXPECT_EQ(scene.boxes[0].y, 5.5);
    EXPECT_EQ(scene.boxes[0].rotation, 12);
    EXPECT_EQ(scene.boxes[0].color.g, 8);
    ASSERT_EQ(scene.arms.size(), 1u);
    EXPECT_EQ(scene.arms[0].from, simcam::Border::Bottom);
    EXPECT_EQ(scene.arms[0].tip_y, 2);
    EXPECT_EQ(scene.arms[0].thickness, 4);
    ASSERT_EQ(scene.no_depth.size(), 1u);
    EXPECT_EQ(scene.no_depth[0].height, 4);
    EXPECT_EQ(scene.noise_at_1m, 0.5);
    EXPECT_EQ(scene.noise_seed, 9u);
    EXPECT_EQ(scene.faults.devices, simcam::DeviceSetup::Split);
    EXPECT_FALSE(scene.faults.serial);
    EXPECT_EQ(scene.faults.stop_after_framesets, 0u);
    EXPECT_EQ(scene.faults.refuse_option, RS2_OPTION_VISUAL_PRESET);
}

TEST(SceneFileFormat, ShippedScenesLoad) {
    for (const char* name : {"box-centred.toml", "box-and-arm.toml"}) {
        EXPECT_NO_THROW(simcam::LoadScene(std::string(SOURCE_DIR) + "/simcam/scenes/" + name))
            << name;
    }
    EXPECT_THROW(simcam::LoadScene("/nonexistent/scene.toml"), simcam::SceneError);
}

// Width and height from a PNG file's header. Decoding the pictures here would load OpenCV's
// codecs, and with them GDAL, into this process as well.
std::pair<int, int> PngSize(const std::string& path) {
    const std::string png = testsupport::ReadFile(path);
    if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
        png.compare(12, 4, "IHDR") != 0) {
        return {0, 0};
    }
    const auto word = [&](size_t at) {
        int value = 0;
        for (size_t i = at; i < at + 4; ++i) {
            value = value * 256 + static_cast<unsigned char>(png[i]);
        }
        return value;
    };
    return {word(16), word(20)};
}

TEST(RenderTool, WritesDepthAndColourPictures) {
    const TempDir out;
    testsupport::ChildProcess tool(
        SIMCAM_RENDER_BINARY,
        {std::string(SOURCE_DIR) + "/simcam/scenes/box-and-arm.toml", out.path()});
    ASSERT_EQ(tool.WaitExit(), 0) << tool.Errors();
    for (const char* name : {"depth.png", "color.png", "color-aligned.png"}) {
        EXPECT_EQ(PngSize(out / name), std::pair(1280, 720)) << name;
    }
    EXPECT_NE(tool.Output().find("render: 1280x720 depth"), std::string::npos) << tool.Output();
}

TEST(RenderTool, SaysWhenTheSceneHasNoCamera) {
    const TempDir out;
    testsupport::WriteFile(out / "none.toml",
                           "[camera]\nfloor_distance = 1500\n[faults]\ndevices = \"none\"\n");
    testsupport::ChildProcess tool(SIMCAM_RENDER_BINARY, {out / "none.toml", out.path()});
    EXPECT_EQ(tool.WaitExit(), 1);
    EXPECT_NE(tool.Errors().find("no camera"), std::string::npos) << tool.Errors();
    EXPECT_FALSE(FileExists(out / "depth.png"));
}

}  // namespace
