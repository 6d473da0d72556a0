// Conformance of the TGA reader over the shared corpus of real files (tga-corpus/): every file
// loads without a crash, and every file with a reference decode matches it. References are in
// screen order, so the reader's file-order rows are flipped by the descriptor's origin bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "scene/scene_error.h"
#include "scene/tga.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(QUADVIEW_SHARED_DIR) / "tga-corpus";
constexpr uint8_t kRightToLeftBit = 0x10;
constexpr uint8_t kTopDownBit = 0x20;

// Files whose preferred reference (ref/, made by Pillow) is known to be wrong; each names the
// reference used instead and why.
struct ReferenceException {
  const char* stem;
  const char* reference;  // relative to the corpus folder
  const char* reason;
};
const ReferenceException kReferenceExceptions[] = {
    {"imagers_b5-cmap", "ref_imagemagick/imagers_b5-cmap.rgba",
     "Pillow 9.4 ignores 15-bit colour maps and decodes the indexes as grey"},
    {"imagers_b5-unused-cmap", "ref/imagers_b5-noattrib.rgba",
     "Pillow 9.4 does not skip the unused map and ImageMagick refuses the file; its pixels are "
     "those of b5-noattrib stored bottom-up, so that file's reference is the expectation"},
};

bool ReadFile(const fs::path& path, Bytes& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

fs::path ReferenceFor(const std::string& stem) {
  for (const ReferenceException& exception : kReferenceExceptions) {
    if (stem == exception.stem) return kCorpus / exception.reference;
  }
  const fs::path pillow = kCorpus / "ref" / (stem + ".rgba");
  if (fs::exists(pillow)) return pillow;
  const fs::path magick = kCorpus / "ref_imagemagick" / (stem + ".rgba");
  if (fs::exists(magick)) return magick;
  return {};
}

// The decoded image in screen order: first row the top row, columns left to right.
// The image the texture set uploads, at the header's size: one that has nothing to decode is
// uploaded as a single zero texel, which samples as the full-size zero image.
Bytes FullSizeUpload(const TgaImage& image) {
  const size_t fullBytes = size_t{image.header.width} * image.header.height * 4;
  if (image.UploadBytes() != fullBytes) return Bytes(fullBytes, 0);
  return Bytes(image.UploadPixels(), image.UploadPixels() + fullBytes);
}

Bytes ScreenOrder(const TgaImage& image) {
  const Bytes upload = FullSizeUpload(image);
  const size_t width = image.header.width;
  const size_t height = image.header.height;
  const bool topDown = image.header.descriptor & kTopDownBit;
  const bool rightToLeft = image.header.descriptor & kRightToLeftBit;
  Bytes screen(upload.size());
  for (size_t row = 0; row < height; ++row) {
    const size_t fileRow = topDown ? row : height - 1 - row;
    for (size_t column = 0; column < width; ++column) {
      const size_t fileColumn = rightToLeft ? width - 1 - column : column;
      std::copy_n(&upload[(fileRow * width + fileColumn) * 4], 4,
                  &screen[(row * width + column) * 4]);
    }
  }
  return screen;
}

// Decoders widen 5-bit channels differently: one step of difference is allowed there.
int ToleranceFor(const TgaHeader& header) {
  const bool trueColor = header.imageType == 2 || header.imageType == 10;
  const bool mapped = header.imageType == 1 || header.imageType == 9;
  if (trueColor && (header.depth == 15 || header.depth == 16)) return 1;
  if (mapped && (header.colorMapEntryBits == 15 || header.colorMapEntryBits == 16)) return 1;
  return 0;
}

// Empty when equal within `tolerance`, else where and how they first differ.
std::string Compare(const Bytes& actual, const Bytes& expected, int tolerance) {
  if (actual.size() != expected.size()) {
    return "size " + std::to_string(actual.size()) + " vs reference " +
           std::to_string(expected.size());
  }
  size_t differing = 0;
  size_t first = 0;
  for (size_t i = 0; i < actual.size(); ++i) {
    if (std::abs(int{actual[i]} - int{expected[i]}) > tolerance && differing++ == 0) first = i;
  }
  if (differing == 0) return {};
  return std::to_string(differing) + " bytes differ, first at pixel " + std::to_string(first / 4) +
         " channel " + std::to_string(first % 4) + ": " + std::to_string(actual[first]) + " vs " +
         std::to_string(expected[first]);
}

TEST(TgaCorpus, EveryFileLoadsAndMatchesItsReference) {
  // The corpus is data kept beside the repository (shared/tga-corpus), not in it: a clone
  // alone skips this test and says where it looked.
  if (!fs::is_directory(kCorpus / "files")) {
    GTEST_SKIP() << "no TGA corpus at " << fs::weakly_canonical(kCorpus).string()
                 << " (the shared/ folder beside the repository)";
  }
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(kCorpus / "files")) {
    if (entry.path().extension() == ".tga") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  std::vector<std::string> failures;
  size_t compared = 0;
  size_t withReference = 0;
  size_t refused = 0;
  for (const fs::path& file : files) {
    const std::string stem = file.stem().string();
    const fs::path referencePath = ReferenceFor(stem);
    if (!referencePath.empty()) ++withReference;
    try {
      LoadTga(file.string());
    } catch (const SceneError& error) {
      // Acceptable only for a file that no reference decoder reads either.
      ++refused;
      if (!referencePath.empty()) failures.push_back(stem + ": " + error.what());
      continue;
    }
    const TgaImage& image = LastTgaImage();
    const bool fullSize =
        image.uploadWidth == image.header.width && image.uploadHeight == image.header.height;
    if (!fullSize && image.UploadBytes() != 4) {
      failures.push_back(stem + ": uploads " + std::to_string(image.uploadWidth) + " x " +
                         std::to_string(image.uploadHeight));
      continue;
    }
    if (referencePath.empty()) continue;
    Bytes reference;
    if (!ReadFile(referencePath, reference)) {
      failures.push_back(stem + ": cannot read " + referencePath.string());
      continue;
    }
    const std::string difference =
        Compare(ScreenOrder(image), reference, ToleranceFor(image.header));
    if (!difference.empty()) failures.push_back(stem + ": " + difference);
    ++compared;
  }

  std::string report;
  for (const std::string& failure : failures) report += "\n  " + failure;
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << files.size() << " files:" << report;
  EXPECT_EQ(compared, withReference);
  std::cout << files.size() << " corpus files read, " << compared << " compared with a reference, "
            << refused << " refused with an error\n";
  RecordProperty("compared", static_cast<int>(compared));
}

}  // namespace
