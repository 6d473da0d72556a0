// quadscene info: a summary of a quad-list file and its texture folder, with the load time.
// The images are checked the way the viewer's texture set will take them (same walk, same
// limits), without decoding them, so info fails where the viewer's load fails.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/headless_view.h"
#include "scene/file_access.h"
#include "scene/quad_list.h"
#include "scene/scene_check.h"
#include "scene/scene_error.h"
#include "scene/texture_limits.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"

namespace {

constexpr double kBytesPerMegabyte = 1e6;
constexpr uint64_t kBytesPerMebibyte = uint64_t(1) << 20;

// "0-7, 9, 12-13" for a sorted list of slots.
std::string Ranges(const std::vector<int32_t>& slots) {
  std::string text;
  for (size_t i = 0; i < slots.size();) {
    size_t j = i;
    while (j + 1 < slots.size() && slots[j + 1] == slots[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(slots[i]);
    if (j > i) text += "-" + std::to_string(slots[j]);
    i = j + 1;
  }
  return text.empty() ? "none" : text;
}

// Records, bounds and blend modes, and the slots the records use.
void PrintRecordSummary(const std::string& path, const QuadTable& table,
                        std::map<int32_t, int64_t>& slotUse) {
  std::printf("file: %s\n", path.c_str());
  std::printf("records: %d\n", table.count);
  // Bounds of the stored coordinates, each in a register of its own (the loop runs over every
  // record of files with millions); the file's z is the stored one negated.
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  float lowX = kInfinity, lowY = kInfinity, lowZ = kInfinity;
  float highX = -kInfinity, highY = -kInfinity, highZ = -kInfinity;
  // Plain arrays for the common values, a map only for slots outside the table.
  std::vector<int64_t> slotCounts(kTextureSlots, 0);
  std::array<int64_t, 256> blendUse{};
  for (int32_t i = 0; i < table.count; ++i) {
    const QuadRecord& q = table.records[static_cast<size_t>(i)];
    if (q.textureIndex >= 0 && q.textureIndex < kTextureSlots) {
      ++slotCounts[static_cast<size_t>(q.textureIndex)];
    } else {
      ++slotUse[q.textureIndex];
    }
    ++blendUse[q.blend];
    for (const QuadCorner& c : q.corners) {
      // Copied out first: std::min and std::max take references, and a packed field is not
      // aligned for one.
      const float x = c.x, y = c.y, z = c.z;
      lowX = std::min(lowX, x);
      highX = std::max(highX, x);
      lowY = std::min(lowY, y);
      highY = std::max(highY, y);
      lowZ = std::min(lowZ, z);
      highZ = std::max(highZ, z);
    }
  }
  const float low[3] = {lowX, lowY, -highZ}, high[3] = {highX, highY, -lowZ};
  for (int32_t slot = 0; slot < kTextureSlots; ++slot) {
    if (slotCounts[static_cast<size_t>(slot)] > 0) {
      slotUse[slot] = slotCounts[static_cast<size_t>(slot)];
    }
  }
  if (table.count > 0) {
    std::printf("bounds (file coordinates): x %.6g .. %.6g, y %.6g .. %.6g, z %.6g .. %.6g\n",
                low[0], high[0], low[1], high[1], low[2], high[2]);
  } else {
    std::printf("bounds (file coordinates): none\n");
  }
  for (size_t blend = 0; blend < blendUse.size(); ++blend) {
    if (blendUse[blend] == 0) continue;
    std::printf("blend %zu: %s (%s)\n", blend, Counted(blendUse[blend], "quad").c_str(),
                blend == kBlendAlpha ? "alpha-blended" : "opaque");
  }
}

// The texture folder as the viewer's set will take it. Returns the failure that would end
// the viewer's load, if any.
std::exception_ptr PrintTextureSummary(const std::string& path,
                                       const std::map<int32_t, int64_t>& slotUse) {
  const std::string folder = TextureFolderPrefix(path);
  HeadlessTextureLimit maxTextureSize;
  const uint64_t budget = TextureBudgetBytes();
  uint64_t uploadBytes = 0;
  int images = 0;
  std::vector<std::string> notes;
  std::exception_ptr failure;
  try {
    WalkTextureSet(path, std::ref(maxTextureSize), budget,
                   [&](int imageNumber, const std::string& image, const std::string& refusal) {
                     images = imageNumber + 1;
                     const TgaImage& header = LastTgaImage();
                     if (!refusal.empty()) {
                       notes.push_back(image + ": " + UntexturedBecause(refusal));
                       return;
                     }
                     if (TgaTooLarge(header)) DecodeTga();  // raises what the viewer would
                     uploadBytes += header.UploadBytes();
                     if (!header.nothingToDecode.empty()) {
                       notes.push_back(image + ": " + OneBlackTexelBecause(header.nothingToDecode));
                     }
                   });
  } catch (const SceneError&) {
    failure = std::current_exception();
  }
  std::vector<int32_t> used, missing;
  for (const auto& [slot, uses] : slotUse) {
    used.push_back(slot);
    if (slot < 0 || slot >= images) missing.push_back(slot);
  }
  std::printf("texture folder: %s (%s)\n", folder.c_str(), Counted(images, "image").c_str());
  std::printf("texture slots used: %s\n", Ranges(used).c_str());
  std::printf("texture slots without an image: %s\n", Ranges(missing).c_str());
  if (!maxTextureSize.Describe().empty()) std::printf("%s\n", maxTextureSize.Describe().c_str());
  std::printf(
      "texture memory: %llu of %llu MiB\n",
      static_cast<unsigned long long>((uploadBytes + kBytesPerMebibyte - 1) / kBytesPerMebibyte),
      static_cast<unsigned long long>(budget / kBytesPerMebibyte));
  for (const std::string& note : notes) std::printf("image %s\n", Printable(note).c_str());
  return failure;
}

void RunInfo(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  QuadTable table;
  TerminalProgress progress("reading " + path, TerminalProgress::Unit::kBytes);
  std::exception_ptr readFailure;
  try {
    ReadQuadList(path, table, progress);
  } catch (const SceneError&) {
    if (!IsRegularFile(path)) throw;  // nothing to summarise
    readFailure = std::current_exception();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::map<int32_t, int64_t> slotUse;
  PrintRecordSummary(path, table, slotUse);
  if (!readFailure) WarnOfUnreadTextureNumbers(path);
  const std::exception_ptr textureFailure = PrintTextureSummary(path, slotUse);
  const double megabytes = static_cast<double>(InputFile(path).Size()) / kBytesPerMegabyte;
  std::printf("load: %.3f s, %.1f MB, %.1f MB/s\n", seconds, megabytes,
              seconds > 0 ? megabytes / seconds : 0.0);
  // The viewer reads the textures first: their failure is the one its load shows.
  RaiseFailures(readFailure, textureFailure);
}

}  // namespace

void RegisterInfoCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "info",
      "Summarise a quad-list file and its texture folder: records, bounds, blend modes, "
      "texture slots, images that will not draw as stored, load time");
  static std::string path;
  command->add_option("FILE", path, "Quad-list file")->required();
  AddAsOption(command);
  AddQuietOption(command);
  command->callback([&exitStatus]() { exitStatus = RunSceneCommand(path, [] { RunInfo(path); }); });
}
