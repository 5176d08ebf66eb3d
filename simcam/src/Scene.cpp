// Reads scene files: the camera's optics, what stands on the floor, and the faults to show.
#include <simcam/scene.h>

#include <toml.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <utility>

namespace simcam {
namespace {

using Value = toml::value;

constexpr double kPi = 3.14159265358979323846;
constexpr double kMaxZ16 = 65535;

// toml11 explains errors over several lines; a scene error is one line.
std::string OneLine(const std::string& text) {
    std::string line;
    bool space = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            space = !line.empty();
            continue;
        }
        if (space) {
            line += ' ';
            space = false;
        }
        line += c;
    }
    return line;
}

rs2_intrinsics FromFieldOfView(int width, int height, double horizontal, double vertical) {
    rs2_intrinsics intrinsics{};
    intrinsics.width = width;
    intrinsics.height = height;
    intrinsics.fx = static_cast<float>((width / 2.0) / std::tan(horizontal / 2 * kPi / 180));
    intrinsics.fy = static_cast<float>((height / 2.0) / std::tan(vertical / 2 * kPi / 180));
    intrinsics.ppx = static_cast<float>(width / 2.0);
    intrinsics.ppy = static_cast<float>(height / 2.0);
    // What the D400 depth stream reports: Brown-Conrady with all coefficients 0.
    intrinsics.model = RS2_DISTORTION_BROWN_CONRADY;
    return intrinsics;
}

class Reader {
  public:
    explicit Reader(std::string origin) : origin_(std::move(origin)) {}

    [[noreturn]] void Fail(const Value& at, const std::string& message) const {
        std::string where = origin_;
        const auto line = at.location().line();
        if (line > 0) {
            where += ":" + std::to_string(line);
        }
        throw SceneError(where + ": " + message);
    }

    void OnlyKeys(const Value& table, const std::string& name,
                  std::initializer_list<const char*> keys) const {
        std::vector<std::string> unknown;
        for (const auto& [key, value] : table.as_table()) {
            if (std::none_of(keys.begin(), keys.end(),
                             [&key = key](const char* known) { return key == known; })) {
                unknown.push_back(key);
            }
        }
        if (!unknown.empty()) {
            std::sort(unknown.begin(), unknown.end());
            std::string list;
            for (const auto& key : unknown) {
                list += (list.empty() ? "'" : ", '") + key + "'";
            }
            Fail(table, "unknown key " + list + " in " + name);
        }
    }

    const Value& Table(const Value& parent, const char* key) const {
        const Value& table = parent.as_table().at(key);
        if (!table.is_table()) {
            Fail(table, std::string("'") + key + "' must be a table ([" + key + "])");
        }
        return table;
    }

    const toml::array& TableArray(const Value& parent, const char* key) const {
        const Value& array = parent.as_table().at(key);
        if (!array.is_array() || !std::all_of(array.as_array().begin(), array.as_array().end(),
                                              [](const Value& item) { return item.is_table(); })) {
            Fail(array, std::string("'") + key + "' must be an array of tables ([[" + key + "]])");
        }
        return array.as_array();
    }

    static bool Has(const Value& table, const char* key) { return table.contains(key); }

    double Number(const Value& table, const char* key) const {
        if (!Has(table, key)) {
            Fail(table, std::string("'") + key + "' is missing");
        }
        return AsNumber(table.as_table().at(key), key);
    }
    double Number(const Value& table, const char* key, double fallback) const {
        return Has(table, key) ? Number(table, key) : fallback;
    }

    long long Integer(const Value& table, const char* key) const {
        if (!Has(table, key)) {
            Fail(table, std::string("'") + key + "' is missing");
        }
        const Value& value = table.as_table().at(key);
        if (!value.is_integer()) {
            Fail(value, std::string("'") + key + "' must be a whole number");
        }
        return value.as_integer();
    }

    bool Boolean(const Value& table, const char* key, bool fallback) const {
        if (!Has(table, key)) {
            return fallback;
        }
        const Value& value = table.as_table().at(key);
        if (!value.is_boolean()) {
            Fail(value, std::string("'") + key + "' must be true or false");
        }
        return value.as_boolean();
    }

    std::string String(const Value& table, const char* key) const {
        if (!Has(table, key)) {
            Fail(table, std::string("'") + key + "' is missing");
        }
        const Value& value = table.as_table().at(key);
        if (!value.is_string()) {
            Fail(value, std::string("'") + key + "' must be a string");
        }
        return value.as_string().str;
    }

    std::pair<double, double> Pair(const Value& table, const char* key) const {
        const Value& value = table.as_table().at(key);
        if (!value.is_array() || value.as_array().size() != 2) {
            Fail(value, std::string("'") + key + "' must be an array of two numbers");
        }
        return {AsNumber(value.as_array()[0], key), AsNumber(value.as_array()[1], key)};
    }

    Rgb Color(const Value& table, const char* key, Rgb fallback) const {
        if (!Has(table, key)) {
            return fallback;
        }
        const Value& value = table.as_table().at(key);
        const std::string message =
            std::string("'") + key + "' must be an array of three whole numbers 0 to 255";
        if (!value.is_array() || value.as_array().size() != 3) {
            Fail(value, message);
        }
        std::uint8_t channels[3];
        for (int i = 0; i < 3; ++i) {
            const Value& channel = value.as_array()[static_cast<size_t>(i)];
            if (!channel.is_integer() || channel.as_integer() < 0 || channel.as_integer() > 255) {
                Fail(value, message);
            }
            channels[i] = static_cast<std::uint8_t>(channel.as_integer());
        }
        return Rgb{channels[0], channels[1], channels[2]};
    }

    void Require(bool condition, const Value& at, const std::string& message) const {
        if (!condition) {
            Fail(at, message);
        }
    }

  private:
    double AsNumber(const Value& value, const char* key) const {
        if (value.is_integer()) {
            return static_cast<double>(value.as_integer());
        }
        if (!value.is_floating() || !std::isfinite(value.as_floating())) {
            Fail(value, std::string("'") + key + "' must be a number");
        }
        return value.as_floating();
    }

    std::string origin_;
};

rs2_intrinsics ReadOptics(const Reader& reader, const Value& camera, int width, int height,
                          const char* fov_key, const char* fx_key, const char* fy_key,
                          const char* ppx_key, const char* ppy_key, double default_horizontal,
                          double default_vertical) {
    const bool direct = Reader::Has(camera, fx_key) || Reader::Has(camera, fy_key);
    if (direct && Reader::Has(camera, fov_key)) {
        reader.Fail(camera, std::string("give either '") + fov_key + "' or '" + fx_key + "' and '" +
                                fy_key + "', not both");
    }
    rs2_intrinsics intrinsics;
    if (direct) {
        intrinsics = FromFieldOfView(width, height, default_horizontal, default_vertical);
        intrinsics.fx = static_cast<float>(reader.Number(camera, fx_key));
        intrinsics.fy = static_cast<float>(reader.Number(camera, fy_key));
        reader.Require(intrinsics.fx > 0 && intrinsics.fy > 0, camera,
                       std::string("'") + fx_key + "' and '" + fy_key + "' must be more than 0");
    } else {
        auto [horizontal, vertical] = std::pair(default_horizontal, default_vertical);
        if (Reader::Has(camera, fov_key)) {
            std::tie(horizontal, vertical) = reader.Pair(camera, fov_key);
        }
        reader.Require(horizontal > 0 && horizontal < 180 && vertical > 0 && vertical < 180, camera,
                       std::string("'") + fov_key + "' angles must lie between 0 and 180 degrees");
        intrinsics = FromFieldOfView(width, height, horizontal, vertical);
    }
    intrinsics.ppx = static_cast<float>(reader.Number(camera, ppx_key, intrinsics.ppx));
    intrinsics.ppy = static_cast<float>(reader.Number(camera, ppy_key, intrinsics.ppy));
    return intrinsics;
}

void ReadCamera(const Reader& reader, const Value& camera, Scene& scene) {
    reader.OnlyKeys(camera, "[camera]",
                    {"floor_distance", "fov", "fx", "fy", "ppx", "ppy", "color_fov",
                     "serial_number", "floor_color"});
    scene.floor_distance = reader.Number(camera, "floor_distance");
    reader.Require(scene.floor_distance >= 1 && scene.floor_distance <= kMaxZ16, camera,
                   "'floor_distance' must lie between 1 and 65535 mm");
    scene.depth = ReadOptics(reader, camera, kDepthWidth, kDepthHeight, "fov", "fx", "fy", "ppx",
                             "ppy", 65, 40);
    scene.color = FromFieldOfView(kColorWidth, kColorHeight, 69, 42);
    if (Reader::Has(camera, "color_fov")) {
        const auto [horizontal, vertical] = reader.Pair(camera, "color_fov");
        reader.Require(horizontal > 0 && horizontal < 180 && vertical > 0 && vertical < 180, camera,
                       "'color_fov' angles must lie between 0 and 180 degrees");
        scene.color = FromFieldOfView(kColorWidth, kColorHeight, horizontal, vertical);
    }
    if (Reader::Has(camera, "serial_number")) {
        scene.serial_number = reader.String(camera, "serial_number");
        reader.Require(!scene.serial_number.empty(), camera, "'serial_number' must not be empty");
    }
    scene.floor_color = reader.Color(camera, "floor_color", scene.floor_color);
}

Box ReadBox(const Reader& reader, const Value& table, double floor_distance) {
    reader.OnlyKeys(table, "[[box]]", {"length", "width", "height", "x", "y", "rotation", "color"});
    Box box;
    box.length = reader.Number(table, "length");
    box.width = reader.Number(table, "width");
    box.height = reader.Number(table, "height");
    reader.Require(box.length > 0 && box.width > 0, table,
                   "box 'length' and 'width' must be more than 0");
    reader.Require(box.height > 0 && box.height < floor_distance, table,
                   "box 'height' must be more than 0 and less than the floor distance");
    box.x = reader.Number(table, "x", 0);
    box.y = reader.Number(table, "y", 0);
    box.rotation = reader.Number(table, "rotation", 0);
    box.color = reader.Color(table, "color", box.color);
    return box;
}

Arm ReadArm(const Reader& reader, const Value& table, double floor_distance) {
    reader.OnlyKeys(table, "[[arm]]", {"from", "tip", "width", "thickness", "height", "color"});
    Arm arm;
    const std::string from = reader.String(table, "from");
    const std::pair<const char*, Border> borders[] = {{"left", Border::Left},
                                                      {"right", Border::Right},
                                                      {"top", Border::Top},
                                                      {"bottom", Border::Bottom}};
    const auto* border = std::find_if(std::begin(borders), std::end(borders),
                                      [&](const auto& entry) { return from == entry.first; });
    reader.Require(border != std::end(borders), table,
                   "arm 'from' must be \"left\", \"right\", \"top\" or \"bottom\"");
    arm.from = border->second;
    reader.Require(Reader::Has(table, "tip"), table, "'tip' is missing");
    std::tie(arm.tip_x, arm.tip_y) = reader.Pair(table, "tip");
    arm.width = reader.Number(table, "width", arm.width);
    arm.thickness = reader.Number(table, "thickness", arm.thickness);
    arm.height = reader.Number(table, "height", arm.height);
    reader.Require(arm.width > 0 && arm.thickness > 0, table,
                   "arm 'width' and 'thickness' must be more than 0");
    reader.Require(arm.height > 0 && arm.height < floor_distance, table,
                   "arm 'height' must be more than 0 and less than the floor distance");
    arm.color = reader.Color(table, "color", arm.color);
    return arm;
}

NoDepthPatch ReadNoDepth(const Reader& reader, const Value& table) {
    reader.OnlyKeys(table, "[[no_depth]]", {"x", "y", "width", "height"});
    NoDepthPatch patch;
    const long long values[] = {reader.Integer(table, "x"), reader.Integer(table, "y"),
                                reader.Integer(table, "width"), reader.Integer(table, "height")};
    reader.Require(std::all_of(std::begin(values), std::end(values),
                               [](long long v) { return v >= 0 && v <= 100000; }),
                   table, "no_depth 'x', 'y', 'width' and 'height' must lie between 0 and 100000");
    patch.x = static_cast<int>(values[0]);
    patch.y = static_cast<int>(values[1]);
    patch.width = static_cast<int>(values[2]);
    patch.height = static_cast<int>(values[3]);
    return patch;
}

void ReadNoise(const Reader& reader, const Value& table, Scene& scene) {
    reader.OnlyKeys(table, "[noise]", {"sigma_at_1m", "seed"});
    scene.noise_at_1m = reader.Number(table, "sigma_at_1m", 0);
    reader.Require(scene.noise_at_1m >= 0, table, "'sigma_at_1m' must not be negative");
    if (Reader::Has(table, "seed")) {
        const long long seed = reader.Integer(table, "seed");
        reader.Require(seed >= 0, table, "'seed' must not be negative");
        scene.noise_seed = static_cast<std::uint64_t>(seed);
    }
}

void ReadFaults(const Reader& reader, const Value& table, Faults& faults) {
    reader.OnlyKeys(table, "[faults]",
                    {"devices", "serial", "stop_after_framesets", "refuse_option"});
    if (Reader::Has(table, "devices")) {
        const std::string devices = reader.String(table, "devices");
        const std::pair<const char*, DeviceSetup> setups[] = {
            {"d400", DeviceSetup::D400},
            {"none", DeviceSetup::None},
            {"depth-only", DeviceSetup::DepthOnly},
            {"split", DeviceSetup::Split}};
        const auto* setup = std::find_if(std::begin(setups), std::end(setups),
                                         [&](const auto& entry) { return devices == entry.first; });
        reader.Require(setup != std::end(setups), table,
                       "'devices' must be \"d400\", \"none\", \"depth-only\" or \"split\"");
        faults.devices = setup->second;
    }
    faults.serial = reader.Boolean(table, "serial", true);
    if (Reader::Has(table, "stop_after_framesets")) {
        const long long count = reader.Integer(table, "stop_after_framesets");
        reader.Require(count >= 0, table, "'stop_after_framesets' must not be negative");
        faults.stop_after_framesets = static_cast<unsigned long long>(count);
    }
    if (Reader::Has(table, "refuse_option")) {
        const std::string option = reader.String(table, "refuse_option");
        reader.Require(option == "VISUAL_PRESET", table,
                       "'refuse_option' must be \"VISUAL_PRESET\"");
        faults.refuse_option = RS2_OPTION_VISUAL_PRESET;
    }
}

}  // namespace

Scene ParseScene(const std::string& text, const std::string& origin) {
    Value document;
    try {
        std::istringstream stream(text);
        document = toml::parse(stream, origin);
    } catch (const std::exception& e) {
        std::string reason = OneLine(e.what());
        const std::string tag = "[error] ";
        if (reason.rfind(tag, 0) == 0) {
            reason.erase(0, tag.size());
        }
        throw SceneError(origin + ": " + reason);
    }
    const Reader reader(origin);
    reader.OnlyKeys(document, "the scene", {"camera", "box", "arm", "no_depth", "noise", "faults"});
    reader.Require(Reader::Has(document, "camera"), document, "the [camera] table is missing");

    Scene scene;
    ReadCamera(reader, reader.Table(document, "camera"), scene);
    if (Reader::Has(document, "box")) {
        for (const Value& table : reader.TableArray(document, "box")) {
            scene.boxes.push_back(ReadBox(reader, table, scene.floor_distance));
        }
    }
    if (Reader::Has(document, "arm")) {
        for (const Value& table : reader.TableArray(document, "arm")) {
            scene.arms.push_back(ReadArm(reader, table, scene.floor_distance));
        }
    }
    if (Reader::Has(document, "no_depth")) {
        for (const Value& table : reader.TableArray(document, "no_depth")) {
            scene.no_depth.push_back(ReadNoDepth(reader, table));
        }
    }
    if (Reader::Has(document, "noise")) {
        ReadNoise(reader, reader.Table(document, "noise"), scene);
    }
    if (Reader::Has(document, "faults")) {
        ReadFaults(reader, reader.Table(document, "faults"), scene.faults);
    }
    return scene;
}

Scene LoadScene(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw SceneError(path + ": cannot open: " + std::strerror(errno));
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        throw SceneError(path + ": cannot read: " + std::strerror(errno));
    }
    return ParseScene(text.str(), path);
}

}  // namespace simcam
