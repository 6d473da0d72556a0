// quadscene export and import as a user runs them: exact round trips through .glb, .gltf and
// .obj for the demo and for a scene of the hard cases; the Khronos glTF-Validator and Assimp
// accept every export; the exported camera puts corners where the viewer draws them; quads
// split as the viewer's GL splits them; models from elsewhere land where their geometry is.
#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "interchange/stages.h"
#include "scene/quad_list.h"
#include "scene/quad_list_writer.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"
#include "scene/tga_writer.h"
#include "tests/command_runner.h"
#include "tests/test_files.h"

namespace {

using nlohmann::json;

const std::string kValidator = QUADVIEW_BINARY_DIR "/gltf-validator/validate.js";
constexpr double kPi = 3.14159265358979323846;

void WriteImage(const std::string& path, int width, int height, uint8_t seed) {
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(seed * 37 + i * 11);
  WriteTga32(path, width, height, rgba.data());
}

// Every hard case in one scene: 1,024 slots, an untextured one (an image of no texels) and
// slots outside the table, blend values other than 0 and 1, non-planar quads, signed zeros,
// tiny and huge values, infinities, both windings.
std::string WriteHardScene(const TempDir& dir) {
  const std::string path = dir.File("hard/nyc.map");
  const std::string folder = TextureFolderPrefix(path);
  std::filesystem::create_directories(folder);
  for (int slot = 0; slot < kTextureSlots; ++slot) {
    const int side = slot == 7 ? 0 : 1 + slot % 3;
    WriteImage(TextureImagePath(folder, slot), side, side == 0 ? 0 : 2, static_cast<uint8_t>(slot));
  }
  const float inf = std::numeric_limits<float>::infinity();
  QuadTable table;
  const int32_t slots[] = {0, 7, 1023, -3, 5000, 1, 1};
  const uint8_t blends[] = {0, 1, 2, 255, 1, 0, 0};
  for (int i = 0; i < 7; ++i) {
    table.records.push_back(Quad(slots[i], blends[i], static_cast<uint8_t>(i % 2), -1, -1, 1, 1,
                                 0.1f * static_cast<float>(i)));
  }
  QuadRecord odd = Quad(3, 0, 1, -0.5f, -0.5f, 0.5f, 0.5f);
  odd.corners[2].z = -0.7f;                                          // non-planar
  odd.corners[0] = QuadCorner{-0.0f, 1e-45f, -0.0f, 3.4e38f, 0.0f};  // signed zeros, extremes
  odd.corners[1].u = 1e-30f;
  odd.corners[1].v = -123456.789f;
  table.records.push_back(odd);
  QuadRecord infinite = Quad(2, 1, 0, 0, 0, 1, 1);
  infinite.corners[1].x = inf;
  infinite.corners[3].v = -inf;
  table.records.push_back(infinite);
  table.records.push_back(Quad(4, 0, 1, 2, 2, 3, 3));
  table.count = static_cast<int32_t>(table.records.size());
  WriteQuadList(path, table);
  return path;
}

std::string DemoScene(const TempDir& dir) {
  EXPECT_EQ(RunQuadscene("demo " + dir.File("demo"), dir).status, 0);
  return dir.File("demo/nyc.map");
}

// "Vertices: N" and the like from `assimp info --raw`.
int64_t AssimpCount(const std::string& info, const std::string& label) {
  const size_t at = info.find("\n" + label + ":");
  if (at == std::string::npos) return -1;
  return std::stoll(info.substr(at + label.size() + 2));
}

TEST(Interchange, ExportsImportBackBitForBitAndOtherToolsAcceptThem) {
  TempDir dir;
  const std::string scenes[] = {DemoScene(dir), WriteHardScene(dir)};
  for (const std::string& scene : scenes) {
    const std::string dump = RunQuadscene("dump " + scene, dir).out;
    const std::vector<std::vector<uint8_t>> textures = UploadedTextures(scene);
    QuadTable table;
    NoProgress progress;
    ReadQuadList(scene, table, progress);
    int64_t finite = 0;
    std::set<std::pair<int32_t, int>> materials;
    for (int32_t i = 0; i < table.count; ++i) {
      const QuadRecord& q = table.records[static_cast<size_t>(i)];
      bool allFinite = true;
      for (const QuadCorner& c : q.corners) {
        for (float v : {c.u, c.v, c.x, c.y, c.z}) allFinite = allFinite && std::isfinite(v);
      }
      if (!allFinite) continue;
      ++finite;
      const int32_t slot = q.textureIndex;  // copied: the packed field is not aligned
      materials.insert({slot, q.blend});
    }
    for (const std::string extension : {".glb", ".gltf", ".obj"}) {
      SCOPED_TRACE(scene + " as " + extension);
      const std::string stem = scene.substr(scene.size() - 12, 4);  // "demo", "hard"
      const std::string out = dir.File(stem + extension);
      const CommandResult exported = RunQuadscene("export " + scene + " -o " + out, dir);
      ASSERT_EQ(exported.status, 0) << exported.err;
      if (finite < table.count) {
        ASSERT_EQ(table.count - finite, 1);
        EXPECT_EQ(exported.err, out +
                                    ": warning: 1 record with a non-finite value is left out of "
                                    "the geometry; the quadview data keeps it\n");
      }
      const std::string back = dir.File(stem + "-back" + extension + "/sanb.map");
      // Own exports come back in their order with the default options.
      const CommandResult imported = RunQuadscene("import " + out + " -o " + back, dir);
      ASSERT_EQ(imported.status, 0) << imported.err;
      EXPECT_NE(imported.out.find(" (a quadview export, restored exactly)\n"), std::string::npos);
      EXPECT_EQ(RunQuadscene("dump " + back, dir).out, dump);
      EXPECT_EQ(UploadedTextures(back), textures);
      // Other tools read every export: Assimp counts what the scene holds (plus the default
      // material it always adds), the validator finds nothing wrong.
      const std::string info = Shell("assimp info " + out + " --raw 2>/dev/null");
      EXPECT_EQ(AssimpCount(info, "Vertices"), 4 * finite) << info;
      EXPECT_EQ(AssimpCount(info, "Faces"), (extension == ".obj" ? 1 : 2) * finite) << info;
      EXPECT_EQ(AssimpCount(info, "Materials"), static_cast<int64_t>(materials.size()) + 1);
      if (extension == ".obj") continue;
      const json report = json::parse(Shell("node " + kValidator + " " + out), nullptr, false);
      ASSERT_TRUE(report.is_object()) << "no validator report";
      EXPECT_EQ(report["errors"], 0) << report.dump(1);
      EXPECT_EQ(report["warnings"], 0) << report.dump(1);
    }
  }
}

// Linux names are bytes: a scene and an export named in Latin-1 ("café" with é as 0xE9) go
// through every form and back to the same records and images, the forms that demand UTF-8
// carrying the names escaped. Export and import tell their progress through --progress-fd.
TEST(Interchange, EveryFormCarriesNamesThatAreNotUtf8AndTellsItsProgress) {
  TempDir dir;
  const std::string demo = DemoScene(dir);
  const std::vector<std::vector<uint8_t>> textures = UploadedTextures(demo);
  const std::string scene = dir.File("demo/caf\xe9.map");
  std::filesystem::rename(demo, scene);
  std::filesystem::rename(dir.File("demo/nyc"), dir.File("demo/caf\xe9"));
  const std::string dump = RunQuadscene("dump '" + scene + "' --as nyc.map", dir).out;
  // The last line told: "UNIT DONE TOTAL", the whole done once the stage ends.
  const auto lastTold = [&dir](const char* unit) {
    const std::string told = ReadFile(dir.File("told"));
    std::istringstream line(told.substr(told.rfind('\n', told.size() - 2) + 1));
    std::string word;
    int64_t done = -1, total = -2;
    line >> word >> done >> total;
    return word == unit && done == total && total > 0;
  };
  std::filesystem::create_directories(dir.File("out"));
  for (const std::string extension : {".json", ".qvb", ".glb", ".gltf", ".obj"}) {
    SCOPED_TRACE(extension);
    const std::string out = dir.File("out/caf\xe9" + extension);
    const std::string tell = " --progress-fd 3 3>" + dir.File("told");
    const CommandResult exported =
        RunQuadscene("export '" + scene + "' --as nyc.map -o '" + out + "'" + tell, dir);
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_TRUE(lastTold("bytes")) << ReadFile(dir.File("told"));
    const std::string back = dir.File("back" + extension + "/nyc.map");
    const CommandResult imported = RunQuadscene("import '" + out + "' -o " + back + tell, dir);
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_TRUE(lastTold("records")) << ReadFile(dir.File("told"));
    EXPECT_EQ(RunQuadscene("dump " + back, dir).out, dump);
    EXPECT_EQ(UploadedTextures(back), textures);
    if (extension != ".obj") {
      EXPECT_NE(ReadFile(out).find("\"caf%E9.map\""), std::string::npos);
    }
  }
  const CommandResult bad = RunQuadscene("export " + scene + " -o x.qvb --progress-fd 9", dir);
  EXPECT_EQ(bad.err,
            "--progress-fd: 9 is no descriptor open for writing\n"
            "Run with --help for more information.\n");
  const struct {
    std::string name, escaped;
  } names[] = {{"nyc.map", "nyc.map"},
               {"caf\xc3\xa9 100%.map", "caf\xc3\xa9 100%25.map"},
               {"caf\xe9\xc3.map", "caf%E9%C3.map"},
               {"\xed\xa0\x80\xf4\x90\x80\x80", "%ED%A0%80%F4%90%80%80"}};  // surrogate, > U+10FFFF
  for (const auto& n : names) {
    EXPECT_EQ(EscapedName(n.name), n.escaped);
    EXPECT_EQ(UnescapedName(n.escaped), n.name);
  }
  // Only what EscapedName writes is decoded: no NUL or '/' comes of a name.
  EXPECT_EQ(UnescapedName("a%41%2F%00%e9%2"), "a%41%2F%00\xe9%2");
}

// A point of the file's frame where a glTF camera node puts it on a width x height view,
// computed from the node alone: its rotation (a quaternion), translation and vertical field
// of view.
void ProjectWithGltfCamera(const json& node, const json& perspective, const double (&point)[3],
                           int width, int height, double& px, double& py) {
  const double qx = node["rotation"][0], qy = node["rotation"][1], qz = node["rotation"][2],
               qw = node["rotation"][3];
  // Rows of the world-to-camera rotation: the transpose of the node's rotation matrix.
  const double r[3][3] = {
      {1 - 2 * (qy * qy + qz * qz), 2 * (qx * qy + qz * qw), 2 * (qx * qz - qy * qw)},
      {2 * (qx * qy - qz * qw), 1 - 2 * (qx * qx + qz * qz), 2 * (qy * qz + qx * qw)},
      {2 * (qx * qz + qy * qw), 2 * (qy * qz - qx * qw), 1 - 2 * (qx * qx + qy * qy)}};
  double d[3], eye[3];
  for (int k = 0; k < 3; ++k) d[k] = point[k] - node["translation"][k].get<double>();
  for (int k = 0; k < 3; ++k) eye[k] = r[k][0] * d[0] + r[k][1] * d[1] + r[k][2] * d[2];
  const double f = 1 / std::tan(perspective["yfov"].get<double>() / 2);
  const double aspect = perspective["aspectRatio"];
  px = (f / aspect * eye[0] / -eye[2] + 1) / 2 * width;
  py = (1 - f * eye[1] / -eye[2]) / 2 * height;
}

// The RGB of pixel (x, y) of a PNG, the top row first.
std::vector<int> PngPixel(const std::string& path, int x, int y) {
  int width = 0, height = 0, channels = 0;
  std::unique_ptr<uint8_t, void (*)(void*)> pixels(
      stbi_load(path.c_str(), &width, &height, &channels, 3), stbi_image_free);
  if (!pixels || x < 0 || y < 0 || x >= width || y >= height) return {};
  const uint8_t* at = pixels.get() + (static_cast<size_t>(y) * width + x) * 3;
  return {at[0], at[1], at[2]};
}

// Small white quads around the view; each exported camera must put their centres on the
// pixels where quadscene render draws them, for a camera turned every way.
TEST(Interchange, ExportedCameraPutsCornersWhereTheViewerDrawsThem) {
  TempDir dir;
  const std::string path = dir.File("marks/nyc.map");
  std::filesystem::create_directories(dir.File("marks/nyc"));
  WriteImage(dir.File("marks/nyc/000.tga"), 1, 1, 1);
  const double centres[][3] = {{0, 0, 0}, {0.6, 0.3, -0.5}, {-0.7, -0.2, 0.4}, {0.2, -0.5, -1.5}};
  QuadTable table;
  for (const auto& c : centres) {
    QuadRecord quad = Quad(-1, 0, 0, static_cast<float>(c[0] - 0.02),
                           static_cast<float>(c[1] - 0.02), static_cast<float>(c[0] + 0.02),
                           static_cast<float>(c[1] + 0.02), static_cast<float>(c[2]));
    table.records.push_back(quad);
  }
  table.count = static_cast<int32_t>(table.records.size());
  WriteQuadList(path, table);
  const std::string cameras[] = {"", "--tilt 12 --spin 25",
                                 "--pan 0.3 -0.2 --distance -3 --spin -40",
                                 "--tilt -15 --spin 170 --size 300x200"};
  for (const std::string& camera : cameras) {
    SCOPED_TRACE(camera);
    ASSERT_EQ(
        RunQuadscene("export " + path + " -o " + dir.File("marks.gltf") + " " + camera, dir).status,
        0);
    ASSERT_EQ(
        RunQuadscene("render " + path + " -o " + dir.File("marks.png") + " " + camera, dir).status,
        0);
    const json gltf = json::parse(ReadFile(dir.File("marks.gltf")));
    const json& node = gltf["nodes"].back();
    const json& perspective = gltf["cameras"][0]["perspective"];
    const int width = camera.find("300x200") != std::string::npos ? 300 : 535;
    const int height = camera.find("300x200") != std::string::npos ? 200 : 326;
    EXPECT_DOUBLE_EQ(perspective["aspectRatio"].get<double>(), double(width) / height);
    EXPECT_FALSE(perspective.contains("zfar"));
    int seen = 0;
    for (const auto& c : centres) {
      double px = 0, py = 0;
      ProjectWithGltfCamera(node, perspective, c, width, height, px, py);
      if (px < 3 || py < 3 || px > width - 3 || py > height - 3) continue;  // off the view
      ++seen;
      EXPECT_EQ(PngPixel(dir.File("marks.png"), static_cast<int>(px), static_cast<int>(py)),
                (std::vector<int>{255, 255, 255}))
          << "centre " << c[0] << " " << c[1] << " " << c[2] << " at " << px << ", " << py;
    }
    EXPECT_GE(seen, 2);
  }
}

// A dart-shaped quad, whose two possible splits cover different pixels: the export's
// triangles are (0, 1, 2) and (0, 2, 3), and the viewer leaves the notch that split leaves.
TEST(Interchange, QuadsSplitAsTheViewerDrawsThem) {
  TempDir dir;
  const std::string path = dir.File("dart/nyc.map");
  std::filesystem::create_directories(dir.File("dart/nyc"));
  WriteImage(dir.File("dart/nyc/000.tga"), 1, 1, 1);
  QuadTable table;
  QuadRecord dart = Quad(-1, 0, 0, 0, 0, 0, 0);
  const float corners[4][2] = {{-0.8f, -0.6f}, {0.8f, -0.6f}, {0.0f, -0.2f}, {0.0f, 0.6f}};
  for (int k = 0; k < 4; ++k) {
    dart.corners[k].x = corners[k][0];
    dart.corners[k].y = corners[k][1];
  }
  table.records.push_back(dart);
  table.count = 1;
  WriteQuadList(path, table);
  ASSERT_EQ(RunQuadscene("export " + path + " -o " + dir.File("dart.gltf"), dir).status, 0);
  const json gltf = json::parse(ReadFile(dir.File("dart.gltf")));
  const json& indices = gltf["accessors"][gltf["meshes"][0]["primitives"][0]["indices"].get<int>()];
  const json& view = gltf["bufferViews"][indices["bufferView"].get<int>()];
  const std::string bin = ReadFile(dir.File("dart.bin"));
  uint32_t triangles[6];
  std::memcpy(triangles, bin.data() + view["byteOffset"].get<size_t>(), sizeof triangles);
  EXPECT_EQ(std::vector<uint32_t>(triangles, triangles + 6),
            (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}));
  ASSERT_EQ(RunQuadscene("render " + path + " -o " + dir.File("dart.png") + " --size 200x200", dir)
                .status,
            0);
  // The notch (inside triangle 1, 2, 3) stays black; the dart's left wing is drawn.
  const double point[3][3] = {{0.3, 0.0, 0.0}, {-0.3, -0.2, 0.0}};
  json node = {{"rotation", {0, 0, 0, 1}}, {"translation", {0.01, 0, 2.48}}};
  json perspective = {{"yfov", kPi / 4}, {"aspectRatio", 1.0}};
  double px = 0, py = 0;
  ProjectWithGltfCamera(node, perspective, point[0], 200, 200, px, py);
  EXPECT_EQ(PngPixel(dir.File("dart.png"), int(px), int(py)), (std::vector<int>{0, 0, 0}));
  ProjectWithGltfCamera(node, perspective, point[1], 200, 200, px, py);
  EXPECT_EQ(PngPixel(dir.File("dart.png"), int(px), int(py)), (std::vector<int>{255, 255, 255}));
}

// A model from elsewhere: an OBJ with a textured quad, a triangle, a pentagon, a point and a
// line. Faces become records as they should; the imported scene draws the texture the right
// way up where the quad is.
TEST(Interchange, ImportedModelDrawsWhereItsGeometryLies) {
  TempDir dir;
  // A 2 x 2 texture: red and green on the top row, blue and white at the bottom.
  const uint8_t texels[] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
  ASSERT_NE(stbi_write_png(dir.File("check.png").c_str(), 2, 2, 4, texels, 8), 0);
  WriteFile(dir.File("model.mtl"),
            "newmtl checks\nKd 1 1 1\nmap_Kd check.png\n"
            "newmtl grey\nKd 0.5 0.5 0.5\nd 0.5\n");
  WriteFile(dir.File("model.obj"),
            "mtllib model.mtl\n"
            "v -0.5 -0.5 0\nv 0.5 -0.5 0\nv 0.5 0.5 0\nv -0.5 0.5 0\n"
            "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
            "usemtl checks\nf 1/1 2/2 3/3 4/4\n"
            "usemtl grey\nf 1 2 3\nf 1 2 3 4 1\np 1\nl 1 2\n");
  const std::string out = dir.File("model/miami.map");
  const CommandResult run = RunQuadscene("import " + dir.File("model.obj") + " -o " + out, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(": 5 records (1 quad, 1 triangle, 1 polygon as 3 triangles), 2 textures"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("skipped: 1 point, 1 line\n"), std::string::npos) << run.out;
  // Materials that tint one texture differently make an image each (the texture itself stays
  // untinted for the next one); the same texture and colour again share one, and so does a
  // colour that is not a number (no tint).
  WriteFile(dir.File("tints.mtl"),
            "newmtl checks\nKd 1 1 1\nmap_Kd check.png\nnewmtl half\nKd 0.5 1 1\n"
            "map_Kd check.png\nnewmtl again\nKd 1 1 1\nmap_Kd check.png\n"
            "newmtl nan\nKd nan 1 1\nmap_Kd check.png\n");
  WriteFile(dir.File("tints.obj"),
            "mtllib tints.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
            "usemtl half\nf 1/1 2/2 3/3\nusemtl checks\nf 1/1 2/2 3/3\n"
            "usemtl again\nf 1/1 2/2 3/3\nusemtl nan\nf 1/1 2/2 3/3\n");
  ASSERT_EQ(
      RunQuadscene("import " + dir.File("tints.obj") + " -o " + dir.File("tints/nyc.map"), dir)
          .status,
      0);
  const auto tints = UploadedTextures(dir.File("tints/nyc.map"));
  ASSERT_EQ(tints.size(), 2u);
  ASSERT_EQ(tints[1].size(), tints[0].size());
  for (size_t i = 0; i + 1 < tints[0].size(); ++i) {  // red halved, rounded to nearest
    EXPECT_EQ(tints[0][i], i % 4 == 0 ? (tints[1][i] + 1) / 2 : tints[1][i]) << i;
  }
  // Only the quad in its own scene, to look at it alone.
  const std::string quadOnly = dir.File("quad.obj");
  WriteFile(quadOnly,
            "mtllib model.mtl\nv -0.5 -0.5 0\nv 0.5 -0.5 0\nv 0.5 0.5 0\nv -0.5 0.5 0\n"
            "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl checks\nf 1/1 2/2 3/3 4/4\n");
  ASSERT_EQ(RunQuadscene("import " + quadOnly + " -o " + dir.File("quad/nyc.map"), dir).status, 0);
  ASSERT_EQ(RunQuadscene("render " + dir.File("quad/nyc.map") + " -o " + dir.File("quad.png"), dir)
                .status,
            0);
  json node = {{"rotation", {0, 0, 0, 1}}, {"translation", {0.01, 0, 2.48}}};
  json perspective = {{"yfov", kPi / 4}, {"aspectRatio", 535.0 / 326}};
  const struct {
    double x, y;
    std::vector<int> rgb;
  } expected[] = {{-0.25, 0.25, {255, 0, 0}},
                  {0.25, 0.25, {0, 255, 0}},  // texel centres
                  {-0.25, -0.25, {0, 0, 255}},
                  {0.25, -0.25, {255, 255, 255}}};
  for (const auto& e : expected) {
    double px = 0, py = 0;
    const double point[3] = {e.x, e.y, 0};
    ProjectWithGltfCamera(node, perspective, point, 535, 326, px, py);
    const std::vector<int> seen = PngPixel(dir.File("quad.png"), int(px), int(py));
    ASSERT_EQ(seen.size(), 3u);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(seen[k], e.rgb[k], 8) << e.x << " " << e.y;  // filtering at a texel's centre
    }
  }
}

TEST(Interchange, ImportRefusesWhatItCannotWrite) {
  TempDir dir;
  WriteFile(dir.File("box.obj"), "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n");
  CommandResult run =
      RunQuadscene("import " + dir.File("box.obj") + " -o " + dir.File("box.map"), dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("must be named nyc.map, sanb.map or miami.map"), std::string::npos);
  const std::string out = dir.File("box/nyc.map");
  ASSERT_EQ(RunQuadscene("import " + dir.File("box.obj") + " -o " + out, dir).status, 0);
  run = RunQuadscene("import " + dir.File("box.obj") + " -o " + out, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, out + ": exists; --force overwrites it\n");
  EXPECT_EQ(RunQuadscene("import " + dir.File("box.obj") + " -o " + out + " --force", dir).status,
            0);
  // An export with no images still gets the 000.tga the viewer needs to open the scene.
  const std::string oneRecord = std::string("# quadview record 0 0 0") + [] {
    std::string hex;
    for (int i = 0; i < 20; ++i) hex += " 3f800000";
    return hex;
  }() + "\n";
  WriteFile(dir.File("bare.obj"), "# quadview export 1\n" + oneRecord + "# quadview end 1\n");
  const std::string bare = dir.File("bare/nyc.map");
  ASSERT_EQ(RunQuadscene("import " + dir.File("bare.obj") + " -o " + bare, dir).status, 0);
  EXPECT_EQ(RunQuadscene("info " + bare, dir).status, 0);
  // An older image numbered after the new set would join it: refused, or removed by --force.
  WriteFile(dir.File("bare/nyc/001.tga"), "old");
  std::filesystem::remove(bare);
  std::filesystem::remove(dir.File("bare/nyc/000.tga"));
  run = RunQuadscene("import " + dir.File("bare.obj") + " -o " + bare, dir);
  EXPECT_EQ(run.err, dir.File("bare/nyc/001.tga") +
                         ": exists and would join the imported texture set; --force removes it\n");
  ASSERT_EQ(RunQuadscene("import " + dir.File("bare.obj") + " -o " + bare + " --force", dir).status,
            0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("bare/nyc/001.tga")));
  // One colour more than a texture folder holds.
  std::string mtl, obj = "mtllib many.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\n";
  for (int i = 0; i <= kTextureSlots; ++i) {
    mtl += "newmtl m" + std::to_string(i) + "\nKd " + std::to_string(i % 256 / 255.0) + " " +
           std::to_string(i / 256 / 255.0) + " 0\n";
    obj += "usemtl m" + std::to_string(i) + "\nf 1 2 3\n";
  }
  WriteFile(dir.File("many.mtl"), mtl);
  WriteFile(dir.File("many.obj"), obj);
  run = RunQuadscene("import " + dir.File("many.obj") + " -o " + dir.File("many/nyc.map"), dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, dir.File("many.obj") +
                         ": The scene needs 1025 textures; a texture folder holds at most 1024\n");
}

// A damaged or foreign file that claims to be quadview's export fails with a message naming
// it, and a failed import leaves nothing at the output.
TEST(Interchange, DamagedOwnExportsFailNamingTheFileAndLeaveNothing) {
  TempDir dir;
  std::string nanRecord = "# quadview record 0 0 0";
  for (int i = 0; i < 20; ++i) nanRecord += " 7fc00000";
  const std::string objStart = "# quadview export 1\n# quadview image 0 -\n";
  const std::string gltfStart = R"({"asset":{"version":"2.0"},"extras":{"quadview":)";
  const std::string out = dir.File("out/nyc.map");
  // The binary form: its header (version, head bytes, record count), records, head.
  const auto binary = [](uint32_t version, uint64_t count, const std::string& records,
                         const std::string& head) {
    std::string text = "quadview";
    for (uint64_t value : {uint64_t{version}, uint64_t{head.size()}}) {
      text.append(reinterpret_cast<const char*>(&value), 4);
    }
    text.append(reinterpret_cast<const char*>(&count), 8);
    return text + records + head;
  };
  const std::string head = R"({"quadview":{"version":1},"images":[]})";
  std::string twoWindings(kRecordBytes, '\0');
  twoWindings[5] = 2;
  struct Case {
    std::string file, content, error;  // error: what follows "FILE: Cannot read ... FILE: "
  };
  const Case cases[] = {
      {"deep.gltf", gltfStart + std::string(200000, '[') + std::string(200000, ']') + "}}",
       "its quadview data does not read: cannot use at() with array"},
      {"uri.gltf",
       gltfStart + R"({"version":1,"recordCount":0,"images":[]}},)" +
           R"("buffers":[{"uri":"%zz.bin","byteLength":4}]})",
       "a URI has a bad %-escape: %zz.bin"},
      {"half.gltf", gltfStart + R"({"version":1,"recordCount":0.5,"images":[]}}})",
       "a count or index is not a whole number"},
      // Offsets and lengths too: a view at 1e30 or 1.5 is no view at all.
      {"far.gltf",
       gltfStart + R"({"version":1,"recordCount":1,"records":0,"images":[]}},)" +
           R"("bufferViews":[{"buffer":0,"byteOffset":1e30,"byteLength":86}]})",
       "a count or index is not a whole number"},
      {"part.gltf",
       gltfStart + R"({"version":1,"recordCount":1,"records":0,"images":[]}},)" +
           R"("bufferViews":[{"buffer":0,"byteOffset":1.5,"byteLength":86}]})",
       "a count or index is not a whole number"},
      {"v2.obj", "# quadview export 2\n", "made by another version of quadscene"},
      {"cut.obj", objStart + nanRecord + "\n", "it ends before its last record"},
      {"nope.obj", "# quadview export 1\n# quadview image 0 nope.png\n# quadview end 0\n", ""},
      {"nan.obj", objStart + nanRecord + "\n# quadview end 1\n", ""},
      {"short.qvb", "quadview", "it does not start as the binary form does"},
      {"v2.qvb", binary(2, 0, "", head), "made by another version of quadscene"},
      {"cut.qvb", binary(1, 1, "", head), "its records do not add up"},
      {"huge.qvb", binary(1, uint64_t{1} << 60, "", head), "its records do not add up"},
      // Nine levels may be, ten are one too many.
      {"deep.qvb", binary(1, 0, "", std::string(10, '[') + std::string(10, ']')),
       "its head nests too deeply"},
      {"wound.qvb", binary(1, 1, twoWindings, head), "record 1: its winding is not 0 or 1"},
      {"nul.qvb", binary(1, 0, "", R"({"quadview":{"version":1},"images":["a\u0000.png"]})"),
       "image 0 is not a file name or null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string input = dir.File(c.file);
    WriteFile(input, c.content);
    const CommandResult run = RunQuadscene("import " + input + " -o " + out, dir);
    EXPECT_EQ(run.status, 1);
    std::string expected = input + ": Cannot read quadview export " + input + ": " + c.error;
    if (c.file == "nope.obj") expected = input + ":2: Cannot open file " + dir.File("nope.png");
    if (c.file == "nan.obj") {
      expected =
          "Cannot write record 1 to " + out + ": a NaN coordinate has no text in a quad-list file";
    }
    EXPECT_EQ(run.err, expected + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("out")));
  }
}

}  // namespace

namespace {

TaggedFace Triangle(int32_t index, const QuadRecord& quad, int half) {
  TaggedFace face;
  face.tag = RecordTag{index, quad.blend, quad.counterClockwise};
  face.slot = quad.textureIndex;
  face.cornerCount = 3;
  for (int k = 0; k < 3; ++k) face.corners[k] = quad.corners[kQuadTriangles[half][k]];
  face.corners[3] = face.corners[2];
  return face;
}

// Tags hold every index a table can have exactly, through a tool's flip of v and back; what a
// face made in such a tool gets is no tag; the triangles of a record pair back into its quad.
TEST(RecordTags, AreExactAndPutRecordsBackTogether) {
  for (const int32_t index : {0, 1, (1 << 24) - 1, 1 << 24, 123456789, INT32_MAX}) {
    for (const uint8_t blend : {uint8_t{0}, uint8_t{1}, uint8_t{2}, uint8_t{255}}) {
      for (const uint8_t ccw : {uint8_t{0}, uint8_t{1}}) {
        float s = 0, t = 0;
        EncodeRecordTag(RecordTag{index, blend, ccw}, s, t);
        const float flipped = 1.0f - t;  // the tool's v
        RecordTag back;
        ASSERT_TRUE(DecodeRecordTag(s, 1.0f - flipped, back)) << index;
        EXPECT_EQ(back.index, index);
        EXPECT_EQ(back.blend, blend);
        EXPECT_EQ(back.counterClockwise, ccw);
      }
    }
  }
  RecordTag none;
  for (const auto& [s, t] : {std::pair<float, float>{0, 0},
                             {0, 1},
                             {0.5f, 65536},
                             {-1, 65536},
                             {0, 131072},
                             {16777216, 65536}}) {
    EXPECT_FALSE(DecodeRecordTag(s, t, none)) << s << " " << t;
  }
  // Record 5 (its halves apart), then 2, a copy of 5 raised by 1, and half of record 7.
  const QuadRecord five = Quad(1, 0, 1, 0, 0, 1, 1), two = Quad(2, 255, 0, 2, 2, 3, 3);
  const QuadRecord seven = Quad(3, 1, 0, 4, 4, 5, 5);
  QuadRecord copy = five;
  for (QuadCorner& corner : copy.corners) corner.y += 1;
  std::vector<TaggedFace> faces = {Triangle(5, five, 0), Triangle(2, two, 0),  Triangle(5, five, 1),
                                   Triangle(2, two, 1),  Triangle(5, copy, 0), Triangle(5, copy, 1),
                                   Triangle(7, seven, 1)};
  std::vector<QuadRecord, TableAllocator<QuadRecord>> records;
  RecordsFromTags(faces, records);
  QuadRecord lone = seven;  // a triangle alone: its third corner repeated
  const int lastHalf[4] = {0, 2, 3, 3};
  for (int k = 0; k < 4; ++k) lone.corners[k] = seven.corners[lastHalf[k]];
  const std::vector<QuadRecord> expected = {two, five, copy, lone};
  ASSERT_EQ(records.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(std::memcmp(&records[i], &expected[i], sizeof(QuadRecord)), 0) << i;
  }
}

}  // namespace
