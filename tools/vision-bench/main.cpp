// vision-bench: runs the box measurement over a fixed set of simulated scenes and prints, per
// scene and overall, the true and measured sizes, their errors, and the time per measurement.
#include <unistd.h>
#include <librealsense2/rs.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numeric>
#include <streambuf>
#include <string>
#include <vector>

#include "Configuration.h"
#include "CoreParams.h"
#include "Measurement.h"
#include "SceneModel.h"
#include "Vision.h"

namespace {

using visionbench::BoxOnFloor;
using visionbench::SimulatedScene;

constexpr double kFloor = 1500;
constexpr int kFrameSetsPerScene = 3;
constexpr int kTimedCalls = 20;
constexpr int kTimedCallsWithPictures = 5;

struct BenchScene {
    std::string name;
    BoxOnFloor box;
    double noise = 0;
};

std::vector<BenchScene> Scenes() {
    return {
        {"centred 400x300x200", {400, 300, 200, 0, 0, 0}},
        {"centred small 150x100x100", {150, 100, 100, 0, 0, 0}},
        {"off-centre right", {200, 200, 200, 170, 0, 0}},
        {"off-centre down", {300, 150, 200, 0, 100, 0}},
        {"off-centre diagonal", {200, 150, 200, 120, 90, 0}},
        {"near left border", {150, 150, 150, -190, 0, 0}},
        {"near right border", {150, 150, 150, 200, 0, 0}},
        {"near top border", {250, 120, 150, 0, -110, 0}},
        {"near bottom border", {250, 120, 150, 0, 200, 0}},
        {"turned 10", {300, 200, 150, 0, 0, 10}},
        {"turned 30", {300, 200, 150, 0, 0, 30}},
        {"turned 45 square", {250, 250, 150, 0, 0, 45}},
        {"turned 60 off-centre", {250, 150, 150, 60, 40, 60}},
        {"flat 40", {400, 300, 40, 0, 0, 0}},
        {"tall 600", {250, 200, 600, 0, 0, 0}},
        {"noise 1 mm at 1 m", {400, 300, 200, 0, 0, 0}, 1.0},
        {"noise 3 mm at 1 m", {400, 300, 200, 0, 0, 0}, 3.0},
    };
}

// Swallows the measurement's console lines while it is timed.
class Discard : public std::streambuf {
  protected:
    int overflow(int c) override { return c; }
};

class QuietCout {
  public:
    QuietCout() : saved_(std::cout.rdbuf(&discard_)) {}
    ~QuietCout() { std::cout.rdbuf(saved_); }

  private:
    Discard discard_;
    std::streambuf* saved_;
};

void ShowScene(const std::string& path, const SimulatedScene& scene) {
    const std::string temporary = path + ".new";
    std::ofstream(temporary) << visionbench::SceneToml(scene);
    std::filesystem::rename(temporary, path);
}

struct FramePair {
    rs2::depth_frame depth;
    rs2::video_frame color;
};

// A frame set prepared as the service loop prepares it.
FramePair NextFrames(visionmod::Vision& vision, const rs2::align& alignToDepth) {
    rs2::frameset frames = alignToDepth.process(vision.pipe.wait_for_frames());
    return FramePair{vision.PolarToCartesian(
                         vision.thrFilter.process(frames.get_depth_frame()).as<rs2::depth_frame>()),
                     frames.get_color_frame()};
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(std::ceil(fraction * values.size())) - 1;
    return values[std::min(index, values.size() - 1)];
}

double TimeMeasure(visionmod::Vision& vision, const FramePair& frames, bool pictures) {
    QuietCout quiet;
    const auto start = std::chrono::steady_clock::now();
    vision.Measure(frames.depth, frames.color, false, pictures);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

struct Errors {
    std::vector<double> sides;
    std::vector<double> heights;
};

void Summarise(const char* what, const std::vector<double>& errors) {
    double sum = 0;
    double sumAbs = 0;
    double worst = 0;
    for (double e : errors) {
        sum += e;
        sumAbs += std::fabs(e);
        worst = std::max(worst, std::fabs(e));
    }
    const double n = static_cast<double>(std::max<size_t>(errors.size(), 1));
    std::printf("  %-7s mean error %+6.2f mm, mean |error| %5.2f mm, worst |error| %5.2f mm\n",
                what, sum / n, sumAbs / n, worst);
}

}  // namespace

int main() {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vision-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string scenePath = dir / "scene.toml";
    setenv("SIMCAM_SCENE", scenePath.c_str(), 1);
    CoreParams::getInstance()->PhotoPath = dir / "photo.png";
    ShowScene(scenePath, SimulatedScene{});

    visionmod::Vision vision;
    {
        QuietCout quiet;
        if (!vision.Init()) {
            std::fprintf(stderr, "vision-bench: the simulated camera did not start\n");
            return 1;
        }
    }
    const rs2::align alignToDepth(RS2_STREAM_DEPTH);
    const rs2_intrinsics intrinsics = NextFrames(vision, alignToDepth)
                                          .depth.get_profile()
                                          .as<rs2::video_stream_profile>()
                                          .get_intrinsics();
    Measurement* record = Measurement::getInstance();

    std::printf(
        "vision-bench: Measure on simulated scenes, floor %.0f mm, depth %d x %d, "
        "fx %.1f fy %.1f, measuring parameters at their defaults.\n",
        kFloor, intrinsics.width, intrinsics.height, intrinsics.fx, intrinsics.fy);
    std::printf(
        "Sizes: mean over %d frame sets, sides longer first; 'outline' is what the "
        "algorithm gives for the box's exact outline (no pixels).\n",
        kFrameSetsPerScene);
    std::printf(
        "Times per Measure call: median / 95th percentile in ms, %d calls without "
        "pictures, %d with the three pictures.\n\n",
        kTimedCalls, kTimedCallsWithPictures);
    std::printf("%-26s %-15s %-15s %-21s %-21s %-6s %-13s %-13s\n", "scene", "true LxWxH",
                "outline LxW", "measured LxWxH", "error L/W/H mm", "hands", "ms plain",
                "ms pictures");

    Errors errors;
    std::vector<double> plainTimes;
    std::vector<double> pictureTimes;
    for (const BenchScene& benchScene : Scenes()) {
        SimulatedScene floor;
        floor.floorDistance = kFloor;
        floor.noiseAt1m = benchScene.noise;
        ShowScene(scenePath, floor);
        vision.thrFilter.set_option(RS2_OPTION_MAX_DISTANCE, 16.0f);
        bool calibrated;
        {
            QuietCout quiet;
            calibrated = vision.FixMaxDistance(NextFrames(vision, alignToDepth).depth);
        }
        if (!calibrated) {
            std::fprintf(stderr, "vision-bench: calibration failed for %s\n",
                         benchScene.name.c_str());
            return 1;
        }

        SimulatedScene shown = floor;
        shown.boxes.push_back(benchScene.box);
        ShowScene(scenePath, shown);
        double longer = 0;
        double shorter = 0;
        double height = 0;
        bool hands = false;
        std::vector<double> scenePlain;
        std::vector<double> scenePictures;
        for (int set = 0; set < kFrameSetsPerScene; ++set) {
            const FramePair frames = NextFrames(vision, alignToDepth);
            scenePlain.push_back(TimeMeasure(vision, frames, false));
            longer += std::max<float>(record->x, record->y);
            shorter += std::min<float>(record->x, record->y);
            height += record->z;
            hands = hands || record->MEASURE_ERROR_HANDS_DETECTED;
            if (set == 0) {
                for (int call = 1; call < kTimedCalls; ++call) {
                    scenePlain.push_back(TimeMeasure(vision, frames, false));
                }
                for (int call = 0; call < kTimedCallsWithPictures; ++call) {
                    scenePictures.push_back(TimeMeasure(vision, frames, true));
                }
            }
        }
        longer /= kFrameSetsPerScene;
        shorter /= kFrameSetsPerScene;
        height /= kFrameSetsPerScene;

        const BoxOnFloor& box = benchScene.box;
        const double trueLonger = std::max(box.length, box.width);
        const double trueShorter = std::min(box.length, box.width);
        const visionbench::Expected outline = visionbench::PredictMeasure(box, kFloor, intrinsics);
        char trueText[32];
        char outlineText[32];
        char measuredText[32];
        char errorText[32];
        char plainText[32];
        char picturesText[32];
        std::snprintf(trueText, sizeof trueText, "%.0fx%.0fx%.0f", trueLonger, trueShorter,
                      box.height);
        std::snprintf(outlineText, sizeof outlineText, "%.1fx%.1f", std::max(outline.x, outline.y),
                      std::min(outline.x, outline.y));
        std::snprintf(measuredText, sizeof measuredText, "%.1fx%.1fx%.1f", longer, shorter, height);
        std::snprintf(errorText, sizeof errorText, "%+.1f/%+.1f/%+.1f", longer - trueLonger,
                      shorter - trueShorter, height - box.height);
        std::snprintf(plainText, sizeof plainText, "%.2f/%.2f", Percentile(scenePlain, 0.5),
                      Percentile(scenePlain, 0.95));
        std::snprintf(picturesText, sizeof picturesText, "%.1f/%.1f",
                      Percentile(scenePictures, 0.5), Percentile(scenePictures, 0.95));
        std::printf("%-26s %-15s %-15s %-21s %-21s %-6s %-13s %-13s\n", benchScene.name.c_str(),
                    trueText, outlineText, measuredText, errorText, hands ? "yes" : "no", plainText,
                    picturesText);

        errors.sides.push_back(longer - trueLonger);
        errors.sides.push_back(shorter - trueShorter);
        errors.heights.push_back(height - box.height);
        plainTimes.insert(plainTimes.end(), scenePlain.begin(), scenePlain.end());
        pictureTimes.insert(pictureTimes.end(), scenePictures.begin(), scenePictures.end());
    }

    std::printf("\nOverall, %zu scenes:\n", Scenes().size());
    Summarise("sides", errors.sides);
    Summarise("heights", errors.heights);
    std::printf(
        "  time per Measure: median %.2f ms, p95 %.2f ms without pictures; "
        "median %.1f ms, p95 %.1f ms with pictures\n",
        Percentile(plainTimes, 0.5), Percentile(plainTimes, 0.95), Percentile(pictureTimes, 0.5),
        Percentile(pictureTimes, 0.95));
    std::filesystem::remove_all(dir);
    return 0;
}
