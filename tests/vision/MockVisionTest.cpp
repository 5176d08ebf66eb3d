// The vision service without a camera: stored picture and fixed sizes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <string>

#include "CoreParams.h"
#include "Measurement.h"
#include "TestSupport.h"
#include "Vision.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WaitFor;

class MockVision : public ::testing::Test {
  protected:
    void SetUp() override {
        params->APPLICATION_STOP_REQUEST = false;
        params->MockPngFile = dir / "mock.png";
        params->MockPngFile2 = dir / "mock.png.tmp";
        params->PhotoPath = dir / "photo.png";
        record->is_calibrated = true;
        record->is_measured = true;
    }

    // Runs the loop on its own thread until the test is over.
    std::future<int> Start() {
        return std::async(std::launch::async, [] { return visionmod::Vision().Run(true); });
    }

    int Stop(std::future<int>& run) {
        params->APPLICATION_STOP_REQUEST = true;
        return run.get();
    }

    bool Measured() {
        record->is_measured = false;
        return WaitFor([this] { return record->is_measured.load(); });
    }

    TempDir dir;
    CoreParams* params = CoreParams::getInstance();
    Measurement* record = Measurement::getInstance();
};

TEST_F(MockVision, AnswersEveryMeasurementWithTheStoredPictureAndFixedSizes) {
    testsupport::WriteFile(params->MockPngFile, "line one\nline two");
    record->MEASURE_ERROR_HANDS_DETECTED = true;
    record->MEASURE_ERROR_EMPTY_X = true;
    testsupport::StdoutCapture out;
    auto run = Start();
    ASSERT_TRUE(out.WaitForText("Vision: Start Mock Lidar\n"));

    record->is_calibrated = false;
    ASSERT_TRUE(WaitFor([this] { return record->is_calibrated.load(); }));
    for (int request = 0; request < 2; ++request) {
        record->x = 0;
        ASSERT_TRUE(Measured());
        EXPECT_EQ(record->x, 123000.0f);
        EXPECT_EQ(record->y, 456000.0f);
        EXPECT_EQ(record->z, 789000.0f);
        EXPECT_EQ(ReadFile(params->PhotoPath), "line one\nline two\n");
        EXPECT_FALSE(FileExists(params->MockPngFile2));
    }
    // The flags belong to live measurements; the mock leaves them alone.
    EXPECT_TRUE(record->MEASURE_ERROR_HANDS_DETECTED);
    EXPECT_TRUE(record->MEASURE_ERROR_EMPTY_X);
    EXPECT_EQ(Stop(run), 0);
    EXPECT_NE(out.Text().find("Vision: Copy Finished \n"), std::string::npos);
    record->MEASURE_ERROR_HANDS_DETECTED = false;
    record->MEASURE_ERROR_EMPTY_X = false;
}

TEST_F(MockVision, MissingPictureStillAnswersWithAnEmptyPhoto) {
    testsupport::StdoutCapture out;
    auto run = Start();
    ASSERT_TRUE(Measured());
    EXPECT_EQ(ReadFile(params->PhotoPath), "");
    EXPECT_EQ(record->y, 456000.0f);
    EXPECT_EQ(Stop(run), 0);
    EXPECT_NE(out.Text().find("Vision: Cannot read mock file\n"), std::string::npos);
}

TEST_F(MockVision, PhotoPathThatCannotBeReachedEndsTheLoop) {
    testsupport::WriteFile(params->MockPngFile, "picture");
    params->PhotoPath = dir / "missing/photo.png";
    testsupport::StdoutCapture out;
    record->is_measured = false;
    EXPECT_EQ(visionmod::Vision().Run(true), 1);
    EXPECT_NE(out.Text().find("Vision: Error in renaming\n"), std::string::npos);
    EXPECT_FALSE(record->is_measured);
}

// The picture's temporary copy lies in a shared directory: a link planted there is replaced,
// never written through.
TEST_F(MockVision, TemporaryCopyNeverWritesThroughALink) {
    testsupport::WriteFile(params->MockPngFile, "picture");
    const std::string victim = dir / "victim";
    testsupport::WriteFile(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), params->MockPngFile2.c_str()), 0);
    testsupport::StdoutCapture out;
    auto run = Start();
    ASSERT_TRUE(Measured());
    EXPECT_EQ(Stop(run), 0);
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_EQ(ReadFile(params->PhotoPath), "picture\n");
}

}  // namespace
