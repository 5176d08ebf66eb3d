// The vision module: owns the depth camera, fixes the floor distance and measures boxes.
#pragma once

#include <librealsense2/rs.hpp>

#include <array>
#include <string>

#include <opencv2/core.hpp>

#include "Configuration.h"
#include "CoreParams.h"
#include "ErrorParser.h"
#include "Measurement.h"

namespace visionmod {

class Vision {
  public:
    Vision();

    // Serves calibration and measurement requests until the application stops.
    // 0: stopped on request; 1: the mock picture could not be put in place; 2: an error (the
    // camera could not be started, or an exception ended the loop).
    int Run(bool disable_lidar);

    // Starts the camera: depth 1280 × 720 Z16 at 6 fps and the default colour stream, with the
    // preset and the depth limits of the measuring parameters. False when it cannot.
    bool Init();

    // Takes the distance at the centre of `depth` as the floor: MAX_DEPTH and the filter's far
    // limit 30 mm short of it. False when the centre is nearer than 31 mm or has no depth.
    bool FixMaxDistance(const rs2::depth_frame& depth);
    double GetMinDistanceMm(const rs2::depth_frame& depth);
    double GetCenterDistanceMm(const rs2::depth_frame& depth);
    rs2::depth_frame PolarToCartesian(const rs2::depth_frame& depth);

    // Measures the box in one depth frame and the colour frame aligned to it, writing x, y, z
    // and the hands flag. True only when the colourised depth has no pixel data.
    bool Measure(const rs2::depth_frame& depth, const rs2::video_frame& color, bool debug,
                 bool printImage);
    // Blacks out `image` outside the measuring region; the result shares its pixels.
    cv::Mat IgnoreNotRegionArea(float regionWidthInMm, float regionHeightInMm, cv::Mat image,
                                float distance);
    double GetPxmmWidth(int widthPx, double distance, double angle);
    double GetPxmmHeight(int heightPx, double distance, double angle);
    cv::Point2f GetMiddlePoint(cv::Point2f a, cv::Point2f b);
    void SavePicture(const cv::Mat& picture);
    bool CheckHands(const std::array<cv::Point2f, 4>& Points, float xMin, float yMin, float xMax,
                    float yMax);

    ErrorParser errror_parser;
    bool handsCheckingEnabled = true;
    std::string VISION = "Vision: ";
    Measurement* measurement;
    CoreParams* coreParams;
    Configuration* configuration;
    int lidarResolutionWidth = 1280;
    int lidarResolutionHeight = 720;
    double regionWidthInPx = 0;
    double regionHeightInPx = 0;
    rs2::pipeline pipe{rs2::context()};
    rs2::config cfg;
    std::string serial;
    rs2::threshold_filter thrFilter{0.15f, 4.0f};
    rs2::colorizer colorFilter;

  private:
    int RunLive();
    int RunMock();
    // Sets the hands flag from the rectangle's corners, with the diagnostic and warning lines.
    void CheckHandsInRegion(const std::array<cv::Point2f, 4>& points, int width, int height);
};

}  // namespace visionmod
