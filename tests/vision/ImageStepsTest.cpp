// The image steps of a box measurement on synthetic images: region masking, contour choice, the
// hands check, size labels and picture files.
#include "ImageSteps.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Configuration.h"
#include "TestSupport.h"
#include "Vision.h"

namespace {

using namespace visionmod;

constexpr std::pair<float, float> kFow{65, 40};

cv::Mat White(int width, int height) {
    return cv::Mat(height, width, CV_8UC3, cv::Scalar::all(255));
}

bool IsBlack(const cv::Mat& image, int column, int row) {
    return image.at<cv::Vec3b>(row, column) == cv::Vec3b(0, 0, 0);
}

TEST(RegionMask, PixelSizeAtTheFloorFollowsTheFieldOfView) {
    EXPECT_NEAR(PxmmAcross(1280, 1500, 65), 1.4931, 5e-5);
    EXPECT_NEAR(PxmmAcross(720, 1500, 40), 1.5165, 5e-5);
}

TEST(RegionMask, KeepsTheColumnsAndRowsInsideTheRegion) {
    cv::Mat image = White(1280, 720);
    const RegionInPx region = MaskOutsideRegion(image, 680, 550, 1500, kFow, {0, 40});
    EXPECT_NEAR(region.width, 455.42, 0.005);
    EXPECT_NEAR(region.height, 362.67, 0.005);

    // Left bound 412.29, right 867.71, top 218.67, bottom 581.33.
    const int row = 400;
    const int column = 640;
    EXPECT_TRUE(IsBlack(image, 412, row));
    EXPECT_FALSE(IsBlack(image, 413, row));
    EXPECT_FALSE(IsBlack(image, 867, row));
    EXPECT_TRUE(IsBlack(image, 868, row));
    EXPECT_TRUE(IsBlack(image, column, 218));
    EXPECT_FALSE(IsBlack(image, column, 219));
    EXPECT_FALSE(IsBlack(image, column, 581));
    EXPECT_TRUE(IsBlack(image, column, 582));
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    EXPECT_EQ(cv::countNonZero(grey), (867 - 413 + 1) * (581 - 219 + 1));
}

TEST(RegionMask, PixelExactlyOnABoundIsKept) {
    // 100 columns, a region of exactly 50 pixels: bounds 25 and 75 fall on whole pixels.
    const double distance = 1000;
    const double pxmm = PxmmAcross(100, distance, kFow.first);
    cv::Mat image = White(100, 60);
    MaskOutsideRegion(image, 50 * pxmm, 1e6, distance, kFow, {0, 0});
    EXPECT_TRUE(IsBlack(image, 24, 30));
    EXPECT_FALSE(IsBlack(image, 25, 30));
    EXPECT_FALSE(IsBlack(image, 75, 30));
    EXPECT_TRUE(IsBlack(image, 76, 30));
}

TEST(RegionMask, RegionLargerThanTheImageIsClipped) {
    struct Case {
        std::pair<int, int> offset;
        int firstKeptColumn, lastKeptColumn, firstKeptRow, lastKeptRow;
    };
    const Case cases[] = {
        {{0, 0}, 0, 1279, 0, 719},
        {{0, 40}, 0, 1279, 40, 719},
        {{-100, 0}, 0, 1180, 0, 719},
        {{20000, 0}, 1280, 1279, 0, 719},  // shifted wholly out: nothing kept
    };
    for (const Case& c : cases) {
        cv::Mat image = White(1280, 720);
        const RegionInPx region = MaskOutsideRegion(image, 1920, 1080, 500, kFow, c.offset);
        EXPECT_EQ(region.width, 1280);
        EXPECT_EQ(region.height, 720);
        EXPECT_TRUE(IsBlack(image, 0, 0)) << "pixel (0, 0) is always black";
        for (int column = 1; column < image.cols; ++column) {
            const bool kept = column >= c.firstKeptColumn && column <= c.lastKeptColumn;
            ASSERT_EQ(IsBlack(image, column, 360), !kept) << "column " << column;
        }
        for (int row = 1; row < image.rows; ++row) {
            const bool kept = row >= c.firstKeptRow && row <= c.lastKeptRow &&
                              c.firstKeptColumn <= 640 && 640 <= c.lastKeptColumn;
            ASSERT_EQ(IsBlack(image, 640, row), !kept) << "row " << row;
        }
    }
}

TEST(RegionMask, EmptyImageIsLeftAlone) {
    cv::Mat image;
    MaskOutsideRegion(image, 680, 550, 1500, kFow, {0, 40});
    EXPECT_TRUE(image.empty());
}

std::vector<cv::Point> Square(int side, int shift = 0) {
    return {{shift, 0}, {shift + side, 0}, {shift + side, side}, {shift, side}};
}

TEST(BoxContour, LargestStrictlyBetweenTheBoundsEarliestOfEquals) {
    struct Case {
        const char* name;
        std::vector<int> sides;  // contour i is a square of area sides[i]²
        int expected;
    };
    // Bounds 100 and 10000, i.e. squares of side 10 and 100.
    const Case cases[] = {
        {"none", {}, -1},
        {"area equal to MIN_AREA", {10}, -1},
        {"area equal to MAX_AREA", {100}, -1},
        {"just inside both bounds", {11, 99}, 1},
        {"two equal candidates", {20, 20}, 0},
        {"larger later", {20, 30}, 1},
        {"smaller later", {30, 20}, 0},
        {"first contour above MAX_AREA", {200, 20, 30, 25}, 2},
        {"only too small and too large", {5, 101}, -1},
    };
    for (const Case& c : cases) {
        std::vector<std::vector<cv::Point>> contours;
        for (size_t i = 0; i < c.sides.size(); ++i) {
            contours.push_back(Square(c.sides[i], static_cast<int>(i) * 300));
        }
        EXPECT_EQ(ChooseBoxContour(contours, 100, 10000), c.expected) << c.name;
    }
}

TEST(BoxContour, AreaOfAFilledBlobCountsBetweenPixelCentres) {
    // A blob of 30 × 20 pixels has a contour through its outer pixel centres: area 29 × 19.
    cv::Mat grey = cv::Mat::zeros(100, 100, CV_8UC1);
    grey(cv::Rect(10, 10, 30, 20)).setTo(255);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(grey, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    ASSERT_EQ(contours.size(), 1u);
    EXPECT_EQ(ChooseBoxContour(contours, 29 * 19 - 1, 10000), 0);
    EXPECT_EQ(ChooseBoxContour(contours, 29 * 19, 10000), -1);
}

TEST(BoxContour, ChosenAmongBlobsFoundInAnImage) {
    // A blob above the upper bound, one below the lower bound, and two candidates.
    cv::Mat grey = cv::Mat::zeros(400, 600, CV_8UC1);
    grey(cv::Rect(0, 0, 300, 200)).setTo(255);
    grey(cv::Rect(350, 20, 5, 5)).setTo(255);
    grey(cv::Rect(350, 250, 101, 51)).setTo(255);
    grey(cv::Rect(20, 250, 81, 61)).setTo(255);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(grey, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    ASSERT_EQ(contours.size(), 4u);
    const int chosen = ChooseBoxContour(contours, 100, 20000);
    ASSERT_GE(chosen, 0);
    EXPECT_EQ(cv::boundingRect(contours[chosen]), cv::Rect(350, 250, 101, 51));
}

TEST(Hands, BoundsFollowTheRegionInFloatPixels) {
    const HandsBounds bounds = RegionBoundsForHands(1280, 720, 455.4181, 362.6670, {0, 40});
    EXPECT_NEAR(bounds.xMin, 412.291, 1e-3);
    EXPECT_NEAR(bounds.xMax, 867.709, 1e-3);
    EXPECT_NEAR(bounds.yMin, 218.667, 1e-3);
    EXPECT_NEAR(bounds.yMax, 581.333, 1e-3);
    // The image centre is halved in float: an odd width puts it between two pixels.
    EXPECT_FLOAT_EQ(RegionBoundsForHands(101, 61, 11, 11, {0, 0}).xMin, 45.0f);
    // A region clipped to the image with no offset starts at column 0.
    EXPECT_FLOAT_EQ(RegionBoundsForHands(1280, 720, 1280, 720, {0, 0}).xMin, 0.0f);
}

TEST(Hands, DiagnosticLineShowsRegionPlusOffsetAsFloats) {
    EXPECT_EQ(HandsDiagnosticLine(455.4181087743545, 362.6670193680102, {0, 40}),
              "HANDS_CHECKING_TEST1: regionWidthInPx+configuration->GetRegionOffset().first=455.418"
              " regionHeightInPx+configuration->GetRegionOffset().second=402.667 off=40");
    EXPECT_EQ(HandsDiagnosticLine(1280, 720, {-12, 0}),
              "HANDS_CHECKING_TEST1: regionWidthInPx+configuration->GetRegionOffset().first=1268"
              " regionHeightInPx+configuration->GetRegionOffset().second=720 off=0");
}

TEST(Hands, AnyCornerNotStrictlyInsideIsHands) {
    using Corners = std::array<cv::Point2f, 4>;
    const Corners inside{{{20, 20}, {80, 20}, {80, 60}, {20, 60}}};
    struct Case {
        const char* name;
        Corners corners;
        bool hands;
    };
    const Case cases[] = {
        {"well inside", inside, false},
        {"on xMin", {{{10, 20}, {80, 20}, {80, 60}, {20, 60}}}, true},
        {"on xMax", {{{20, 20}, {90, 20}, {80, 60}, {20, 60}}}, true},
        {"on yMin", {{{20, 20}, {80, 20}, {80, 60}, {20, 5}}}, true},
        {"on yMax", {{{20, 20}, {80, 20}, {80, 70}, {20, 60}}}, true},
        {"just inside every bound",
         {{{10.001f, 5.001f}, {89.999f, 5.001f}, {89.999f, 69.999f}, {10.001f, 69.999f}}},
         false},
        {"two corners beyond", {{{20, 20}, {95, 20}, {80, 75}, {20, 60}}}, true},
    };
    for (const Case& c : cases) {
        testsupport::StdoutCapture out;
        EXPECT_EQ(CornersLeaveRegion(c.corners, 10, 5, 90, 70, "Vision: "), c.hands) << c.name;
        const std::string expected =
            c.hands
                ? "Vision: Hands detected! xMin=10 xMax=90 yMin=5 yMax=70Try to measure again.\n"
                : "";
        // Only the first corner outside is reported.
        EXPECT_EQ(out.Text(), expected) << c.name;
    }
    testsupport::StdoutCapture out;
    const Corners onFractionalBound{{{10.25f, 20}, {80, 20}, {80, 60}, {20, 60}}};
    EXPECT_TRUE(CornersLeaveRegion(onFractionalBound, 10.25f, 5, 90, 70.5f, "Vision: "));
    EXPECT_TRUE(out.WaitForText("Hands detected! xMin=10.25 xMax=90 yMin=5 yMax=70.5Try"));
}

// The region mask keeps whole pixels only, so a blob cut by it ends inside the float bounds:
// an arm cut at the border is not flagged, a blob reaching the image edge past a clipped
// region is.
TEST(Hands, BlobCutByTheMaskLiesInsideTheBounds) {
    cv::Mat image = White(1280, 720);
    const RegionInPx region = MaskOutsideRegion(image, 680, 550, 1500, kFow, {0, 40});
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(grey, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    const int chosen = ChooseBoxContour(contours, 100, 2e5f);
    ASSERT_GE(chosen, 0);
    std::array<cv::Point2f, 4> corners;
    cv::minAreaRect(contours[chosen]).points(corners.data());
    const HandsBounds bounds =
        RegionBoundsForHands(image.cols, image.rows, region.width, region.height, {0, 40});
    testsupport::StdoutCapture out;
    EXPECT_FALSE(CornersLeaveRegion(corners, bounds.xMin, bounds.yMin, bounds.xMax, bounds.yMax,
                                    "Vision: "));

    cv::Mat edge = cv::Mat::zeros(720, 1280, CV_8UC3);
    edge(cv::Rect(0, 300, 200, 100)).setTo(cv::Scalar::all(200));
    const RegionInPx whole = MaskOutsideRegion(edge, 1920, 1080, 500, kFow, {0, 0});
    cv::cvtColor(edge, grey, cv::COLOR_BGR2GRAY);
    cv::findContours(grey, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    ASSERT_EQ(contours.size(), 1u);
    cv::minAreaRect(contours[0]).points(corners.data());
    const HandsBounds clipped =
        RegionBoundsForHands(edge.cols, edge.rows, whole.width, whole.height, {0, 0});
    EXPECT_TRUE(CornersLeaveRegion(corners, clipped.xMin, clipped.yMin, clipped.xMax, clipped.yMax,
                                   "Vision: "));
}

TEST(SizeLabels, TruncatedSizesAnchoredLeftOfAndAboveTheCentre) {
    const auto labels = SizeLabels({600.4f, 400.6f}, 401.9f, 299.2f, -3.7f);
    EXPECT_EQ(labels[0].text, "X=401");
    EXPECT_EQ(labels[1].text, "Y=299");
    EXPECT_EQ(labels[2].text, "Z=-3");
    EXPECT_EQ(labels[0].anchor, cv::Point(550, 351));
    EXPECT_EQ(labels[1].anchor, cv::Point(550, 361));
    EXPECT_EQ(labels[2].anchor, cv::Point(550, 371));
}

TEST(SizeLabels, DrawnAsSeparateLinesAtTheirAnchors) {
    cv::Mat picture = cv::Mat::zeros(720, 1280, CV_8UC3);
    const cv::Point2f center(640, 400);
    DrawSizeLabels(picture, center, 400, 300, 200);
    cv::Mat ink;
    cv::cvtColor(picture, ink, cv::COLOR_BGR2GRAY);
    // Ink only within a small band to the right of the anchors' column and above each anchor.
    const cv::Rect labelArea(588, 340, 60, 33);
    EXPECT_EQ(cv::countNonZero(ink), cv::countNonZero(ink(labelArea)));
    for (const SizeLabel& label : SizeLabels(center, 400, 300, 200)) {
        // Each line has ink in the few rows just above its anchor, starting near its column.
        const cv::Rect line(label.anchor.x - 2, label.anchor.y - 8, 50, 8);
        EXPECT_GT(cv::countNonZero(ink(line)), 20) << label.text;
    }
}

TEST(Pictures, WrittenInTheFormatOfTheExtension) {
    testsupport::TempDir dir;
    cv::Mat picture = cv::Mat::zeros(40, 60, CV_8UC3);
    cv::rectangle(picture, cv::Rect(10, 10, 20, 15), cv::Scalar(0, 0, 255), cv::FILLED);
    for (const char* name : {"photo.png", "photo.bmp", "dir.with.dots/photo.png"}) {
        mkdir((dir / "dir.with.dots").c_str(), 0755);
        const std::string path = dir / name;
        ASSERT_TRUE(WritePicture(path, picture)) << name;
        const cv::Mat read = cv::imread(path, cv::IMREAD_UNCHANGED);
        ASSERT_FALSE(read.empty()) << name;
        EXPECT_EQ(cv::norm(read, picture, cv::NORM_INF), 0) << name;
    }
    EXPECT_EQ(testsupport::ReadFile(dir / "photo.bmp").substr(0, 2), "BM");
}

// "/tmp/ColorImage.png" and its kin are fixed names in a world-writable directory and the core
// runs as root: a link planted there is replaced, never written through.
TEST(Pictures, NeverWrittenThroughALink) {
    testsupport::TempDir dir;
    const std::string victim = dir / "victim";
    testsupport::WriteFile(victim, "precious");
    const std::string path = dir / "ColorImage.png";
    ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
    ASSERT_TRUE(WritePicture(path, cv::Mat::zeros(8, 8, CV_8UC3)));
    EXPECT_EQ(testsupport::ReadFile(victim), "precious");
    EXPECT_FALSE(cv::imread(path).empty());
}

TEST(Pictures, UnwritablePathIsReportedNotThrown) {
    testsupport::TempDir dir;
    EXPECT_FALSE(WritePicture(dir / "missing/photo.png", cv::Mat::zeros(8, 8, CV_8UC3)));
}

TEST(Pictures, PathWithoutAKnownExtensionThrowsAsTheImageLibraryDoes) {
    testsupport::TempDir dir;
    const cv::Mat picture = cv::Mat::zeros(8, 8, CV_8UC3);
    EXPECT_THROW(WritePicture(dir / "photo", picture), cv::Exception);
    EXPECT_THROW(WritePicture(dir / "photo.unknown", picture), cv::Exception);
    EXPECT_FALSE(testsupport::FileExists(dir / "photo"));
}

// The same steps as the vision module's own operations, which read the region's field of view
// and offset from the measuring parameters.
TEST(VisionRegion, MaskReadsTheParametersAndSharesThePixels) {
    ConfigurationStruct parameters;
    parameters.MAX_AREA = 200000;
    ASSERT_TRUE(Configuration::getInstance()->SetAll(parameters));
    visionmod::Vision vision;
    EXPECT_NEAR(vision.GetPxmmWidth(1280, 1500, 65), 1.4931, 5e-5);
    EXPECT_NEAR(vision.GetPxmmHeight(720, 1500, 40), 1.5165, 5e-5);
    EXPECT_EQ(vision.GetMiddlePoint({1, 2}, {4, 7}), cv::Point2f(2.5f, 4.5f));

    cv::Mat image(720, 1280, CV_8UC3, cv::Scalar::all(255));
    const cv::Mat masked = vision.IgnoreNotRegionArea(680, 550, image, 1500);
    EXPECT_EQ(masked.data, image.data);
    EXPECT_NEAR(vision.regionWidthInPx, 455.42, 0.005);
    EXPECT_NEAR(vision.regionHeightInPx, 362.67, 0.005);
    EXPECT_EQ(image.at<cv::Vec3b>(400, 412), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(image.at<cv::Vec3b>(400, 413), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(image.at<cv::Vec3b>(218, 640), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(image.at<cv::Vec3b>(219, 640), cv::Vec3b(255, 255, 255));
}

}  // namespace
