#include "SceneModel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include <opencv2/imgproc.hpp>

namespace visionbench {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Footprint corners, counter-clockwise in floor coordinates.
std::array<cv::Point2d, 4> Footprint(const BoxOnFloor& box) {
    const double turn = box.rotation * kPi / 180;
    const cv::Point2d along(std::cos(turn) * box.length / 2, std::sin(turn) * box.length / 2);
    const cv::Point2d across(-std::sin(turn) * box.width / 2, std::cos(turn) * box.width / 2);
    const cv::Point2d centre(box.x, box.y);
    return {centre + along + across, centre - along + across, centre - along - across,
            centre + along - across};
}

cv::Point2f Project(const cv::Point2d& floorPoint, double depthMm, const rs2_intrinsics& in) {
    return cv::Point2f(static_cast<float>(in.ppx + in.fx * floorPoint.x / depthMm),
                       static_cast<float>(in.ppy + in.fy * floorPoint.y / depthMm));
}

// The camera library's deprojection for a camera without distortion, in metres.
cv::Point2f Deproject(const cv::Point2f& pixel, float depthMetres, const rs2_intrinsics& in) {
    return cv::Point2f((pixel.x - in.ppx) / in.fx * depthMetres,
                       (pixel.y - in.ppy) / in.fy * depthMetres);
}

}  // namespace

std::string SceneToml(const SimulatedScene& scene) {
    std::ostringstream toml;
    toml << "[camera]\nfloor_distance = " << scene.floorDistance << "\n";
    for (const BoxOnFloor& box : scene.boxes) {
        toml << "\n[[box]]\nlength = " << box.length << "\nwidth = " << box.width
             << "\nheight = " << box.height << "\nx = " << box.x << "\ny = " << box.y
             << "\nrotation = " << box.rotation << "\n";
    }
    for (const ArmOverBorder& arm : scene.arms) {
        toml << "\n[[arm]]\nfrom = \"" << arm.from << "\"\ntip = [" << arm.tipX << ", " << arm.tipY
             << "]\nheight = " << arm.height << "\n";
    }
    for (const NoDepth& patch : scene.noDepth) {
        toml << "\n[[no_depth]]\nx = " << patch.x << "\ny = " << patch.y
             << "\nwidth = " << patch.width << "\nheight = " << patch.height << "\n";
    }
    if (scene.noiseAt1m > 0) {
        toml << "\n[noise]\nsigma_at_1m = " << scene.noiseAt1m << "\nseed = " << scene.noiseSeed
             << "\n";
    }
    if (!scene.faults.empty()) {
        toml << "\n[faults]\n" << scene.faults << "\n";
    }
    return toml.str();
}

double RayDepthMm(const BoxOnFloor& box, double floorMm, const rs2_intrinsics& depth, int u,
                  int v) {
    const cv::Point2d direction((u - depth.ppx) / depth.fx, (v - depth.ppy) / depth.fy);
    // The ray's floor point at depth t is direction * t; the footprint holds it for t in an
    // interval, cut from every edge's half-plane.
    double enter = floorMm - box.height;
    double leave = floorMm;
    const auto corners = Footprint(box);
    for (size_t i = 0; i < corners.size(); ++i) {
        const cv::Point2d edge = corners[(i + 1) % corners.size()] - corners[i];
        const cv::Point2d outward(edge.y, -edge.x);
        const double limit = outward.dot(corners[i]);
        const double rate = outward.dot(direction);
        if (rate > 0) {
            leave = std::min(leave, limit / rate);
        } else if (rate < 0) {
            enter = std::max(enter, limit / rate);
        } else if (limit < 0) {
            return std::round(floorMm);
        }
    }
    return std::round(enter <= leave ? enter : floorMm);
}

Expected PredictMeasure(const BoxOnFloor& box, double floorMm, const rs2_intrinsics& depth,
                        double cutAboveFloorMm) {
    std::vector<cv::Point2f> outline;
    for (const cv::Point2d& corner : Footprint(box)) {
        outline.push_back(Project(corner, floorMm - box.height, depth));
        if (box.height > cutAboveFloorMm) {
            outline.push_back(Project(corner, floorMm - cutAboveFloorMm, depth));
        }
    }
    Expected expected;
    cv::minAreaRect(outline).points(expected.corners.data());
    const cv::Point2f centre((expected.corners[0].x + expected.corners[2].x) * 0.5f,
                             (expected.corners[0].y + expected.corners[2].y) * 0.5f);
    double centreDepth =
        RayDepthMm(box, floorMm, depth, static_cast<int>(centre.x), static_cast<int>(centre.y));
    if (centreDepth > floorMm - cutAboveFloorMm) {
        centreDepth = 0;
    }
    expected.centreDepthMm = static_cast<float>(centreDepth);
    const float metres = expected.centreDepthMm / 1000;
    std::array<cv::Point2f, 4> floorCorners;
    for (size_t i = 0; i < floorCorners.size(); ++i) {
        floorCorners[i] = Deproject(expected.corners[i], metres, depth);
    }
    expected.x = static_cast<float>(cv::norm(floorCorners[1] - floorCorners[2]) * 1000.0);
    expected.y = static_cast<float>(cv::norm(floorCorners[2] - floorCorners[3]) * 1000.0);
    expected.z = static_cast<float>(floorMm) - metres * 1000;
    expected.pixelMm = centreDepth / std::min(depth.fx, depth.fy);
    return expected;
}

}  // namespace visionbench
