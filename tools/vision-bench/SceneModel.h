// Simulated scenes for the vision module's tests and benchmark, and what the box measurement
// should give for them: the scene-file text, and the measuring algorithm applied to the ideal,
// unrasterised outline of the box as the camera sees it.
#pragma once

#include <librealsense2/rs.h>

#include <array>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace visionbench {

// Millimetres and degrees, in the simulated camera's floor coordinates (x to the image's right,
// y to its bottom, origin straight below the camera).
struct BoxOnFloor {
    double length = 0;
    double width = 0;
    double height = 0;
    double x = 0;
    double y = 0;
    double rotation = 0;
};

struct ArmOverBorder {
    std::string from = "right";
    double tipX = 0;
    double tipY = 0;
    double height = 400;
};

struct NoDepth {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct SimulatedScene {
    double floorDistance = 1500;
    std::vector<BoxOnFloor> boxes;
    std::vector<ArmOverBorder> arms;
    std::vector<NoDepth> noDepth;
    double noiseAt1m = 0;
    unsigned noiseSeed = 1;
    // Extra text for the [faults] table, e.g. "stop_after_framesets = 3".
    std::string faults;
};

// The scene in the simulated camera's file format.
std::string SceneToml(const SimulatedScene& scene);

// What the box measurement gives for one box on an otherwise empty floor, computed on the
// box's exact outline instead of a picture: the outline is everything of the box higher than
// the filter's cut above the floor, which includes the walls facing the camera.
struct Expected {
    std::array<cv::Point2f, 4> corners;  // the outline's minimum-area rectangle, pixels
    float centreDepthMm = 0;             // depth at the rectangle's centre pixel (0: none)
    float x = 0;                         // sides as the measurement orders them, mm
    float y = 0;
    float z = 0;
    double pixelMm = 0;  // size of one pixel at the centre depth, the larger of the two axes
};

Expected PredictMeasure(const BoxOnFloor& box, double floorMm, const rs2_intrinsics& depth,
                        double cutAboveFloorMm = 30);

// Depth in whole millimetres along the ray of pixel (u, v), as the simulated camera renders it:
// the first surface of `box` or the floor.
double RayDepthMm(const BoxOnFloor& box, double floorMm, const rs2_intrinsics& depth, int u, int v);

}  // namespace visionbench
