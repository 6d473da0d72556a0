// quadscene check: everything in a scene that will not show as its author meant, found with
// the rules the viewer's load uses (the texture set's walk and limits, the reader), each as
// "FILE:LINE: warning: ..." or "IMAGE: warning: ...", then a summary.
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "render/headless_view.h"
#include "scene/file_access.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "scene/scene_source.h"
#include "scene/texture_limits.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"
#include "tools/commands.h"
#include "tools/record_text.h"
#include "tools/terminal_progress.h"

namespace {

constexpr int kExitWarnings = 3;
// Two triangles of one quad meeting at more than this many degrees: far from planar.
constexpr double kNonPlanarDegrees = 20.0;
constexpr double kPi = 3.14159265358979323846;

struct CheckOptions {
  std::string scenePath;
  bool strict = false;
};

// Records that share one finding: how many, and the first.
struct Finding {
  int64_t count = 0;
  int32_t first = 0;
};

class Warnings {
 public:
  void Add(const std::string& where, const std::string& what) {
    std::printf("%s: warning: %s\n", Printable(where).c_str(), Printable(what).c_str());
    ++count_;
  }
  int Count() const { return count_; }

 private:
  int count_ = 0;
};

// What a record can be found to have, with the value that tells records apart (a slot, a
// blend) where the message names one.
enum class RecordFinding {
  kSlotOutside,
  kSlotWithoutImage,
  kOtherBlend,
  kNotFinite,
  kNoArea,
  kNotPlanar,
  kUnreadTextureNumber
};
using FindingKey = std::pair<RecordFinding, int64_t>;

std::string FindingText(const FindingKey& key) {
  const std::string value = std::to_string(key.second);
  switch (key.first) {
    case RecordFinding::kSlotOutside:
      return "slot " + value + " is outside the texture table (0 to 1023): they draw untextured";
    case RecordFinding::kSlotWithoutImage:
      return "slot " + value + " has no image: they draw untextured";
    case RecordFinding::kOtherBlend:
      return "blend " + value + " draws opaque, as blend 0 does";
    case RecordFinding::kNotFinite:
      return "a coordinate is infinite or not a number";
    case RecordFinding::kNoArea:
      return "the quad has no area";
    case RecordFinding::kNotPlanar:
      return "the quad is far from planar: its two triangles meet at more than 20 degrees";
    case RecordFinding::kUnreadTextureNumber:
      return "the texture number is not 0, but only files named nyc.map, sanb.map or "
             "miami.map read them: every quad uses slot 0";
  }
  return std::string();
}

// Counted by kind and value; the text is made once per finding, at the end.
void Note(std::map<FindingKey, Finding>& findings, RecordFinding kind, int64_t value,
          int32_t index) {
  Finding& finding = findings[{kind, value}];
  if (finding.count++ == 0) finding.first = index;
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

// Image findings, from the same walk and limits the viewer's texture set uses.
int CheckImages(const std::string& path, std::vector<bool>& textured, Warnings& warnings) {
  HeadlessTextureLimit maxTextureSize;
  const int images = WalkTexturesLikeTheViewer(
      path, std::ref(maxTextureSize),
      [&](int, const std::string& image, const TgaImage* tga, const std::string& refusal) {
        textured.push_back(tga != nullptr && tga->UploadBytes() > 0);
        if (tga == nullptr) {
          warnings.Add(image, UntexturedBecause(refusal));
          return;
        }
        const TgaHeader& header = tga->header;
        if (header.imageType != 2 || header.depth != 32) {
          warnings.Add(image, "type " + std::to_string(header.imageType) + " with depth " +
                                  std::to_string(header.depth) +
                                  ": older readers of this format take only "
                                  "uncompressed 32-bit true colour (type 2)");
        }
        // The size uploaded: one texel when there is nothing to decode.
        if (!IsPowerOfTwo(tga->uploadWidth) || !IsPowerOfTwo(tga->uploadHeight)) {
          warnings.Add(image, std::to_string(tga->uploadWidth) + " x " +
                                  std::to_string(tga->uploadHeight) +
                                  " is not a power of two on each side: OpenGL 1.1 "
                                  "draws it untextured");
        }
        if (!tga->nothingToDecode.empty()) {
          warnings.Add(image, OneBlackTexelBecause(tga->nothingToDecode));
        } else if (tga->pixelDataCutShort) {
          warnings.Add(image,
                       "its pixel data is cut short; the missing texels are transparent black");
        }
      });
  // A gap ends the set: images after it are never loaded.
  const std::string folder = TextureFolderPrefix(path);
  for (int number = images + 1; number < kTextureSlots; ++number) {
    if (IsRegularFile(TextureImagePath(folder, number))) {
      warnings.Add(TextureImagePath(folder, number),
                   TextureImagePath(folder, images).substr(folder.size()) +
                       " is missing, so this image and those after it are never loaded");
      break;
    }
  }
  return images;
}

// `textured` is null when the texture set could not be walked: which slots draw textured is
// then unknown.
void CheckRecords(const std::string& path, const QuadTable& table,
                  const std::vector<bool>* textured, Warnings& warnings) {
  std::map<FindingKey, Finding> findings;
  for (int32_t i = 0; i < table.count; ++i) {
    const QuadRecord& record = table.records[static_cast<size_t>(i)];
    const int32_t slot = record.textureIndex;
    if (slot < 0 || slot >= kTextureSlots) {
      Note(findings, RecordFinding::kSlotOutside, slot, i);
    } else if (textured != nullptr && (static_cast<size_t>(slot) >= textured->size() ||
                                       !(*textured)[static_cast<size_t>(slot)])) {
      Note(findings, RecordFinding::kSlotWithoutImage, slot, i);
    }
    if (record.blend != 0 && record.blend != kBlendAlpha) {
      Note(findings, RecordFinding::kOtherBlend, record.blend, i);
    }
    if (!IsFiniteRecord(record)) {
      Note(findings, RecordFinding::kNotFinite, 0, i);
      continue;
    }
    const Vec a = Minus(Corner(record, 2), Corner(record, 0));
    const Vec b = Minus(Corner(record, 3), Corner(record, 1));
    const double scale = std::max(Length(a), Length(b));
    if (Length(Cross(a, b)) <= 1e-9 * scale * scale) {
      Note(findings, RecordFinding::kNoArea, 0, i);
      continue;
    }
    // The two triangles the viewer draws, (0, 1, 2) and (0, 2, 3).
    const Vec n1 = Cross(Minus(Corner(record, 1), Corner(record, 0)), a);
    const Vec n2 = Cross(a, Minus(Corner(record, 3), Corner(record, 0)));
    const double l1 = Length(n1), l2 = Length(n2);
    if (l1 > 0 && l2 > 0) {
      const double cosine = (n1.x * n2.x + n1.y * n2.y + n1.z * n2.z) / (l1 * l2);
      if (std::acos(std::clamp(cosine, -1.0, 1.0)) * 180 / kPi > kNonPlanarDegrees) {
        Note(findings, RecordFinding::kNotPlanar, 0, i);
      }
    }
  }
  // Texture numbers in a file whose name does not read them: every quad uses slot 0.
  int32_t offset = 0;
  if (!TextureNumberOffset(path, offset)) {
    QuadTable numbers;
    NoProgress progress;
    try {
      ReadQuadList(path, numbers, progress, &offset);
      for (int32_t i = 0; i < numbers.count; ++i) {
        if (numbers.records[static_cast<size_t>(i)].textureIndex != 0) {
          Note(findings, RecordFinding::kUnreadTextureNumber, 0, i);
        }
      }
    } catch (const SceneError&) {
      // Token 0 is not a number throughout: these are no texture numbers.
    }
  }
  // In the order of their texts, as a reader scans them.
  std::map<std::string, Finding> byText;
  for (const auto& [key, finding] : findings) byText[FindingText(key)] = finding;
  for (const auto& [what, finding] : byText) {
    warnings.Add(path + ":" + std::to_string(HeaderLine(finding.first)),
                 Counted(finding.count, "record") + ", the first here: " + what);
  }
}

int RunCheck(const CheckOptions& options) {
  Warnings warnings;
  std::vector<bool> textured;
  QuadTable table;
  const int status = RunSceneCommand(options.scenePath, [&] {
    // Everything that can be checked is, as info does: a texture set that fails to load does
    // not hide what the quad list holds, nor a failure further on in it.
    std::exception_ptr textureFailure;
    try {
      CheckImages(options.scenePath, textured, warnings);
    } catch (const SceneError&) {
      if (!IsRegularFile(options.scenePath)) throw;  // nothing else to check
      textureFailure = std::current_exception();
    }
    std::exception_ptr readFailure;
    TerminalProgress progress("reading " + options.scenePath, TerminalProgress::Unit::kBytes);
    try {
      ReadQuadList(options.scenePath, table, progress);
    } catch (const SceneError&) {
      readFailure = std::current_exception();
    }
    CheckRecords(options.scenePath, table, textureFailure ? nullptr : &textured, warnings);
    // The viewer's load fails on its textures first: that is the failure the command ends with.
    RaiseFailures(readFailure, textureFailure);
    std::printf(
        "%s: %s, %s, %s\n", options.scenePath.c_str(), Counted(table.count, "record").c_str(),
        Counted(static_cast<int64_t>(textured.size()), "image").c_str(),
        warnings.Count() == 0 ? "no warnings" : Counted(warnings.Count(), "warning").c_str());
  });
  if (status != kExitOk) return status;
  return options.strict && warnings.Count() > 0 ? kExitWarnings : kExitOk;
}

}  // namespace

void RegisterCheckCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "check",
      "List everything in a scene that will not show as its author meant (slots without an "
      "image, images GL will not take, kinds older readers reject, sizes OpenGL 1.1 rejects, "
      "cut-short data, infinite or degenerate or non-planar quads, blend values other than 0 "
      "and 1, texture numbers a file's name does not read, gaps in the texture numbering). "
      "Exit status 0 when the scene loads, 1 when it does not, 3 with --strict and warnings");
  static CheckOptions options;
  command->add_option("FILE", options.scenePath, "Quad-list file")->required();
  command->add_flag("--strict", options.strict, "Exit with status 3 when there are warnings");
  AddQuietOption(command);
  command->callback([&exitStatus]() { exitStatus = RunCheck(options); });
}
