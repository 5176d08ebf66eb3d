// The simulated camera renders geometrically right: depths are true distances along the
// camera axis, and a box top deprojected at its depth has the box's true side lengths.
#include <gtest/gtest.h>
#include <librealsense2/rsutil.h>
#include <simcam/scene.h>
#include <librealsense2/rs.hpp>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "SimcamTestSupport.h"

namespace {

using simcamtest::FrameSetOf;
using simcamtest::Z16;

const double kPi = std::acos(-1.0);

struct BoxCase {
    const char* name;
    double floor;
    double length, width, height, x, y, rotation;
    const char* camera;  // extra [camera] lines
};

void PrintTo(const BoxCase& value, std::ostream* out) {
    *out << value.name;
}

std::string SceneOf(const BoxCase& c) {
    std::ostringstream toml;
    toml << "[camera]\nfloor_distance = " << c.floor << "\n"
         << c.camera << "\n[[box]]\nlength = " << c.length << "\nwidth = " << c.width
         << "\nheight = " << c.height << "\nx = " << c.x << "\ny = " << c.y
         << "\nrotation = " << c.rotation << "\n";
    return toml.str();
}

struct Pixel {
    double u, v;
};

Pixel Project(const rs2_intrinsics& in, double x, double y, double z) {
    return {in.ppx + in.fx * x / z, in.ppy + in.fy * y / z};
}

int DepthAt(const rs2::depth_frame& depth, Pixel p) {
    return Z16(depth, static_cast<int>(std::lround(p.u)), static_cast<int>(std::lround(p.v)));
}

class BoxGeometry : public ::testing::TestWithParam<BoxCase> {
  protected:
    void SetUp() override {
        frames_ = FrameSetOf(SceneOf(GetParam()));
        depth_ = frames_.get_depth_frame();
        in_ = depth_.get_profile().as<rs2::video_stream_profile>().get_intrinsics();
    }

    double Top() const { return GetParam().floor - GetParam().height; }

    // The corners of the box top, in order around it, in camera space (mm).
    std::vector<cv::Point2d> TopCorners() const {
        const BoxCase& c = GetParam();
        const double cos_r = std::cos(c.rotation * kPi / 180);
        const double sin_r = std::sin(c.rotation * kPi / 180);
        std::vector<cv::Point2d> corners;
        for (const auto& [dl, dw] :
             {std::pair(-1, -1), std::pair(1, -1), std::pair(1, 1), std::pair(-1, 1)}) {
            const double along = dl * c.length / 2;
            const double across = dw * c.width / 2;
            corners.emplace_back(c.x + along * cos_r - across * sin_r,
                                 c.y + along * sin_r + across * cos_r);
        }
        return corners;
    }

    rs2::frameset frames_;
    rs2::depth_frame depth_ = rs2::frame();
    rs2_intrinsics in_{};
};

TEST_P(BoxGeometry, DepthAtChosenPixelsIsTheTrueDistance) {
    const BoxCase& c = GetParam();
    EXPECT_EQ(DepthAt(depth_, Project(in_, c.x, c.y, Top())), Top());
    const Pixel centre = Project(in_, c.x, c.y, Top());
    for (const cv::Point2d& corner : TopCorners()) {
        // Just inside each top corner the top is seen; just outside, something deeper.
        const Pixel p = Project(in_, corner.x, corner.y, Top());
        const double du = centre.u - p.u;
        const double dv = centre.v - p.v;
        const double step = 3.5 / std::hypot(du, dv);
        EXPECT_EQ(DepthAt(depth_, {p.u + du * step, p.v + dv * step}), Top())
            << "inside corner (" << corner.x << ", " << corner.y << ")";
        EXPECT_GT(DepthAt(depth_, {p.u - du * step, p.v - dv * step}), Top())
            << "outside corner (" << corner.x << ", " << corner.y << ")";
    }
    for (const auto& [u, v] :
         {std::pair(0, 0), std::pair(1279, 0), std::pair(0, 719), std::pair(1279, 719)}) {
        EXPECT_EQ(Z16(depth_, u, v), std::lround(c.floor)) << u << ", " << v;
    }
}

// A pixel whose ray meets a side face less than half a millimetre below the top rounds to the
// top's depth; at the top's plane that ray passes at most this far outside the top's edge.
constexpr double kRoundingSlackMm = 0.35;

TEST_P(BoxGeometry, TopIsSeenExactlyWhereItsPixelsDeprojectInsideIt) {
    const BoxCase& c = GetParam();
    const double cos_r = std::cos(c.rotation * kPi / 180);
    const double sin_r = std::sin(c.rotation * kPi / 180);
    const float depth_m = static_cast<float>(Top() / 1000);
    int wrong = 0;
    for (int v = 0; v < depth_.get_height(); ++v) {
        for (int u = 0; u < depth_.get_width(); ++u) {
            const float pixel[2] = {static_cast<float>(u), static_cast<float>(v)};
            float point[3];
            rs2_deproject_pixel_to_point(point, &in_, pixel, depth_m);
            const double dx = point[0] * 1000.0 - c.x;
            const double dy = point[1] * 1000.0 - c.y;
            // Signed distance outside the top's rectangle, in mm (negative inside).
            const double outside = std::max(std::abs(dx * cos_r + dy * sin_r) - c.length / 2,
                                            std::abs(-dx * sin_r + dy * cos_r) - c.width / 2);
            const bool sees_top = Z16(depth_, u, v) == Top();
            if ((outside < -0.01 && !sees_top) || (outside > kRoundingSlackMm && sees_top)) {
                ++wrong;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_P(BoxGeometry, TopCornersDeprojectToTheTrueSides) {
    const BoxCase& c = GetParam();
    // Every pixel that sees the top, deprojected at the top's depth onto the top's plane (mm).
    const float depth_m = static_cast<float>(Top() / 1000);
    std::vector<cv::Point2f> top;
    for (int v = 0; v < depth_.get_height(); ++v) {
        for (int u = 0; u < depth_.get_width(); ++u) {
            if (Z16(depth_, u, v) == Top()) {
                const float pixel[2] = {static_cast<float>(u), static_cast<float>(v)};
                float point[3];
                rs2_deproject_pixel_to_point(point, &in_, pixel, depth_m);
                top.emplace_back(point[0] * 1000, point[1] * 1000);
            }
        }
    }
    ASSERT_FALSE(top.empty());
    // The corners of the smallest rectangle around those pixel centres. The centres lie up to
    // one pixel inside the top's edges, so across the top they span the true side less between
    // nothing and two footprints; adding one footprint centres the error.
    const cv::RotatedRect outline = cv::minAreaRect(top);
    cv::Point2f corners[4];
    outline.points(corners);
    const double footprint_x = Top() / in_.fx;
    const double footprint_y = Top() / in_.fy;
    const double pixel_mm = (footprint_x + footprint_y) / 2;
    std::vector<double> sides = {cv::norm(corners[0] - corners[1]) + pixel_mm,
                                 cv::norm(corners[1] - corners[2]) + pixel_mm};
    std::sort(sides.begin(), sides.end());
    const double tolerance = std::max(footprint_x, footprint_y) + 2 * kRoundingSlackMm;
    EXPECT_NEAR(sides[0], std::min(c.length, c.width), tolerance);
    EXPECT_NEAR(sides[1], std::max(c.length, c.width), tolerance);
}

const BoxCase kBoxes[] = {
    {"Centred", 1500, 400, 300, 200, 0, 0, 0, ""},
    {"OffCentre", 1500, 400, 300, 200, 250, -120, 0, ""},
    {"Rotated", 1500, 500, 250, 300, 0, 0, 30, ""},
    {"RotatedOffCentre", 2000, 350, 200, 150, -300, 150, 60, ""},
    {"WideLens", 1200, 600, 420, 250, 180, 60, 0, "fov = [86.0, 57.0]"},
    {"GivenIntrinsics", 1500, 300, 300, 100, 100, 50, 15,
     "fx = 900.0\nfy = 950.0\nppx = 600.0\nppy = 380.0"},
};

INSTANTIATE_TEST_SUITE_P(Boxes, BoxGeometry, ::testing::ValuesIn(kBoxes),
                         [](const ::testing::TestParamInfo<BoxCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

TEST(SideFaceGeometry, FacesTurnedToTheCameraHavePerspectiveDepth) {
    // One box right of the camera axis shows its left face (x = 50 mm), one below the axis shows
    // its upper face (y = 150 mm); the ray of a pixel meets such a face at depth X f / offset.
    const rs2::depth_frame depth = FrameSetOf(R"(
[camera]
floor_distance = 1500
[[box]]
length = 400
width = 300
height = 200
x = 250
y = -120
[[box]]
length = 200
width = 200
height = 300
x = -250
y = 250
)")
                                       .get_depth_frame();
    const rs2_intrinsics in = depth.get_profile().as<rs2::video_stream_profile>().get_intrinsics();

    const Pixel left = Project(in, 50, -120, 1400);
    const long u = std::lround(left.u);
    const double left_depth = 50 * in.fx / (static_cast<double>(u) - in.ppx);
    ASSERT_GT(left_depth, 1300);
    ASSERT_LT(left_depth, 1500);
    EXPECT_EQ(Z16(depth, static_cast<int>(u), static_cast<int>(std::lround(left.v))),
              std::lround(left_depth));

    const Pixel upper = Project(in, -250, 150, 1350);
    const long v = std::lround(upper.v);
    const double upper_depth = 150 * in.fy / (static_cast<double>(v) - in.ppy);
    ASSERT_GT(upper_depth, 1200);
    ASSERT_LT(upper_depth, 1500);
    EXPECT_EQ(Z16(depth, static_cast<int>(std::lround(upper.u)), static_cast<int>(v)),
              std::lround(upper_depth));
}

TEST(ArmGeometry, ArmReachesInOverTheBorderAtItsHeight) {
    const rs2::depth_frame depth = FrameSetOf(R"(
[camera]
floor_distance = 1500
[[arm]]
from = "right"
tip = [200, 0]
width = 100
thickness = 60
height = 400
[[arm]]
from = "top"
tip = [-300, -100]
width = 80
height = 300
)")
                                       .get_depth_frame();
    const rs2_intrinsics in = depth.get_profile().as<rs2::video_stream_profile>().get_intrinsics();
    EXPECT_EQ(Z16(depth, 1279, 360), 1100);  // at the border
    EXPECT_EQ(DepthAt(depth, Project(in, 210, 0, 1100)), 1100);
    EXPECT_EQ(DepthAt(depth, Project(in, 210, 60, 1100)), 1500);  // beside it
    EXPECT_EQ(DepthAt(depth, Project(in, 190, 0, 1500)), 1500);   // short of its tip
    // The tip's face at x = 200 mm, seen from above at an angle.
    const long u = std::lround(Project(in, 200, 0, 1130).u);
    EXPECT_EQ(Z16(depth, static_cast<int>(u), 360),
              std::lround(200 * in.fx / (static_cast<double>(u) - in.ppx)));
    EXPECT_EQ(DepthAt(depth, Project(in, -300, -400, 1200)), 1200);
    EXPECT_EQ(Z16(depth, static_cast<int>(std::lround(Project(in, -300, 0, 1200).u)), 0), 1200);
}

class Noise : public ::testing::Test {
  protected:
    static simcam::Scene Floor(double distance, double sigma) {
        std::ostringstream toml;
        toml << "[camera]\nfloor_distance = " << distance << "\n[noise]\nsigma_at_1m = " << sigma
             << "\n";
        return simcam::ParseScene(toml.str(), "noise.toml");
    }

    static std::vector<std::uint16_t> Render(const simcam::Scene& scene, unsigned long long frame) {
        std::vector<std::uint16_t> depth(1280 * 720);
        simcam::RenderDepth(scene, scene.depth, frame, depth.data());
        return depth;
    }

    static std::pair<double, double> MeanAndDeviation(const std::vector<std::uint16_t>& depth) {
        double sum = 0;
        double squares = 0;
        for (const std::uint16_t value : depth) {
            sum += value;
            squares += static_cast<double>(value) * value;
        }
        const double n = static_cast<double>(depth.size());
        const double mean = sum / n;
        return {mean, std::sqrt(squares / n - mean * mean)};
    }
};

TEST_F(Noise, DeviationGrowsWithTheSquareOfDepth) {
    for (const double distance : {1000.0, 2000.0, 3000.0}) {
        const auto [mean, deviation] = MeanAndDeviation(Render(Floor(distance, 2.0), 1));
        const double expected = 2.0 * (distance / 1000) * (distance / 1000);
        EXPECT_NEAR(mean, distance, 0.1) << distance;
        EXPECT_NEAR(deviation, expected, 0.1 * expected) << distance;
    }
}

TEST_F(Noise, IsAFunctionOfPixelAndFrameNumber) {
    const simcam::Scene scene = Floor(1500, 2.0);
    EXPECT_EQ(Render(scene, 4), Render(scene, 4));
    EXPECT_NE(Render(scene, 4), Render(scene, 5));
    const std::vector<std::uint16_t> quiet = Render(Floor(1500, 0), 4);
    EXPECT_TRUE(std::all_of(quiet.begin(), quiet.end(), [](std::uint16_t v) { return v == 1500; }));
}

}  // namespace
