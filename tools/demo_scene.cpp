// Generates the demo scene. File coordinates: x to the right, y up, z towards the viewer; the
// start camera sits near (0, 0, 2.48) looking down -z. Quads are listed back to front, as the
// renderer draws in file order without a depth test. The file is named nyc.map so that its
// texture numbers select the textures; it is written through the quad-list writer.
#include "tools/demo_scene.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "scene/scene_writer.h"
#include "tools/terminal_progress.h"

namespace {

constexpr int kTextureSize = 64;       // every demo texture is 64 x 64 texels
constexpr int kQuadsPerCityBlock = 5;  // ground tile, front wall, side wall, roof, window

enum Slot { kSky, kGrass, kRoad, kBrick, kRoof, kGlass, kPlaster, kDoor, kSlotCount };

struct Vec3 {
  double x, y, z;
};

struct DemoQuad {
  int slot;
  int blend;
  double u[4], v[4];
  Vec3 p[4];
};

// Deterministic integer hash for texture noise and city variation.
uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// A quad with texture coordinates (0,0) (su,0) (su,sv) (0,sv) on corners a b c d.
DemoQuad Quad(int slot, Vec3 a, Vec3 b, Vec3 c, Vec3 d, double su = 1, double sv = 1,
              int blend = 0) {
  return DemoQuad{slot, blend, {0, su, su, 0}, {0, 0, sv, sv}, {a, b, c, d}};
}

// A house: box x0..x1, z0..z1 (z0 < z1) from the ground up to `height`, gable roof along z.
// Only faces that look towards the street at x = 0 and the camera are listed, far ones first.
void AddHouse(std::vector<DemoQuad>& quads, double x0, double x1, double z0, double z1,
              double ground, double height, int wallSlot) {
  const double top = ground + height;
  const double ridge = top + 0.35 * (x1 - x0);
  const double mid = 0.5 * (x0 + x1);
  const bool leftOfStreet = x1 <= 0;
  const double streetX = leftOfStreet ? x1 : x0;
  const double wallU = (z1 - z0) * 2, wallV = height * 2;
  // Side wall facing the street.
  quads.push_back(Quad(wallSlot, {streetX, ground, z0}, {streetX, ground, z1}, {streetX, top, z1},
                       {streetX, top, z0}, wallU, wallV));
  // Front wall facing the camera, with its gable as a degenerate quad.
  quads.push_back(Quad(wallSlot, {x0, ground, z1}, {x1, ground, z1}, {x1, top, z1}, {x0, top, z1},
                       (x1 - x0) * 2, wallV));
  quads.push_back(Quad(wallSlot, {x0, top, z1}, {x1, top, z1}, {mid, ridge, z1}, {mid, ridge, z1},
                       (x1 - x0) * 2, 0.5));
  // Roof slope on the street side.
  quads.push_back(Quad(kRoof, {streetX, top, z1}, {streetX, top, z0}, {mid, ridge, z0},
                       {mid, ridge, z1}, (z1 - z0) * 2, 1.5));
  // A door in the front wall, then translucent windows in front of the walls.
  const double doorX = mid - 0.08;
  quads.push_back(Quad(kDoor, {doorX, ground, z1}, {doorX + 0.16, ground, z1},
                       {doorX + 0.16, ground + 0.32, z1}, {doorX, ground + 0.32, z1}));
  for (int i = 0; i < 2; ++i) {
    const double wz0 = z0 + (z1 - z0) * (0.15 + 0.45 * i);
    const double wz1 = wz0 + (z1 - z0) * 0.3;
    quads.push_back(Quad(kGlass, {streetX, ground + 0.42, wz0}, {streetX, ground + 0.42, wz1},
                         {streetX, top - 0.12, wz1}, {streetX, top - 0.12, wz0}, 1, 1, 1));
  }
  for (double wx : {x0 + 0.06, x1 - 0.24}) {
    quads.push_back(Quad(kGlass, {wx, ground + 0.42, z1}, {wx + 0.18, ground + 0.42, z1},
                         {wx + 0.18, top - 0.12, z1}, {wx, top - 0.12, z1}, 1, 1, 1));
  }
}

std::vector<DemoQuad> BaseScene() {
  const double ground = -0.6;
  std::vector<DemoQuad> quads;
  quads.push_back(Quad(kSky, {-60, -2, -40}, {60, -2, -40}, {60, 40, -40}, {-60, 40, -40}));
  quads.push_back(Quad(kGrass, {-30, ground, 2}, {30, ground, 2}, {30, ground, -30},
                       {-30, ground, -30}, 30, 16));
  quads.push_back(Quad(kRoad, {-0.45, ground, 2}, {0.45, ground, 2}, {0.45, ground, -30},
                       {-0.45, ground, -30}, 1, 16));
  // A house across the far end of the street, then two rows of houses, far to near.
  AddHouse(quads, -0.9, 0.9, -9, -7.5, ground, 0.9, kPlaster);
  for (int row = 3; row >= 0; --row) {
    const double z1 = -1.2 - row * 1.6;
    AddHouse(quads, -1.9, -0.7, z1 - 1.2, z1, ground, 0.7 + 0.15 * (row % 2), kBrick);
    AddHouse(quads, 0.7, 1.9, z1 - 1.2, z1, ground, 0.85 - 0.15 * (row % 2), kPlaster);
  }
  // A glass bus shelter at the front right, drawn last over everything behind it.
  quads.push_back(Quad(kGlass, {0.5, ground, 0.3}, {1.3, ground, 0.3}, {1.3, ground + 0.5, 0.3},
                       {0.5, ground + 0.5, 0.3}, 2, 1, 1));
  return quads;
}

// One block of the far-off city behind the street: quads k * 5 .. k * 5 + 4.
void AddCityBlock(std::vector<DemoQuad>& quads, int64_t block) {
  constexpr int kBlocksPerRow = 80;
  constexpr double kSpacing = 3.0;
  const double ground = -0.6;
  const int64_t row = block / kBlocksPerRow;
  const int64_t col = block % kBlocksPerRow;
  const uint32_t h = Hash(static_cast<uint32_t>(block));
  const double x0 = (static_cast<double>(col) - kBlocksPerRow / 2) * kSpacing + 0.3;
  const double z1 = -45.0 - static_cast<double>(row) * kSpacing;
  const double width = 1.2 + (h & 0xFF) / 255.0;
  const double height = 0.8 + ((h >> 8) & 0xFF) / 64.0;
  const double x1 = x0 + width, z0 = z1 - 1.6;
  const double top = ground + height;
  quads.push_back(Quad(kGrass, {x0 - 0.6, ground, z1 + 0.6}, {x0 + 2.4, ground, z1 + 0.6},
                       {x0 + 2.4, ground, z1 - 2.4}, {x0 - 0.6, ground, z1 - 2.4}, 3, 3));
  const int wall = (h >> 16) & 1 ? kBrick : kPlaster;
  const double sideX = x0 < 0 ? x1 : x0;
  quads.push_back(Quad(wall, {sideX, ground, z0}, {sideX, ground, z1}, {sideX, top, z1},
                       {sideX, top, z0}, 3, height * 2));
  quads.push_back(Quad(wall, {x0, ground, z1}, {x1, ground, z1}, {x1, top, z1}, {x0, top, z1},
                       width * 2, height * 2));
  quads.push_back(
      Quad(kRoof, {x0, top, z1}, {x1, top, z1}, {x1, top + 0.3, z0}, {x0, top + 0.3, z0}, 2, 1));
  quads.push_back(Quad(kGlass, {x0 + 0.2, ground + 0.3, z1}, {x1 - 0.2, ground + 0.3, z1},
                       {x1 - 0.2, top - 0.2, z1}, {x0 + 0.2, top - 0.2, z1}, 1, 1, 1));
}

// --- Textures ---------------------------------------------------------------------------

struct Rgba {
  uint8_t r, g, b, a;
};

Rgba Shade(Rgba c, int delta) {
  auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  return {clamp(c.r + delta), clamp(c.g + delta), clamp(c.b + delta), c.a};
}

// Texel (x, y) of a slot's texture; y = 0 is the first row in the file (texture v = 0).
Rgba Texel(int slot, int x, int y) {
  const int noise =
      static_cast<int>(Hash(static_cast<uint32_t>(slot * 65536 + y * 256 + x)) % 17) - 8;
  switch (slot) {
    case kSky: {
      const int t = y * 255 / (kTextureSize - 1);
      return {static_cast<uint8_t>(200 - t / 2), static_cast<uint8_t>(225 - t / 3), 250, 255};
    }
    case kGrass:
      return Shade({70, 140, 60, 255}, noise * 2);
    case kRoad: {
      const bool dash = x >= 30 && x <= 33 && (y / 8) % 2 == 0;
      const bool kerb = x < 3 || x > 60;
      if (dash) return {235, 220, 90, 255};
      if (kerb) return Shade({170, 170, 165, 255}, noise);
      return Shade({70, 70, 75, 255}, noise);
    }
    case kBrick: {
      const int course = y / 8;
      const int offset = course % 2 ? 8 : 0;
      const bool mortar = y % 8 == 0 || (x + offset) % 16 == 0;
      return mortar ? Rgba{205, 200, 190, 255} : Shade({165, 65, 45, 255}, noise * 2);
    }
    case kRoof: {
      const bool gap = y % 8 == 7;
      return gap ? Rgba{60, 25, 20, 255} : Shade({140, 45, 35, 255}, noise * 2 - (y % 8) * 3);
    }
    case kGlass: {
      const bool frame = x < 3 || x > 60 || y < 3 || y > 60 || x == 31 || x == 32;
      if (frame) return {245, 245, 245, 255};
      return {150, 200, 235, 110};
    }
    case kPlaster:
      return Shade({225, 205, 150, 255}, noise);
    case kDoor: {
      const bool plank = x % 16 == 0;
      const bool knob = x >= 48 && x <= 52 && y >= 28 && y <= 32;
      if (knob) return {230, 200, 60, 255};
      return plank ? Rgba{70, 40, 20, 255} : Shade({120, 75, 40, 255}, noise);
    }
    default:
      return {255, 0, 255, 255};
  }
}

// A slot's texture as an uncompressed 32-bit TGA, first row first.
void WriteTexture(SceneWriter& out, int slot) {
  std::vector<uint8_t> rgba;
  rgba.reserve(size_t{kTextureSize} * kTextureSize * 4);
  for (int y = 0; y < kTextureSize; ++y) {
    for (int x = 0; x < kTextureSize; ++x) {
      const Rgba c = Texel(slot, x, y);
      rgba.insert(rgba.end(), {c.r, c.g, c.b, c.a});
    }
  }
  out.AddImage(kTextureSize, kTextureSize, rgba.data());
}

// The record of a designed quad: the file's coordinates are the design's, the table stores z
// negated, as the reader would.
int64_t written = 0;  // quads written by the current WriteDemoScene

void WriteQuad(QuadListWriter& writer, const DemoQuad& q, TerminalProgress& progress) {
  QuadRecord record{};
  record.textureIndex = q.slot;
  record.blend = static_cast<uint8_t>(q.blend);
  for (int i = 0; i < 4; ++i) {
    record.corners[i] = QuadCorner{static_cast<float>(q.u[i]), static_cast<float>(q.v[i]),
                                   static_cast<float>(q.p[i].x), static_cast<float>(q.p[i].y),
                                   -static_cast<float>(q.p[i].z)};
  }
  writer.Write(record);
  progress.SetDone(++written);
}

}  // namespace

int64_t DemoBaseQuadCount() {
  return static_cast<int64_t>(BaseScene().size());
}

std::string DemoQuadListPath(const std::string& dir) {
  return dir + "/nyc.map";
}

void WriteDemoScene(const std::string& dir, int64_t quads, bool force) {
  const std::string path = DemoQuadListPath(dir);
  SceneWriter out(path, force, "the demo's texture set");
  for (int slot = 0; slot < kSlotCount; ++slot) WriteTexture(out, slot);
  const std::vector<DemoQuad> base = BaseScene();
  QuadListWriter& file = out.Records();  // nyc.map: its texture numbers are read
  TerminalProgress progress("writing " + path, TerminalProgress::Unit::kRecords);
  progress.SetTotal(quads);
  written = 0;
  const int64_t extra =
      quads > static_cast<int64_t>(base.size()) ? quads - static_cast<int64_t>(base.size()) : 0;
  // The sky comes first, then the city behind the street. Its quads are grouped by texture and
  // blend mode (ground, then walls, roofs and glass), each group farthest block first, so
  // consecutive quads share their state the way large real scenes are ordered; a partial city drops
  // its first quads.
  const int64_t blocks = (extra + kQuadsPerCityBlock - 1) / kQuadsPerCityBlock;
  int64_t toSkip = blocks * kQuadsPerCityBlock - extra;
  const int64_t baseCount = std::min<int64_t>(quads, static_cast<int64_t>(base.size()));
  if (baseCount > 0) WriteQuad(file, base[0], progress);
  std::vector<DemoQuad> blockQuads;
  for (const int slot : {kGrass, kBrick, kPlaster, kRoof, kGlass}) {
    for (int64_t block = blocks - 1; block >= 0; --block) {
      blockQuads.clear();
      AddCityBlock(blockQuads, block);
      for (const DemoQuad& q : blockQuads) {
        if (q.slot != slot) continue;
        if (toSkip > 0) {
          --toSkip;
          continue;
        }
        WriteQuad(file, q, progress);
      }
    }
  }
  for (int64_t i = 1; i < baseCount; ++i) WriteQuad(file, base[static_cast<size_t>(i)], progress);
  out.Commit();
}
