#include "Vision.h"

#include <librealsense2/rsutil.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <typeinfo>
#include <vector>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "FreshFile.h"
#include "ImageSteps.h"
#include "device_with_streams.h"

namespace visionmod {

namespace {

constexpr useconds_t kLoopPause = 100 * 1000;
constexpr unsigned int kFrameTimeoutMs = 15000;
// During calibration the filter must let the floor through, wherever it is.
constexpr float kCalibrationFarLimit = 16.0f;
// The filter's far limit sits this far short of the floor, so the floor carries no depth.
constexpr float kFloorMarginMm = 30;
constexpr double kNearestFloorMm = 31.0;
constexpr float kMockX = 123000;
constexpr float kMockY = 456000;
constexpr float kMockZ = 789000;
const char* const kPictureDirectory = "/tmp/";

// After an error the operator at a console gets a chance to read it; without input it goes on.
void WaitForOperator() {
    const int ignored = std::scanf("a");
    (void)ignored;
}

// An 8-bit 3-channel image of `size` over the frame's own pixels (no copy), or an empty image
// when the frame has no such pixels to offer; reading past a frame's buffer is never an option.
cv::Mat WrapPixels(const rs2::video_frame& frame, cv::Size size) {
    if (!frame || frame.get_data() == nullptr || frame.get_bytes_per_pixel() != 3 ||
        frame.get_width() < size.width || frame.get_height() < size.height || size.area() == 0) {
        return cv::Mat();
    }
    return cv::Mat(size, CV_8UC3, const_cast<void*>(frame.get_data()),
                   static_cast<size_t>(frame.get_stride_in_bytes()));
}

cv::Size FrameSize(const rs2::video_frame& frame) {
    return frame ? cv::Size(frame.get_width(), frame.get_height()) : cv::Size();
}

cv::Point2f Deproject(const rs2_intrinsics& intrinsics, cv::Point2f pixel, float depth,
                      float* planarPoint3d) {
    const float coordinates[2] = {pixel.x, pixel.y};
    rs2_deproject_pixel_to_point(planarPoint3d, &intrinsics, coordinates, depth);
    return cv::Point2f(planarPoint3d[0], planarPoint3d[1]);
}

}  // namespace

Vision::Vision()
    : errror_parser(::VISION),
      measurement(Measurement::getInstance()),
      coreParams(CoreParams::getInstance()),
      configuration(Configuration::getInstance()) {}

int Vision::Run(bool disable_lidar) {
    try {
        if (disable_lidar) {
            return RunMock();
        }
        return RunLive();
    } catch (const rs2::error& error) {
        std::cerr << "RealSense error calling " + error.get_failed_function() + "(" +
                         error.get_failed_args() + "):\n    " + error.what()
                  << std::endl;
        WaitForOperator();
        return 2;
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
        WaitForOperator();
        return 2;
    }
}

bool Vision::Init() {
    try {
        if (!device_with_streams({RS2_STREAM_COLOR, RS2_STREAM_DEPTH}, serial)) {
            return false;
        }
        if (!serial.empty()) {
            cfg.enable_device(serial);
        }
        cfg.enable_stream(RS2_STREAM_DEPTH, lidarResolutionWidth, lidarResolutionHeight,
                          RS2_FORMAT_Z16, 6);
        cfg.enable_stream(RS2_STREAM_COLOR, -1);
        rs2::pipeline_profile profile = pipe.start(cfg);
        rs2::device device = profile.get_device();
        // A camera without a serial number streams all the same; there is just none to show.
        const std::string lidarSerial = device.supports(RS2_CAMERA_INFO_SERIAL_NUMBER)
                                            ? device.get_info(RS2_CAMERA_INFO_SERIAL_NUMBER)
                                            : "";
        rs2::sensor sensor = device.query_sensors().at(0);
        std::cout << VISION + "Lidar serial is " + lidarSerial << std::endl;
        sensor.set_option(RS2_OPTION_VISUAL_PRESET,
                          static_cast<float>(configuration->GetVisualPreset()));
        thrFilter.set_option(RS2_OPTION_MIN_DISTANCE, configuration->GetDepth().first);
        std::ostringstream line;
        line << VISION << "Set MAX_DIST1 = " << configuration->GetDepth().second;
        std::cout << line.str() << std::endl;
        thrFilter.set_option(RS2_OPTION_MAX_DISTANCE, configuration->GetDepth().second);
        return true;
    } catch (const std::exception& error) {
        std::clog << typeid(error).name() << std::endl;
        return false;
    } catch (...) {
        std::clog << "null" << std::endl;
        return false;
    }
}

int Vision::RunLive() {
    if (!Init()) {
        errror_parser.Print(1);
        return 2;
    }
    rs2::align alignToDepth(RS2_STREAM_DEPTH);
    while (true) {
        if (coreParams->APPLICATION_STOP_REQUEST) {
            return 0;
        }
        usleep(kLoopPause);
        while (!measurement->is_calibrated.load(std::memory_order_acquire)) {
            if (coreParams->APPLICATION_STOP_REQUEST) {
                return 0;
            }
            thrFilter.set_option(RS2_OPTION_MAX_DISTANCE, kCalibrationFarLimit);
            rs2::frameset frames = alignToDepth.process(pipe.wait_for_frames(kFrameTimeoutMs));
            const rs2::depth_frame depth =
                thrFilter.process(frames.get_depth_frame()).as<rs2::depth_frame>();
            std::cout << VISION + "Calibrate 1 \n" << std::endl;
            if (FixMaxDistance(depth)) {
                std::cout << VISION + "Calibrate 2 \n" << std::endl;
                measurement->is_calibrated.store(true, std::memory_order_release);
            }
            usleep(kLoopPause);
        }
        if (measurement->is_measured.load(std::memory_order_acquire)) {
            continue;
        }
        rs2::frameset frames = alignToDepth.process(pipe.wait_for_frames(kFrameTimeoutMs));
        const rs2::video_frame color = frames.get_color_frame();
        const rs2::depth_frame depth =
            PolarToCartesian(thrFilter.process(frames.get_depth_frame()).as<rs2::depth_frame>());
        Measure(depth, color, false, true);
        measurement->MEASURE_ERROR_EMPTY_X = measurement->x == 0;
        measurement->MEASURE_ERROR_EMPTY_Y = measurement->y == 0;
        measurement->MEASURE_ERROR_EMPTY_Z = measurement->z == 0;
        measurement->is_measured.store(true, std::memory_order_release);
    }
}

int Vision::RunMock() {
    std::cout << VISION << "Start Mock Lidar" << std::endl;
    while (true) {
        if (coreParams->APPLICATION_STOP_REQUEST) {
            return 0;
        }
        if (!measurement->is_calibrated.load(std::memory_order_acquire)) {
            measurement->is_calibrated.store(true, std::memory_order_release);
        }
        if (!measurement->is_measured.load(std::memory_order_acquire)) {
            // The copy is made line by line, each line ended by "\n"; the stored picture's
            // last line thus gains a line end if it had none.
            std::ifstream source(coreParams->MockPngFile, std::ios::binary);
            std::string copy;
            for (std::string line; std::getline(source, line);) {
                copy += line;
                copy += '\n';
            }
            if (source.eof() && WriteFreshFile(coreParams->MockPngFile2, copy)) {
                std::cout << VISION << "Copy Finished \n" << std::flush;
            } else {
                WriteFreshFile(coreParams->MockPngFile2, "");
                std::cout << VISION << "Cannot read mock file" << std::endl;
            }
            if (std::rename(coreParams->MockPngFile2.c_str(), coreParams->PhotoPath.c_str()) != 0) {
                std::cout << VISION << "Error in renaming" << std::endl;
                return 1;
            }
            measurement->x = kMockX;
            measurement->y = kMockY;
            measurement->z = kMockZ;
            measurement->is_measured.store(true, std::memory_order_release);
        }
        usleep(kLoopPause);
    }
}

bool Vision::FixMaxDistance(const rs2::depth_frame& depth) {
    const double distance = GetMinDistanceMm(depth);
    if (distance < kNearestFloorMm) {
        std::cout << VISION + "Distance <= 0" << std::endl;
        return false;
    }
    // A distance out of range is refused here and the floor stays where it was.
    configuration->SetDepth({configuration->GetDepth().first, static_cast<float>(distance)});
    const float floor = configuration->GetDepth().second;
    const float farLimit = (floor - kFloorMarginMm) / 1000;
    std::ostringstream line;
    line << VISION << "Set MAX_DIST2 = " << farLimit;
    std::cout << line.str() << std::endl;
    thrFilter.set_option(RS2_OPTION_MAX_DISTANCE, farLimit);
    char fixed[64];
    std::snprintf(fixed, sizeof fixed, "Max distance fixed in %f mm", floor);
    std::cout << fixed + std::string("\n") << std::endl;
    return true;
}

double Vision::GetMinDistanceMm(const rs2::depth_frame& depth) {
    return GetCenterDistanceMm(depth);
}

double Vision::GetCenterDistanceMm(const rs2::depth_frame& depth) {
    const float metres = depth.get_distance(depth.get_width() / 2, depth.get_height() / 2);
    return metres * 1000.0f;
}

rs2::depth_frame Vision::PolarToCartesian(const rs2::depth_frame& depth) {
    return depth;
}

bool Vision::Measure(const rs2::depth_frame& depth, const rs2::video_frame& color, bool debug,
                     bool printImage) {
    const rs2_intrinsics inrist =
        depth.get_profile().as<rs2::video_stream_profile>().get_intrinsics();
    rs2::video_frame colorizedDepth = colorFilter.colorize(depth);
    cv::Mat image = WrapPixels(colorizedDepth, FrameSize(colorizedDepth));
    image = IgnoreNotRegionArea(configuration->GetRegion().first, configuration->GetRegion().second,
                                image, configuration->GetDepth().second);
    if (image.empty()) {
        // Reported as empty values, so that a picture-less pass never repeats the last box.
        measurement->x = 0;
        measurement->y = 0;
        measurement->z = 0;
        measurement->MEASURE_ERROR_HANDS_DETECTED = false;
        std::cout << VISION + "Image file not found\n" << std::flush;
        return true;
    }

    // The grey image gets a buffer of its own; colorizedDepth keeps the masked colour picture.
    cv::cvtColor(image, image, cv::COLOR_BGR2GRAY);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(image.clone(), contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);

    // A colour frame that does not cover the depth grid gets its outline on black instead.
    cv::Mat boxImage = WrapPixels(color, image.size());
    if (boxImage.empty()) {
        boxImage = cv::Mat::zeros(image.size(), CV_8UC3);
    }
    cv::Mat boxImageDepth = WrapPixels(colorizedDepth, image.size());
    cv::Mat contourImage = cv::Mat::zeros(image.size(), CV_8UC3);
    const cv::Scalar colors[3] = {cv::Scalar(255, 0, 0), cv::Scalar(0, 255, 0),
                                  cv::Scalar(0, 0, 255)};

    measurement->x = 0;
    measurement->y = 0;
    measurement->z = 0;
    measurement->MEASURE_ERROR_HANDS_DETECTED = false;
    const std::pair<float, float> area = configuration->GetArea();
    const int maxAreaContourId = ChooseBoxContour(contours, area.first, area.second);
    const bool foundArea = maxAreaContourId >= 0;

    if (foundArea) {
        const cv::RotatedRect rect = cv::minAreaRect(contours[maxAreaContourId]);
        std::array<cv::Point2f, 4> points;
        rect.points(points.data());
        if (handsCheckingEnabled) {
            CheckHandsInRegion(points, colorizedDepth.get_width(), colorizedDepth.get_height());
        }

        const cv::Point2f center = GetMiddlePoint(points[0], points[2]);
        const float centerDepth =
            depth.get_distance(static_cast<int>(center.x), static_cast<int>(center.y));
        std::array<cv::Point2f, 4> correctPoints;
        float planarPoint3d[3];
        for (size_t i = 0; i < points.size(); ++i) {
            correctPoints[i] = Deproject(inrist, points[i], centerDepth, planarPoint3d);
        }
        for (size_t j = 0; j < points.size(); ++j) {
            const cv::Point from(points[j]);
            const cv::Point to(points[(j + 1) % points.size()]);
            cv::line(boxImage, from, to, cv::Scalar(0, 0, 255), 3, cv::LINE_AA);
            cv::line(boxImageDepth, from, to, cv::Scalar(0, 0, 255), 3, cv::LINE_AA);
        }
        const float x = static_cast<float>(cv::norm(correctPoints[1] - correctPoints[2]) * 1000.0);
        const float y = static_cast<float>(cv::norm(correctPoints[2] - correctPoints[3]) * 1000.0);
        Deproject(inrist, center, centerDepth, planarPoint3d);
        const float z = configuration->GetDepth().second - planarPoint3d[2] * 1000;
        measurement->x = x;
        measurement->y = y;
        measurement->z = z;
        if (configuration->GetDrawSize()) {
            DrawSizeLabels(boxImage, center, x, y, z);
            DrawSizeLabels(boxImageDepth, center, x, y, z);
        }
        cv::drawContours(contourImage, contours, maxAreaContourId, colors[maxAreaContourId % 3], 1,
                         cv::LINE_8, cv::noArray(), INT_MAX, cv::Point());
    }

    if (printImage) {
        boxImage =
            IgnoreNotRegionArea(configuration->GetRegion().first, configuration->GetRegion().second,
                                boxImage, configuration->GetDepth().second)
                .clone();
        boxImageDepth =
            IgnoreNotRegionArea(configuration->GetRegion().first, configuration->GetRegion().second,
                                boxImageDepth, configuration->GetDepth().second)
                .clone();
        WritePicture(kPictureDirectory + std::string("ColorImage.png"), boxImage);
        WritePicture(kPictureDirectory + std::string("DepthImage.png"), boxImageDepth);
        SavePicture(boxImage);
    }
    if (debug) {
        cv::imshow("Input Image", image);
        cv::imshow("Contours", contourImage);
        cv::imshow("Boxes", boxImage);
        cv::waitKey(1);
    }
    return false;
}

cv::Mat Vision::IgnoreNotRegionArea(float regionWidthInMm, float regionHeightInMm, cv::Mat image,
                                    float distance) {
    const RegionInPx region =
        MaskOutsideRegion(image, regionWidthInMm, regionHeightInMm, distance,
                          configuration->GetFow(), configuration->GetRegionOffset());
    regionWidthInPx = region.width;
    regionHeightInPx = region.height;
    return image;
}

double Vision::GetPxmmWidth(int widthPx, double distance, double angle) {
    return PxmmAcross(widthPx, distance, angle);
}

double Vision::GetPxmmHeight(int heightPx, double distance, double angle) {
    return PxmmAcross(heightPx, distance, angle);
}

cv::Point2f Vision::GetMiddlePoint(cv::Point2f a, cv::Point2f b) {
    return MiddlePoint(a, b);
}

void Vision::SavePicture(const cv::Mat& picture) {
    WritePicture(coreParams->PhotoPath, picture);
}

bool Vision::CheckHands(const std::array<cv::Point2f, 4>& Points, float xMin, float yMin,
                        float xMax, float yMax) {
    return CornersLeaveRegion(Points, xMin, yMin, xMax, yMax, VISION);
}

void Vision::CheckHandsInRegion(const std::array<cv::Point2f, 4>& points, int width, int height) {
    const std::pair<int, int> offset = configuration->GetRegionOffset();
    const HandsBounds bounds =
        RegionBoundsForHands(width, height, regionWidthInPx, regionHeightInPx, offset);
    std::cout << HandsDiagnosticLine(regionWidthInPx, regionHeightInPx, offset) << std::endl;
    if (CheckHands(points, bounds.xMin, bounds.yMin, bounds.xMax, bounds.yMax)) {
        measurement->MEASURE_ERROR_HANDS_DETECTED = true;
        std::cout << VISION + "HANDS DETECTED" << std::endl;
    } else {
        measurement->MEASURE_ERROR_HANDS_DETECTED = false;
    }
}

}  // namespace visionmod
