// Controls of the simulated camera, for tools and tests: the scene it looks at, read from a TOML
// file, and the renderer that turns a scene into depth and colour pictures.
#pragma once

#include <librealsense2/rs.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace simcam {

// Names the scene file. Unset or empty: no camera is connected.
inline constexpr const char* kSceneVariable = "SIMCAM_SCENE";

inline constexpr int kDepthWidth = 1280;
inline constexpr int kDepthHeight = 720;
inline constexpr int kColorWidth = 1280;
inline constexpr int kColorHeight = 720;
inline constexpr int kFramesPerSecond = 6;

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// Lengths are millimetres. Positions on the floor are relative to the point straight below the
// camera, x towards the right of the image and y towards its bottom. The camera is at the
// origin and looks straight down; depth is the distance along its axis.
struct Box {
    double length = 0;  // along the box's own x axis
    double width = 0;
    double height = 0;
    double x = 0;  // centre of the box's footprint
    double y = 0;
    double rotation = 0;  // degrees, turning the length axis from the image's x axis towards y
    Rgb color{196, 154, 108};
};

enum class Border { Left, Right, Top, Bottom };

// A forearm held level, reaching in over an image border: a cuboid from the border to `tip`.
struct Arm {
    Border from = Border::Right;
    double tip_x = 0;
    double tip_y = 0;
    double width = 90;
    double thickness = 70;
    double height = 300;  // of its upper surface above the floor
    Rgb color{224, 172, 140};
};

// Depth-image pixels [x, x + width) x [y, y + height) that carry no depth.
struct NoDepthPatch {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

enum class DeviceSetup {
    D400,       // one camera with depth and colour
    None,       // nothing connected
    DepthOnly,  // one camera without colour
    Split,      // one camera with depth only, another with colour only
};

struct Faults {
    DeviceSetup devices = DeviceSetup::D400;
    bool serial = true;
    std::optional<unsigned long long> stop_after_framesets;
    std::optional<rs2_option> refuse_option;
};

struct Scene {
    double floor_distance = 0;
    rs2_intrinsics depth{};
    rs2_intrinsics color{};
    std::string serial_number = "SIMCAM000001";
    Rgb floor_color{118, 118, 118};
    std::vector<Box> boxes;
    std::vector<Arm> arms;
    std::vector<NoDepthPatch> no_depth;
    double noise_at_1m = 0;  // standard deviation in mm at 1 m; grows with the square of depth
    std::uint64_t noise_seed = 1;
    Faults faults;
};

// A scene file that cannot be read or does not describe a valid scene; the message is one line.
class SceneError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// `origin` names the text's source in messages.
Scene ParseScene(const std::string& text, const std::string& origin);
Scene LoadScene(const std::string& path);

// Z16 depth (1 mm per unit) of `intrinsics.width` x `intrinsics.height` pixels, as the camera
// delivers it in frame set `frame_number` (the noise depends on it).
void RenderDepth(const Scene& scene, const rs2_intrinsics& intrinsics,
                 unsigned long long frame_number, std::uint16_t* depth);
// Three bytes per pixel in `format` (RS2_FORMAT_RGB8 or RS2_FORMAT_BGR8).
void RenderColor(const Scene& scene, const rs2_intrinsics& intrinsics, rs2_format format,
                 std::uint8_t* pixels);

}  // namespace simcam
