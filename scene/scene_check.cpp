// The scene check's rules: the texture set through the viewer's own walk and limits, the
// records through plain geometry and the reader's naming rule for texture numbers.
#include "scene/scene_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "scene/file_access.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "scene/scene_source.h"
#include "scene/texture_limits.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// The only kind and depth every reader of the format takes: uncompressed 32-bit true colour.
constexpr int kPlainTrueColourType = 2;
constexpr int kPlainTrueColourDepth = 32;
// Diagonals whose cross product is this small against their squared length span no area.
constexpr double kNoAreaRatio = 1e-9;

using FindingKey = std::pair<RecordFindingKind, int64_t>;

std::string FindingText(const FindingKey& key) {
  const std::string value = std::to_string(key.second);
  switch (key.first) {
    case RecordFindingKind::kSlotOutside:
      return "slot " + value + " is outside the texture table (0 to " +
             std::to_string(kTextureSlots - 1) + "): they draw untextured";
    case RecordFindingKind::kSlotWithoutImage:
      return "slot " + value + " has no image: they draw untextured";
    case RecordFindingKind::kOtherBlend:
      return "blend " + value + " draws opaque, as blend 0 does";
    case RecordFindingKind::kNotFinite:
      return "a coordinate is infinite or not a number";
    case RecordFindingKind::kNoArea:
      return "the quad has no area";
    case RecordFindingKind::kNotPlanar:
      return "the quad is far from planar: its two triangles meet at more than " +
             std::to_string(kNonPlanarDegrees) + " degrees";
    case RecordFindingKind::kUnreadTextureNumber:
      return "the texture number is not 0, but only files named " + TextureNumberFileNames() +
             " read them: every quad uses slot 0";
  }
  return std::string();
}

// How many records share a finding, and the first of them.
struct Tally {
  int64_t count = 0;
  int32_t first = 0;
};

// Counted by kind and value; the text is made once per finding, at the end.
void Note(std::map<FindingKey, Tally>& tallies, RecordFindingKind kind, int64_t value,
          int32_t index) {
  Tally& tally = tallies[{kind, value}];
  if (tally.count++ == 0) tally.first = index;
}

struct Vec {
  double x, y, z;
};
Vec Corner(const QuadRecord& record, int k) {
  return Vec{record.corners[k].x, record.corners[k].y, -double{record.corners[k].z}};
}
Vec Minus(Vec a, Vec b) {
  return Vec{a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec Cross(Vec a, Vec b) {
  return Vec{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Length(Vec a) {
  return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
}

bool IsPowerOfTwo(unsigned value) {
  return value != 0 && (value & (value - 1)) == 0;
}

// The findings on one image the viewer uploads.
void CheckImage(const std::string& image, const TgaImage& tga, std::vector<ImageFinding>& out) {
  const TgaHeader& header = tga.header;
  if (header.imageType != kPlainTrueColourType || header.depth != kPlainTrueColourDepth) {
    out.push_back({image, "type " + std::to_string(header.imageType) + " with depth " +
                              std::to_string(header.depth) +
                              ": older readers of this format take only "
                              "uncompressed 32-bit true colour (type 2)"});
  }
  // The size uploaded: one texel when there is nothing to decode.
  if (!IsPowerOfTwo(tga.uploadWidth) || !IsPowerOfTwo(tga.uploadHeight)) {
    out.push_back({image, std::to_string(tga.uploadWidth) + " x " +
                              std::to_string(tga.uploadHeight) +
                              " is not a power of two on each side: OpenGL 1.1 "
                              "draws it untextured"});
  }
  if (!tga.nothingToDecode.empty()) {
    out.push_back({image, OneBlackTexelBecause(tga.nothingToDecode)});
  } else if (tga.pixelDataCutShort) {
    out.push_back({image, "its pixel data is cut short; the missing texels are transparent black"});
  }
}

// The finding on the records' geometry, if any: not finite, no area, or far from planar.
bool GeometryFinding(const QuadRecord& record, RecordFindingKind& kind) {
  if (!IsFiniteRecord(record)) {
    kind = RecordFindingKind::kNotFinite;
    return true;
  }
  const Vec a = Minus(Corner(record, 2), Corner(record, 0));
  const Vec b = Minus(Corner(record, 3), Corner(record, 1));
  const double scale = std::max(Length(a), Length(b));
  if (Length(Cross(a, b)) <= kNoAreaRatio * scale * scale) {
    kind = RecordFindingKind::kNoArea;
    return true;
  }
  // The two triangles the viewer draws, (0, 1, 2) and (0, 2, 3).
  const Vec n1 = Cross(Minus(Corner(record, 1), Corner(record, 0)), a);
  const Vec n2 = Cross(a, Minus(Corner(record, 3), Corner(record, 0)));
  const double l1 = Length(n1), l2 = Length(n2);
  if (l1 > 0 && l2 > 0) {
    const double cosine = (n1.x * n2.x + n1.y * n2.y + n1.z * n2.z) / (l1 * l2);
    if (std::acos(std::clamp(cosine, -1.0, 1.0)) * 180 / kPi > kNonPlanarDegrees) {
      kind = RecordFindingKind::kNotPlanar;
      return true;
    }
  }
  return false;
}

}  // namespace

void CheckTextureSet(const std::string& quadListPath,
                     const std::function<int32_t()>& maxTextureSize, TextureSetCheck& check) {
  const int images = WalkTexturesLikeTheViewer(
      quadListPath, maxTextureSize,
      [&](int, const std::string& image, const TgaImage* tga, const std::string& refusal) {
        check.textured.push_back(tga != nullptr && tga->UploadBytes() > 0);
        if (tga == nullptr) {
          check.findings.push_back({image, UntexturedBecause(refusal)});
          return;
        }
        CheckImage(image, *tga, check.findings);
      });
  // A gap ends the set: images after it are never loaded.
  const std::string folder = TextureFolderPrefix(quadListPath);
  for (int number = images + 1; number < kTextureSlots; ++number) {
    if (IsRegularFile(TextureImagePath(folder, number))) {
      check.findings.push_back({TextureImagePath(folder, number),
                                TextureImagePath(folder, images).substr(folder.size()) +
                                    " is missing, so this image and those after it are never "
                                    "loaded"});
      break;
    }
  }
}

std::vector<RecordFinding> CheckRecords(const std::string& quadListPath, const QuadTable& table,
                                        const std::vector<bool>* textured) {
  std::map<FindingKey, Tally> tallies;
  for (int32_t i = 0; i < table.count; ++i) {
    const QuadRecord& record = table.records[static_cast<size_t>(i)];
    const int32_t slot = record.textureIndex;
    if (slot < 0 || slot >= kTextureSlots) {
      Note(tallies, RecordFindingKind::kSlotOutside, slot, i);
    } else if (textured != nullptr && (static_cast<size_t>(slot) >= textured->size() ||
                                       !(*textured)[static_cast<size_t>(slot)])) {
      Note(tallies, RecordFindingKind::kSlotWithoutImage, slot, i);
    }
    if (record.blend != 0 && record.blend != kBlendAlpha) {
      Note(tallies, RecordFindingKind::kOtherBlend, record.blend, i);
    }
    RecordFindingKind geometry = RecordFindingKind::kNotFinite;
    if (GeometryFinding(record, geometry)) Note(tallies, geometry, 0, i);
  }
  ForEachUnreadTextureNumber(quadListPath, [&tallies](int32_t i) {
    Note(tallies, RecordFindingKind::kUnreadTextureNumber, 0, i);
  });
  // In the order of their texts, as a reader scans them.
  std::vector<RecordFinding> findings;
  for (const auto& [key, tally] : tallies) {
    findings.push_back({key.first, key.second, tally.count, tally.first, FindingText(key)});
  }
  std::sort(findings.begin(), findings.end(),
            [](const RecordFinding& a, const RecordFinding& b) { return a.what < b.what; });
  return findings;
}

void ForEachUnreadTextureNumber(const std::string& path,
                                const std::function<void(int32_t)>& visit) {
  // Texture numbers in a file whose name does not read them: every quad uses slot 0.
  int32_t offset = 0;
  if (TextureNumberOffset(path, offset)) return;
  QuadTable numbers;
  NoProgress progress;
  try {
    ReadQuadList(path, numbers, progress, &offset);
  } catch (const SceneError&) {
    return;  // token 0 is not a number throughout: these are no texture numbers
  }
  for (int32_t i = 0; i < numbers.count; ++i) {
    if (numbers.records[static_cast<size_t>(i)].textureIndex != 0) visit(i);
  }
}

std::string UnreadTextureNumbersWarning(const std::string& path) {
  int64_t count = 0;
  ForEachUnreadTextureNumber(path, [&count](int32_t) { ++count; });
  if (count == 0) return "";
  return path + ": warning: " + std::to_string(count) +
         (count == 1 ? " record holds a texture number" : " records hold texture numbers") +
         ", but only files named " + TextureNumberFileNames() +
         " read them: every quad draws with slot 0 (--as NAME reads them)";
}

void WarnOfUnreadTextureNumbers(const std::string& path) {
  const std::string warning = UnreadTextureNumbersWarning(path);
  if (!warning.empty()) std::fprintf(stderr, "%s\n", Printable(warning).c_str());
}
