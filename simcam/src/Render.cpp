// Renders a scene by casting each pixel's ray from the camera: the nearest of the floor, the
// boxes and the arms is what the pixel sees.
#include <simcam/scene.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace simcam {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Far enough that an arm's far end lies outside the view of any camera a scene can describe.
constexpr double kArmLength = 1e7;

// A cuboid with a level top and upright sides; `z` runs along the camera axis, down.
struct Solid {
    double cx, cy;  // centre of the footprint
    double cos_r, sin_r;
    double half_length, half_width;
    double z_top, z_bottom;
    Rgb color;
    int u0, u1, v0, v1;  // the pixels that can see it
};

struct Hit {
    double z;
    const Solid* solid;  // null: the floor
    bool side;
};

// Narrows [lo, hi] to the depths at which |k z - p| <= half, i.e. where the ray lies between two
// parallel upright faces. Entering through a face makes the hit a side hit.
bool Clip(double k, double p, double half, double& lo, double& hi, bool& side) {
    if (k == 0) {
        return std::abs(p) <= half;
    }
    double enter = (p - half) / k;
    double leave = (p + half) / k;
    if (enter > leave) {
        std::swap(enter, leave);
    }
    if (enter > lo) {
        lo = enter;
        side = true;
    }
    hi = std::min(hi, leave);
    return lo <= hi;
}

// The ray of a pixel is (a z, b z, z) for depth z.
bool Intersect(const Solid& s, double a, double b, double& z, bool& side) {
    double lo = s.z_top;
    double hi = s.z_bottom;
    side = false;
    const double along = s.cos_r * a + s.sin_r * b;
    const double across = -s.sin_r * a + s.cos_r * b;
    const double centre_along = s.cos_r * s.cx + s.sin_r * s.cy;
    const double centre_across = -s.sin_r * s.cx + s.cos_r * s.cy;
    if (!Clip(along, centre_along, s.half_length, lo, hi, side) ||
        !Clip(across, centre_across, s.half_width, lo, hi, side)) {
        return false;
    }
    z = lo;
    return true;
}

void Bound(Solid& s, const rs2_intrinsics& in) {
    double u_min = std::numeric_limits<double>::max();
    double u_max = std::numeric_limits<double>::lowest();
    double v_min = u_min;
    double v_max = u_max;
    for (const double dl : {-s.half_length, s.half_length}) {
        for (const double dw : {-s.half_width, s.half_width}) {
            const double x = s.cx + dl * s.cos_r - dw * s.sin_r;
            const double y = s.cy + dl * s.sin_r + dw * s.cos_r;
            for (const double z : {s.z_top, s.z_bottom}) {
                const double u = in.ppx + in.fx * x / z;
                const double v = in.ppy + in.fy * y / z;
                u_min = std::min(u_min, u);
                u_max = std::max(u_max, u);
                v_min = std::min(v_min, v);
                v_max = std::max(v_max, v);
            }
        }
    }
    // The picture of a convex solid lies within the hull of its corners' pictures.
    const auto clamp = [](double value, int high) {
        return static_cast<int>(std::clamp(value, -1.0, static_cast<double>(high) + 1));
    };
    s.u0 = clamp(std::floor(u_min) - 1, in.width);
    s.u1 = clamp(std::ceil(u_max) + 1, in.width);
    s.v0 = clamp(std::floor(v_min) - 1, in.height);
    s.v1 = clamp(std::ceil(v_max) + 1, in.height);
}

std::vector<Solid> Solids(const Scene& scene, const rs2_intrinsics& intrinsics) {
    std::vector<Solid> solids;
    solids.reserve(scene.boxes.size() + scene.arms.size());
    for (const Box& box : scene.boxes) {
        const double angle = box.rotation * kPi / 180;
        solids.push_back(Solid{box.x, box.y, std::cos(angle), std::sin(angle), box.length / 2,
                               box.width / 2, scene.floor_distance - box.height,
                               scene.floor_distance, box.color, 0, 0, 0, 0});
    }
    for (const Arm& arm : scene.arms) {
        const double top = scene.floor_distance - arm.height;
        const double bottom = std::min(top + arm.thickness, scene.floor_distance);
        const bool level = arm.from == Border::Left || arm.from == Border::Right;
        const double direction = (arm.from == Border::Right || arm.from == Border::Bottom) ? 1 : -1;
        Solid solid{
            arm.tip_x, arm.tip_y, 1, 0, kArmLength / 2, arm.width / 2, top, bottom, arm.color,
            0,         0,         0, 0};
        if (level) {
            solid.cx += direction * kArmLength / 2;
        } else {
            solid.cy += direction * kArmLength / 2;
            std::swap(solid.half_length, solid.half_width);
        }
        solids.push_back(solid);
    }
    for (Solid& solid : solids) {
        Bound(solid, intrinsics);
    }
    return solids;
}

// Calls `emit(index, hit)` for every pixel, row by row.
template <class Emit>
void Trace(const Scene& scene, const rs2_intrinsics& in, Emit emit) {
    const std::vector<Solid> solids = Solids(scene, in);
    std::vector<const Solid*> row_solids;
    row_solids.reserve(solids.size());
    for (int v = 0; v < in.height; ++v) {
        row_solids.clear();
        for (const Solid& solid : solids) {
            if (v >= solid.v0 && v <= solid.v1) {
                row_solids.push_back(&solid);
            }
        }
        const double b = (v - static_cast<double>(in.ppy)) / in.fy;
        const size_t row = static_cast<size_t>(v) * static_cast<size_t>(in.width);
        for (int u = 0; u < in.width; ++u) {
            Hit hit{scene.floor_distance, nullptr, false};
            const double a = (u - static_cast<double>(in.ppx)) / in.fx;
            for (const Solid* solid : row_solids) {
                double z;
                bool side;
                if (u >= solid->u0 && u <= solid->u1 && Intersect(*solid, a, b, z, side) &&
                    z < hit.z) {
                    hit = Hit{z, solid, side};
                }
            }
            emit(row + static_cast<size_t>(u), hit);
        }
    }
}

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Zero mean, unit standard deviation, a pure function of its arguments: the sum of four
// uniform variables (Irwin-Hall), which is close enough to Gaussian for depth jitter.
double Jitter(std::uint64_t seed, unsigned long long frame, size_t pixel) {
    const std::uint64_t bits = Mix(Mix(seed ^ Mix(frame)) ^ pixel);
    double sum = 0;
    for (int i = 0; i < 4; ++i) {
        sum += static_cast<double>((bits >> (16 * i)) & 0xFFFF) / 65536.0;
    }
    return (sum - 2.0) * std::sqrt(3.0);
}

}  // namespace

void RenderDepth(const Scene& scene, const rs2_intrinsics& intrinsics,
                 unsigned long long frame_number, std::uint16_t* depth) {
    const bool noisy = scene.noise_at_1m > 0;
    Trace(scene, intrinsics, [&](size_t index, const Hit& hit) {
        double z = hit.z;
        if (noisy) {
            const double metres = z / 1000;
            z +=
                scene.noise_at_1m * metres * metres * Jitter(scene.noise_seed, frame_number, index);
        }
        const double rounded = std::round(z);
        depth[index] = (rounded >= 1 && rounded <= 65535) ? static_cast<std::uint16_t>(rounded) : 0;
    });
    for (const NoDepthPatch& patch : scene.no_depth) {
        const int x_end = std::min(patch.x + patch.width, intrinsics.width);
        const int y_end = std::min(patch.y + patch.height, intrinsics.height);
        for (int y = patch.y; y < y_end; ++y) {
            for (int x = patch.x; x < x_end; ++x) {
                depth[static_cast<size_t>(y) * static_cast<size_t>(intrinsics.width) +
                      static_cast<size_t>(x)] = 0;
            }
        }
    }
}

void RenderColor(const Scene& scene, const rs2_intrinsics& intrinsics, rs2_format format,
                 std::uint8_t* pixels) {
    const bool bgr = format == RS2_FORMAT_BGR8;
    Trace(scene, intrinsics, [&](size_t index, const Hit& hit) {
        Rgb color = hit.solid ? hit.solid->color : scene.floor_color;
        if (hit.side) {
            // Sides are shaded so that a box's outline shows in the picture.
            color = Rgb{static_cast<std::uint8_t>(color.r * 3 / 4),
                        static_cast<std::uint8_t>(color.g * 3 / 4),
                        static_cast<std::uint8_t>(color.b * 3 / 4)};
        }
        std::uint8_t* pixel = pixels + index * 3;
        pixel[0] = bgr ? color.b : color.r;
        pixel[1] = color.g;
        pixel[2] = bgr ? color.r : color.b;
    });
}

}  // namespace simcam
