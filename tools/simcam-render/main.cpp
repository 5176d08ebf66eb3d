// simcam-render scene.toml outdir/: shows what the simulated camera sees in a scene, as PNG
// pictures made through the camera API (colourised depth, colour, colour aligned to depth),
// and prints how long the camera takes to render one frame set.
#include <simcam/scene.h>
#include <librealsense2/rs.hpp>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kTimedFrameSets = 20;

// The picture as OpenCV writes it: three bytes per pixel in blue-green-red order.
cv::Mat AsBgr(const rs2::video_frame& frame) {
    const cv::Mat pixels(frame.get_height(), frame.get_width(), CV_8UC3,
                         const_cast<void*>(frame.get_data()),
                         static_cast<size_t>(frame.get_stride_in_bytes()));
    cv::Mat bgr;
    if (frame.get_profile().format() == RS2_FORMAT_RGB8) {
        cv::cvtColor(pixels, bgr, cv::COLOR_RGB2BGR);
    } else {
        bgr = pixels.clone();
    }
    return bgr;
}

bool Write(const std::string& path, const rs2::video_frame& frame) {
    if (!cv::imwrite(path, AsBgr(frame))) {
        std::cerr << "simcam-render: cannot write " + path + "\n";
        return false;
    }
    std::cout << "wrote " + path + "\n";
    return true;
}

// Rendering alone, without the camera's real-time pacing.
void PrintRenderTime(const simcam::Scene& scene) {
    std::vector<std::uint16_t> depth(static_cast<size_t>(scene.depth.width) *
                                     static_cast<size_t>(scene.depth.height));
    std::vector<std::uint8_t> color(static_cast<size_t>(scene.color.width) *
                                    static_cast<size_t>(scene.color.height) * 3);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kTimedFrameSets; ++i) {
        simcam::RenderDepth(scene, scene.depth, static_cast<unsigned long long>(i) + 1,
                            depth.data());
        simcam::RenderColor(scene, scene.color, RS2_FORMAT_BGR8, color.data());
    }
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    char line[160];
    std::snprintf(line, sizeof line,
                  "render: %dx%d depth + %dx%d colour frame set in %.1f ms (mean of %d)\n",
                  scene.depth.width, scene.depth.height, scene.color.width, scene.color.height,
                  elapsed.count() / kTimedFrameSets, kTimedFrameSets);
    std::cout << line;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: simcam-render scene.toml outdir/\n";
        return 2;
    }
    const std::string scene_path = argv[1];
    std::string out = argv[2];
    if (out.back() != '/') {
        out += '/';
    }
    try {
        const simcam::Scene scene = simcam::LoadScene(scene_path);
        setenv(simcam::kSceneVariable, scene_path.c_str(), 1);

        rs2::context context;
        const rs2::device_list devices = context.query_devices();
        if (devices.size() == 0) {
            std::cerr << "simcam-render: the scene connects no camera\n";
            return 1;
        }
        // Every stream that any camera of the scene offers, each from its own pipeline.
        bool written = true;
        for (const rs2::device& device : devices) {
            rs2::config config;
            if (device.supports(RS2_CAMERA_INFO_SERIAL_NUMBER)) {
                config.enable_device(device.get_info(RS2_CAMERA_INFO_SERIAL_NUMBER));
            }
            rs2::pipeline pipe(context);
            pipe.start(config);
            const rs2::frameset frames = pipe.wait_for_frames();
            pipe.stop();
            if (const rs2::depth_frame depth = frames.get_depth_frame()) {
                written &= Write(out + "depth.png", rs2::colorizer().colorize(depth));
            }
            if (const rs2::video_frame color = frames.get_color_frame()) {
                written &= Write(out + "color.png", color);
                const rs2::frameset aligned = rs2::align(RS2_STREAM_DEPTH).process(frames);
                if (aligned.get_depth_frame()) {
                    written &= Write(out + "color-aligned.png", aligned.get_color_frame());
                }
            }
        }
        PrintRenderTime(scene);
        return written ? 0 : 1;
    } catch (const simcam::SceneError& e) {
        std::cerr << std::string("simcam-render: ") + e.what() + "\n";
    } catch (const rs2::error& e) {
        std::cerr << "simcam-render: " + e.get_failed_function() + ": " + e.what() + "\n";
    } catch (const cv::Exception& e) {
        std::cerr << std::string("simcam-render: ") + e.what() + "\n";
    }
    return 1;
}
