// The steps of a box measurement that work on images alone, without the camera library.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

namespace visionmod {

// Millimetres that one pixel covers at `distance` mm when a field of view of `angle` degrees is
// spread over `pixelCount` pixels.
double PxmmAcross(int pixelCount, double distance, double angle);

// Size of the measuring region in pixels, clipped to the image.
struct RegionInPx {
    double width;
    double height;
};

// Blacks out, in place, every pixel of the 8-bit 3-channel `image` that lies outside the
// measuring region (`regionWidthInMm` × `regionHeightInMm` on a floor `distance` mm away,
// centred `offset` pixels from the image centre). Pixel (0, 0) always ends black. Pixels exactly
// on a bound are kept. An empty image is left alone.
RegionInPx MaskOutsideRegion(cv::Mat& image, double regionWidthInMm, double regionHeightInMm,
                             double distance, std::pair<float, float> fow,
                             std::pair<int, int> offset);

cv::Point2f MiddlePoint(cv::Point2f a, cv::Point2f b);

// Index of the contour taken for the box: the largest whose area lies strictly between the
// bounds, the earliest of equals; -1 when none does.
int ChooseBoxContour(const std::vector<std::vector<cv::Point>>& contours, float minArea,
                     float maxArea);

// The measuring region's bounds in pixels as the hands check sees them (float, image centre
// halved in float).
struct HandsBounds {
    float xMin;
    float yMin;
    float xMax;
    float yMax;
};

HandsBounds RegionBoundsForHands(int width, int height, double regionWidthInPx,
                                 double regionHeightInPx, std::pair<int, int> offset);

// The line printed before every hands check, without its line end.
std::string HandsDiagnosticLine(double regionWidthInPx, double regionHeightInPx,
                                std::pair<int, int> offset);

// True when a corner is not strictly inside the bounds; the first such corner prints the
// "Hands detected!" line after `prefix`, and the others are not looked at.
bool CornersLeaveRegion(const std::array<cv::Point2f, 4>& points, float xMin, float yMin,
                        float xMax, float yMax, const std::string& prefix);

// One size label: its text and the bottom-left point it is drawn from.
struct SizeLabel {
    std::string text;
    cv::Point anchor;
};

std::array<SizeLabel, 3> SizeLabels(cv::Point2f center, float x, float y, float z);
void DrawSizeLabels(cv::Mat& picture, cv::Point2f center, float x, float y, float z);

// Encodes `picture` in the format named by the path's extension and writes it as a fresh file
// (never through whatever stood at the path). False when the file could not be written; an
// extension without an encoder throws, as the image library does.
bool WritePicture(const std::string& path, const cv::Mat& picture);

}  // namespace visionmod
