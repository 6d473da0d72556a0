// quadscene info: a summary of a quad-list file and its texture folder, with the load time.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "scene/texture_paths.h"
#include "tools/commands.h"

namespace {

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Images the texture set would load: 000, 001, ... up to the first missing number.
int CountLoadableImages(const std::string& folderPrefix) {
  int images = 0;
  while (images < kTextureSlots && IsFile(TextureImagePath(folderPrefix, images))) ++images;
  return images;
}

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

void PrintSummary(const std::string& path, const QuadTable& table, double seconds) {
  struct stat info {};
  const double bytes = ::stat(path.c_str(), &info) == 0 ? static_cast<double>(info.st_size) : 0;
  std::printf("file: %s\n", path.c_str());
  std::printf("records: %d\n", table.count);

  float low[3], high[3];
  std::fill(low, low + 3, std::numeric_limits<float>::infinity());
  std::fill(high, high + 3, -std::numeric_limits<float>::infinity());
  // Counting runs over every record of files with millions: plain arrays for the common
  // values, a map only for slots outside the table.
  std::vector<int64_t> slotCounts(kTextureSlots, 0);
  std::map<int32_t, int64_t> otherSlotUse;
  std::array<int64_t, 256> blendUse{};
  for (int32_t i = 0; i < table.count; ++i) {
    const QuadRecord& q = table.records[static_cast<size_t>(i)];
    if (q.textureIndex >= 0 && q.textureIndex < kTextureSlots) {
      ++slotCounts[static_cast<size_t>(q.textureIndex)];
    } else {
      ++otherSlotUse[q.textureIndex];
    }
    ++blendUse[q.blend];
    for (const QuadCorner& c : q.corners) {
      const float p[3] = {c.x, c.y, -c.z};  // the file's own z; the table stores it negated
      for (int k = 0; k < 3; ++k) {
        low[k] = std::min(low[k], p[k]);
        high[k] = std::max(high[k], p[k]);
      }
    }
  }
  if (table.count > 0) {
    std::printf("bounds (file coordinates): x %.6g .. %.6g, y %.6g .. %.6g, z %.6g .. %.6g\n",
                low[0], high[0], low[1], high[1], low[2], high[2]);
  } else {
    std::printf("bounds (file coordinates): none\n");
  }

  const std::string folder = TextureFolderPrefix(path);
  const int images = CountLoadableImages(folder);
  std::map<int32_t, int64_t> slotUse = otherSlotUse;
  for (int32_t slot = 0; slot < kTextureSlots; ++slot) {
    if (slotCounts[static_cast<size_t>(slot)] > 0)
      slotUse[slot] = slotCounts[static_cast<size_t>(slot)];
  }
  std::vector<int32_t> used, missing;
  for (const auto& [slot, uses] : slotUse) {
    used.push_back(slot);
    if (slot < 0 || slot >= images) missing.push_back(slot);
  }
  std::printf("texture folder: %s (%d images)\n", folder.c_str(), images);
  std::printf("texture slots used: %s\n", Ranges(used).c_str());
  std::printf("texture slots without an image: %s\n", Ranges(missing).c_str());
  for (int blend = 0; blend < 256; ++blend) {
    const int64_t uses = blendUse[static_cast<size_t>(blend)];
    if (uses == 0) continue;
    std::printf("blend %d: %lld quads (%s)\n", blend, static_cast<long long>(uses),
                blend == 1 ? "alpha-blended" : "opaque");
  }
  const double megabytes = bytes / 1e6;
  std::printf("load: %.3f s, %.1f MB, %.1f MB/s\n", seconds, megabytes,
              seconds > 0 ? megabytes / seconds : 0.0);
}

}  // namespace

void RegisterInfoCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "info", "Summarise a quad-list file: records, bounds, texture slots, blend modes, load time");
  static std::string path;
  command->add_option("FILE", path, "Quad-list file")->required();
  command->callback([&exitStatus]() {
    QuadTable table;
    NoProgress progress;
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&start]() {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    try {
      ReadQuadList(path, table, progress);
      PrintSummary(path, table, elapsed());
    } catch (const SceneError& error) {
      const double seconds = elapsed();
      if (IsFile(path)) PrintSummary(path, table, seconds);
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", FormatDiagnostic(error).c_str());
      exitStatus = kExitBadFile;
    }
  });
}
