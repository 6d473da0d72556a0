// The scene check's rules at their edges: where each record finding starts, how records
// sharing one are counted and ordered, texture numbers that do not convert, and images the
// walk refuses or has nothing to decode in. What check prints for each is in inspect_test.
#include "scene/scene_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "scene/tga_writer.h"
#include "tests/test_files.h"

namespace {

// Findings as "FIRST xCOUNT: WHAT".
std::vector<std::string> Lines(const std::vector<RecordFinding>& findings) {
  std::vector<std::string> lines;
  for (const RecordFinding& finding : findings) {
    lines.push_back(std::to_string(finding.firstRecord) + " x" + std::to_string(finding.count) +
                    ": " + finding.what);
  }
  return lines;
}

QuadTable Table(const std::vector<QuadRecord>& records) {
  QuadTable table;
  table.count = static_cast<int32_t>(records.size());
  table.records.assign(records.begin(), records.end());
  return table;
}

QuadRecord Flat(int32_t slot, uint8_t blend) {
  return Quad(slot, blend, 0, -1, -1, 1, 1);
}

// Corner 3 lifted off the plane of the others: the fold along the diagonal 0-2 is
// atan(height / sqrt(2)), 20 degrees at a height of about 0.515.
QuadRecord Folded(float height) {
  QuadRecord record = Flat(0, 0);
  record.corners[3].z = -height;
  return record;
}

TEST(SceneCheck, RecordFindingsStartAtTheirEdges) {
  const std::vector<bool> oneImage = {true};
  const std::vector<bool> imageWithoutTexels = {false};
  QuadRecord notANumber = Quad(0, 0, 0, 1, 1, 1, 1);  // also no area, which is not named
  notANumber.corners[0].x = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<QuadRecord> records;
    const std::vector<bool>* textured;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"the last slot", {Flat(1023, 0)}, nullptr, {}},
      {"past the last slot",
       {Flat(1024, 0)},
       nullptr,
       {"0 x1: slot 1024 is outside the texture table (0 to 1023): they draw untextured"}},
      {"an unwalked set has no slot without an image", {Flat(5, 0)}, nullptr, {}},
      {"an image of no texels",
       {Flat(0, 0)},
       &imageWithoutTexels,
       {"0 x1: slot 0 has no image: they draw untextured"}},
      {"opaque and alpha-blended", {Flat(0, 0), Flat(0, 1)}, &oneImage, {}},
      {"each other blend its own finding, in the order of the messages",
       {Flat(0, 255), Flat(0, 2), Flat(7, 2)},
       &oneImage,
       {"1 x2: blend 2 draws opaque, as blend 0 does",
        "0 x1: blend 255 draws opaque, as blend 0 does",
        "2 x1: slot 7 has no image: they draw untextured"}},
      {"not a number", {notANumber}, &oneImage, {"0 x1: a coordinate is infinite or not a number"}},
      {"folded 19 degrees", {Folded(0.49f)}, &oneImage, {}},
      {"folded 21 degrees",
       {Folded(0.54f)},
       &oneImage,
       {"0 x1: the quad is far from planar: its two triangles meet at more than 20 degrees"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QuadTable table = Table(c.records);
    // A name that reads texture numbers: the file is not read again.
    EXPECT_EQ(Lines(CheckRecords("/nonexistent/nyc.map", table, c.textured)), c.expected);
  }
}

TEST(SceneCheck, TextureNumbersAFileNameDoesNotRead) {
  const std::string corners = "CW\r\n0 0 -1 -1 0\r\n1 0 1 -1 0\r\n1 1 1 1 0\r\n0 1 -1 1 0\r\n";
  struct Case {
    const char* name;
    std::string quads;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"counted from the first",
       "0 0\r\n" + corners + "5 0\r\n" + corners + "6 0\r\n" + corners,
       {"1 x2: the texture number is not 0, but only files named nyc.map, sanb.map or miami.map "
        "read them: every quad uses slot 0"}},
      {"none where they do not convert", "x 0\r\n" + corners, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("city.map");
    WriteFile(path, c.quads);
    EXPECT_EQ(Lines(CheckRecords(path, Table({Flat(0, 0)}), nullptr)), c.expected);
  }
}

TEST(SceneCheck, ImagesTheWalkRefusesOrHasNothingToDecodeIn) {
  const std::vector<uint8_t> wide(2048 * 4, 255);
  std::vector<uint8_t> headerOnly = EncodeTga32(3, 1, wide.data());
  headerOnly.resize(kTgaHeaderBytes);
  struct Case {
    const char* name;
    std::vector<uint8_t> image;
    std::vector<std::string> expected;  // "IMAGE: WHAT", the image's name without its folder
    std::vector<bool> textured;
  };
  const Case cases[] = {
      {"wider than GL takes",
       EncodeTga32(2048, 1, wide.data()),
       {"000.tga: 2048 x 1 is larger than the maximum texture size 1024; its slot draws "
        "untextured"},
       {false}},
      {"one texel, whatever its header's size",
       headerOnly,
       {"000.tga: the file holds none of its pixel data; it draws as one transparent black "
        "texel"},
       {true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::filesystem::create_directories(dir.File("nyc"));
    WriteFile(dir.File("nyc/000.tga"), std::string(c.image.begin(), c.image.end()));
    TextureSetCheck check;
    CheckTextureSet(
        dir.File("nyc.map"), [] { return 1024; }, check);
    std::vector<std::string> found;
    for (const ImageFinding& finding : check.findings) {
      found.push_back(finding.image.substr(dir.File("nyc/").size()) + ": " + finding.what);
    }
    EXPECT_EQ(found, c.expected);
    EXPECT_EQ(check.textured, c.textured);
  }
}

}  // namespace
