#include "ImageSteps.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "FreshFile.h"
#include "NumberConversion.h"

namespace visionmod {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// The labels stand 10 pixels apart, so the font must stay below that height.
constexpr int kLabelFont = cv::FONT_HERSHEY_SIMPLEX;
constexpr double kLabelScale = 0.35;

// Bounds of the region are doubles that may lie far outside the image (large offsets, a region
// computed before the floor is known); pixel indices are clamped before any cast.
int ClampIndex(double value, int low, int high) {
    if (!(value > low)) {
        return low;
    }
    if (!(value < high)) {
        return high;
    }
    return static_cast<int>(value);
}

std::string Label(const char* format, float value) {
    char text[32];
    std::snprintf(text, sizeof text, format, TruncateToInt(value));
    return text;
}

}  // namespace

double PxmmAcross(int pixelCount, double distance, double angle) {
    const long double width = 2.0L * distance * std::tan(angle / 2.0L * kPi / 180.0L);
    return static_cast<double>(width) / pixelCount;
}

RegionInPx MaskOutsideRegion(cv::Mat& image, double regionWidthInMm, double regionHeightInMm,
                             double distance, std::pair<float, float> fow,
                             std::pair<int, int> offset) {
    const double pxmmWidth = PxmmAcross(image.cols, distance, fow.first);
    const double pxmmHeight = PxmmAcross(image.rows, distance, fow.second);
    RegionInPx region{regionWidthInMm / pxmmWidth, regionHeightInMm / pxmmHeight};
    if (region.width > image.cols) {
        region.width = image.cols;
    }
    if (region.height > image.rows) {
        region.height = image.rows;
    }
    if (image.empty()) {
        return region;
    }
    CV_Assert(image.type() == CV_8UC3);

    image.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 0);
    const cv::Vec3b corner = image.at<cv::Vec3b>(0, 0);
    const cv::Scalar fill(corner[0], corner[1], corner[2]);

    const int cx = image.cols / 2;
    const int cy = image.rows / 2;
    const double left = cx - region.width / 2 + offset.first;
    const double right = cx + region.width / 2 + offset.first;
    const double top = cy - region.height / 2 + offset.second;
    const double bottom = cy + region.height / 2 + offset.second;
    // Kept: left <= column <= right and top <= row <= bottom.
    const int firstColumn = ClampIndex(std::ceil(left), 0, image.cols);
    const int lastColumn = ClampIndex(std::floor(right), -1, image.cols - 1);
    const int firstRow = ClampIndex(std::ceil(top), 0, image.rows);
    const int lastRow = ClampIndex(std::floor(bottom), -1, image.rows - 1);
    if (firstColumn > 0) {
        image.colRange(0, firstColumn).setTo(fill);
    }
    if (lastColumn + 1 < image.cols) {
        image.colRange(lastColumn + 1, image.cols).setTo(fill);
    }
    if (firstRow > 0) {
        image.rowRange(0, firstRow).setTo(fill);
    }
    if (lastRow + 1 < image.rows) {
        image.rowRange(lastRow + 1, image.rows).setTo(fill);
    }
    return region;
}

cv::Point2f MiddlePoint(cv::Point2f a, cv::Point2f b) {
    return cv::Point2f((a.x + b.x) * 0.5f, (a.y + b.y) * 0.5f);
}

int ChooseBoxContour(const std::vector<std::vector<cv::Point>>& contours, float minArea,
                     float maxArea) {
    int chosen = -1;
    double chosenArea = 0;
    for (size_t i = 0; i < contours.size(); ++i) {
        const double area = cv::contourArea(contours[i]);
        if (area > minArea && area < maxArea && (chosen < 0 || area > chosenArea)) {
            chosen = static_cast<int>(i);
            chosenArea = area;
        }
    }
    return chosen;
}

HandsBounds RegionBoundsForHands(int width, int height, double regionWidthInPx,
                                 double regionHeightInPx, std::pair<int, int> offset) {
    const float halfWidth = static_cast<float>(width) / 2;
    const float halfHeight = static_cast<float>(height) / 2;
    const float halfRegionWidth = static_cast<float>(regionWidthInPx) / 2;
    const float halfRegionHeight = static_cast<float>(regionHeightInPx) / 2;
    const float offsetX = static_cast<float>(offset.first);
    const float offsetY = static_cast<float>(offset.second);
    return HandsBounds{
        halfWidth - halfRegionWidth + offsetX, halfHeight - halfRegionHeight + offsetY,
        halfWidth + halfRegionWidth + offsetX, halfHeight + halfRegionHeight + offsetY};
}

std::string HandsDiagnosticLine(double regionWidthInPx, double regionHeightInPx,
                                std::pair<int, int> offset) {
    std::ostringstream line;
    line << "HANDS_CHECKING_TEST1: regionWidthInPx+configuration->GetRegionOffset().first="
         << static_cast<float>(regionWidthInPx + offset.first)
         << " regionHeightInPx+configuration->GetRegionOffset().second="
         << static_cast<float>(regionHeightInPx + offset.second)
         << " off=" << static_cast<float>(offset.second);
    return line.str();
}

bool CornersLeaveRegion(const std::array<cv::Point2f, 4>& points, float xMin, float yMin,
                        float xMax, float yMax, const std::string& prefix) {
    for (const cv::Point2f& corner : points) {
        const bool inside =
            xMin < corner.x && corner.x < xMax && yMin < corner.y && corner.y < yMax;
        if (!inside) {
            std::ostringstream line;
            line << prefix << "Hands detected! xMin=" << xMin << " xMax=" << xMax
                 << " yMin=" << yMin << " yMax=" << yMax << "Try to measure again.";
            std::cout << line.str() << std::endl;
            return true;
        }
    }
    return false;
}

std::array<SizeLabel, 3> SizeLabels(cv::Point2f center, float x, float y, float z) {
    return {SizeLabel{Label("X=%d", x), cv::Point(center + cv::Point2f(-50, -50))},
            SizeLabel{Label("Y=%d", y), cv::Point(center + cv::Point2f(-50, -40))},
            SizeLabel{Label("Z=%d", z), cv::Point(center + cv::Point2f(-50, -30))}};
}

void DrawSizeLabels(cv::Mat& picture, cv::Point2f center, float x, float y, float z) {
    for (const SizeLabel& label : SizeLabels(center, x, y, z)) {
        cv::putText(picture, label.text, label.anchor, kLabelFont, kLabelScale,
                    cv::Scalar(0, 0, 255), 1, cv::LINE_AA);
    }
}

bool WritePicture(const std::string& path, const cv::Mat& picture) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::vector<uchar> encoded;
    cv::imencode(hasExtension ? path.substr(dot) : std::string(), picture, encoded);
    return WriteFreshFile(path, std::string(encoded.begin(), encoded.end()));
}

}  // namespace visionmod
