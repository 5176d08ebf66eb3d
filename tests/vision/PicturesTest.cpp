// The pictures of a live measurement: the masked colour and depth pictures in /tmp and the
// annotated colour picture at PhotoPath.
#include <gtest/gtest.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "SimulatedCamera.h"

namespace {

using visionbench::BoxOnFloor;
using visionbench::SimulatedScene;
using visiontest::FramePair;
using visiontest::NextFrames;
using visiontest::SceneFile;

const std::string kColorPicture = "/tmp/ColorImage.png";
const std::string kDepthPicture = "/tmp/DepthImage.png";

class Pictures : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_SIMULATED_CAMERA();
        visiontest::ResetSharedState();
        CoreParams::getInstance()->PhotoPath = dir / "photo.png";
        visiontest::StartAndCalibrate(vision, scene, SimulatedScene{});
    }

    void MeasureWithPictures(const SimulatedScene& shown) {
        scene.Show(shown);
        const FramePair frames = NextFrames(vision);
        testsupport::StdoutCapture quiet;
        ASSERT_FALSE(vision.Measure(frames.depth, frames.color, false, true));
    }

    static SimulatedScene CentredBox() {
        SimulatedScene shown;
        shown.boxes.push_back(BoxOnFloor{400, 300, 200, 0, 0, 0});
        return shown;
    }

    testsupport::TempDir dir;
    SceneFile scene;
    visionmod::Vision vision;
};

bool IsBlack(const cv::Mat& picture, int column, int row) {
    return picture.at<cv::Vec3b>(row, column) == cv::Vec3b(0, 0, 0);
}

int RedPixels(const cv::Mat& picture) {
    cv::Mat red;
    cv::inRange(picture, cv::Scalar(0, 0, 255), cv::Scalar(0, 0, 255), red);
    return cv::countNonZero(red);
}

TEST_F(Pictures, ThreeMaskedPicturesWithTheOutline) {
    MeasureWithPictures(CentredBox());
    const cv::Mat color = cv::imread(kColorPicture, cv::IMREAD_UNCHANGED);
    const cv::Mat depth = cv::imread(kDepthPicture, cv::IMREAD_UNCHANGED);
    const cv::Mat photo = cv::imread(CoreParams::getInstance()->PhotoPath, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(color.size(), cv::Size(1280, 720));
    ASSERT_EQ(depth.size(), cv::Size(1280, 720));
    ASSERT_EQ(photo.size(), cv::Size(1280, 720));
    EXPECT_EQ(cv::norm(color, photo, cv::NORM_INF), 0) << "PhotoPath holds the colour picture";

    for (const cv::Mat* picture : {&color, &depth}) {
        // Kept columns 413 to 867 and rows 219 to 581, and the floor of the colour picture is
        // grey, not black.
        EXPECT_TRUE(IsBlack(*picture, 412, 400));
        EXPECT_TRUE(IsBlack(*picture, 868, 400));
        EXPECT_TRUE(IsBlack(*picture, 640, 218));
        EXPECT_TRUE(IsBlack(*picture, 640, 582));
        // The outline is drawn in (0, 0, 255) around the box's top, 309 x 228 pixels centred
        // at (640, 360).
        EXPECT_GT(RedPixels(*picture), 2 * (309 + 228)) << "outline";
        EXPECT_EQ(picture->at<cv::Vec3b>(246, 640), cv::Vec3b(0, 0, 255));
        EXPECT_EQ(picture->at<cv::Vec3b>(360, 486), cv::Vec3b(0, 0, 255));
    }
    EXPECT_FALSE(IsBlack(color, 420, 560));
    // In the depth picture the floor has no depth and is black; the box top is coloured.
    EXPECT_TRUE(IsBlack(depth, 420, 560));
    EXPECT_FALSE(IsBlack(depth, 640, 300));
}

TEST_F(Pictures, NothingFoundStillWritesThePicturesWithoutOutline) {
    MeasureWithPictures(SimulatedScene{});
    const cv::Mat color = cv::imread(kColorPicture, cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(color.empty());
    EXPECT_EQ(RedPixels(color), 0);
    EXPECT_TRUE(IsBlack(color, 412, 400));
    EXPECT_FALSE(IsBlack(color, 413, 400));
    EXPECT_TRUE(testsupport::FileExists(CoreParams::getInstance()->PhotoPath));
}

// A frame set without a usable colour frame: the outline goes on a black picture instead of
// reading a buffer that is not there, and the measurement stands.
TEST_F(Pictures, MissingColourFrameGivesTheOutlineOnBlack) {
    SimulatedScene shown = CentredBox();
    scene.Show(shown);
    const FramePair frames = NextFrames(vision);
    {
        testsupport::StdoutCapture quiet;
        ASSERT_FALSE(vision.Measure(frames.depth, rs2::video_frame(rs2::frame()), false, true));
    }
    EXPECT_EQ(Measurement::getInstance()->z, 200);
    const cv::Mat color = cv::imread(kColorPicture, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(color.size(), cv::Size(1280, 720));
    EXPECT_GT(RedPixels(color), 2 * (309 + 228));
    EXPECT_TRUE(IsBlack(color, 420, 560));
    EXPECT_TRUE(IsBlack(color, 640, 360));
}

// With DRAW_SIZE the sizes are written next to the box: the pictures differ only there.
TEST_F(Pictures, SizeLabelsOnlyWithDrawSize) {
    ConfigurationStruct parameters = visiontest::TestParameters();
    parameters.DRAW_SIZE = false;
    ASSERT_TRUE(Configuration::getInstance()->SetAll(parameters));
    MeasureWithPictures(CentredBox());
    const cv::Mat plain = cv::imread(kColorPicture, cv::IMREAD_UNCHANGED);
    const cv::Mat plainDepth = cv::imread(kDepthPicture, cv::IMREAD_UNCHANGED);

    parameters.DRAW_SIZE = true;
    ASSERT_TRUE(Configuration::getInstance()->SetAll(parameters));
    MeasureWithPictures(CentredBox());
    const cv::Mat labelled = cv::imread(kColorPicture, cv::IMREAD_UNCHANGED);
    const cv::Mat labelledDepth = cv::imread(kDepthPicture, cv::IMREAD_UNCHANGED);

    // Labels hang from 50, 40 and 30 pixels above the centre (640, 360), 50 to its left.
    const cv::Rect labelArea(588, 300, 60, 33);
    for (const auto& [before, after] : {std::pair{plain, labelled}, {plainDepth, labelledDepth}}) {
        cv::Mat difference;
        cv::Mat changed;
        cv::absdiff(after, before, difference);
        cv::cvtColor(difference, changed, cv::COLOR_BGR2GRAY);
        EXPECT_GT(cv::countNonZero(changed(labelArea)), 50);
        EXPECT_EQ(cv::countNonZero(changed), cv::countNonZero(changed(labelArea)));
    }
}

// The fixed names in /tmp are in a world-writable directory and the core runs as root: links
// planted there are replaced, never written through.
TEST_F(Pictures, NeverWrittenThroughLinksInTmp) {
    const std::string victim = dir / "victim";
    testsupport::WriteFile(victim, "precious");
    for (const std::string& path : {kColorPicture, kDepthPicture}) {
        unlink(path.c_str());
        ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0) << path;
    }
    MeasureWithPictures(CentredBox());
    EXPECT_EQ(testsupport::ReadFile(victim), "precious");
    EXPECT_FALSE(cv::imread(kColorPicture).empty());
    EXPECT_FALSE(cv::imread(kDepthPicture).empty());
}

}  // namespace
