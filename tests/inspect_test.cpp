// quadscene pick, check and diff, --fit, and the progress line of long commands, as a user
// runs them.
#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scene/quad_list.h"
#include "scene/quad_list_writer.h"
#include "scene/tga_writer.h"
#include "tests/command_runner.h"
#include "tests/test_files.h"

namespace {

// Quads of distinct solid colours overlapping every which way, each in its own slot.
std::string WriteColourScene(const TempDir& dir) {
  const std::string path = dir.File("colours/nyc.map");
  std::filesystem::create_directories(dir.File("colours/nyc"));
  QuadTable table;
  const float boxes[][5] = {{-1.2f, -0.8f, 1.2f, 0.8f, -1.0f}, {-0.5f, -0.5f, 0.4f, 0.3f, 0.0f},
                            {-0.1f, -0.3f, 0.7f, 0.6f, 0.6f},  {-0.9f, 0.1f, -0.2f, 0.7f, 0.2f},
                            {0.2f, -0.7f, 0.9f, -0.1f, -0.4f}, {-0.3f, -0.1f, 0.1f, 0.2f, 1.0f}};
  for (int i = 0; i < 6; ++i) {
    const uint8_t colour[4] = {static_cast<uint8_t>(40 * i + 20),
                               static_cast<uint8_t>(200 - 30 * i),
                               static_cast<uint8_t>(i % 2 ? 250 : 60), 255};
    char name[16];
    std::snprintf(name, sizeof name, "%03X.tga", i);
    WriteTga32(dir.File("colours/nyc/") + name, 1, 1, colour);
    table.records.push_back(
        Quad(i, 0, 0, boxes[i][0], boxes[i][1], boxes[i][2], boxes[i][3], boxes[i][4]));
  }
  table.count = static_cast<int32_t>(table.records.size());
  WriteQuadList(path, table);
  return path;
}

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  int Slot(int x, int y) const {  // the colour scene's slot of the colour at (x, y), or -1
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    for (int i = 0; i < 6; ++i) {
      if (p[0] == 40 * i + 20 && p[1] == 200 - 30 * i && p[2] == (i % 2 ? 250 : 60)) return i;
    }
    return -1;
  }
};

Picture ReadPicture(const std::string& path) {
  Picture picture;
  int channels = 0;
  std::unique_ptr<uint8_t, void (*)(void*)> pixels(
      stbi_load(path.c_str(), &picture.width, &picture.height, &channels, 3), stbi_image_free);
  if (pixels) {
    picture.rgb.assign(pixels.get(), pixels.get() + picture.width * picture.height * 3);
  }
  return picture;
}

// Where the renderer draws a colour, pick names the record of that colour, at every edge
// pixel along a row and a column, for cameras turned every way.
TEST(Pick, NamesTheRecordTheViewerDrawsAtEachPixel) {
  TempDir dir;
  const std::string scene = WriteColourScene(dir);
  const std::string cameras[] = {"", "--tilt 15 --spin 30", "--spin -60 --distance -3.5",
                                 "--tilt -20 --pan 0.2 -0.1 --size 240x180"};
  for (const std::string& camera : cameras) {
    SCOPED_TRACE(camera);
    ASSERT_EQ(
        RunQuadscene("render " + scene + " -o " + dir.File("view.png") + " " + camera, dir).status,
        0);
    const Picture picture = ReadPicture(dir.File("view.png"));
    ASSERT_GT(picture.width, 0);
    std::vector<std::pair<int, int>> pixels;
    for (int x = 1; x < picture.width; ++x) {  // edges along the middle row
      const int y = picture.height / 2;
      if (picture.Slot(x, y) != picture.Slot(x - 1, y))
        pixels.push_back({x, y}), pixels.push_back({x - 1, y});
    }
    for (int y = 1; y < picture.height; ++y) {  // and down the middle column
      const int x = picture.width / 2 + 7;
      if (picture.Slot(x, y) != picture.Slot(x, y - 1))
        pixels.push_back({x, y}), pixels.push_back({x, y - 1});
    }
    ASSERT_GE(pixels.size(), 4u);
    for (const auto& [x, y] : pixels) {
      const CommandResult run = RunQuadscene(
          "pick " + scene + " " + std::to_string(x) + " " + std::to_string(y) + " " + camera, dir);
      ASSERT_EQ(run.status, 0) << run.err;
      const int slot = picture.Slot(x, y);
      if (slot < 0) {
        EXPECT_EQ(run.out,
                  "nothing is drawn at " + std::to_string(x) + " " + std::to_string(y) + "\n");
      } else {
        char image[16];
        std::snprintf(image, sizeof image, "%03X.tga", slot);
        EXPECT_EQ(run.out, scene + ":" + std::to_string(6 * slot + 1) + ": record " +
                               std::to_string(slot + 1) + ": slot " + std::to_string(slot) + " (" +
                               dir.File("colours/nyc/") + image + "), blend 0 (opaque), CW\n")
            << x << " " << y;
      }
    }
  }
}

TEST(Pick, ListsEveryRecordInDrawingOrderAndRefusesPixelsOutsideTheView) {
  TempDir dir;
  const std::string scene = WriteColourScene(dir);
  // The centre of the view lies under records 0, 1, 2 and 5; 5 is drawn last.
  const CommandResult run = RunQuadscene("pick " + scene + " 267 163 --all", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> numbers;
  for (size_t at = run.out.find(": record "); at != std::string::npos;
       at = run.out.find(": record ", at + 1)) {
    numbers.push_back(run.out.substr(at + 9, run.out.find(':', at + 9) - at - 9));
  }
  EXPECT_EQ(numbers, (std::vector<std::string>{"1", "2", "3", "6"})) << run.out;
  EXPECT_EQ(RunQuadscene("pick " + scene + " 267 163", dir).out,
            scene + ":31: record 6: slot 5 (" + dir.File("colours/nyc/") +
                "005.tga), blend 0 (opaque), CW\n");
  const CommandResult outside = RunQuadscene("pick " + scene + " 535 10", dir);
  EXPECT_EQ(outside.status, 2);
  EXPECT_EQ(outside.err.substr(0, outside.err.find('\n')),
            "X Y: expected a pixel of the 535x326 view: X from 0 to 534, Y from 0 to 325");
}

// A record of the diff scenes: texture number `number`, corners along x = `x`.
std::string DiffRecord(int number, int x, const std::string& end = "\r\n") {
  const std::string v = std::to_string(x);
  return std::to_string(number) + " 0" + end + "CW" + end + "0 0 " + v + " 0 0" + end + "1 0 " + v +
         " 1 0" + end + "1 1 " + v + " 1 1" + end + "0 1 " + v + " 0 1" + end;
}

// Each row edits a copy (b/) of a four-record scene (a/) and expects diff's whole output.
TEST(Diff, SaysWhatChangedRecordByRecordAndImageByImage) {
  const std::string base =
      DiffRecord(3, 0) + DiffRecord(4, 1) + DiffRecord(5, 2) + DiffRecord(6, 3);
  const uint8_t red[4] = {200, 20, 10, 255}, blue[4] = {10, 20, 200, 255};
  struct Row {
    const char* what;
    std::function<void(const TempDir&)> edit;
    std::string args;  // after "diff"; a/nyc.map b/nyc.map when empty
    int status;
    std::string out;  // "A" and "B" stand for the two paths
  };
  const auto scene = [](const TempDir& dir, const std::string& text) {
    WriteFile(dir.File("b/nyc.map"), text);
  };
  const std::string none = "0 changed, 0 added, 0 removed, 0 moved, 0 images\n";
  const Row rows[] = {
      {"identical", [](const TempDir&) {}, "", 0, none},
      {"other spellings and line ends",
       [&](const TempDir& dir) {
         std::string text =
             DiffRecord(3, 0, "\r") + DiffRecord(4, 1, "\r") + DiffRecord(5, 2, "\r");
         text += "+6, 0 ignored\rCW\r0.0 0 3.000 -0 -0\r1E0 0 3 1 0\r1 1 3 1 1\r0 1 3 0 1\r";
         scene(dir, text);
       },
       "", 0, none},
      {"slot and texture number",
       [&](const TempDir& dir) {
         scene(dir, DiffRecord(3, 0) + DiffRecord(7, 1) + DiffRecord(5, 2) + DiffRecord(6, 3));
       },
       "", 1, "changed A:7 B:7: record 2 -> 2: slot 1 -> 4; texture number 4 -> 7\n"},
      {"blend and winding",
       [&](const TempDir& dir) {
         std::string text = base;
         text.replace(text.find("5 0\r\nCW"), 7, "5 1\r\nCCW");
         scene(dir, text);
       },
       "", 1, "changed A:13 B:13: record 3 -> 3: blend 0 -> 1; winding CW -> CCW\n"},
      {"corners",
       [&](const TempDir& dir) {
         std::string text = base;
         text.replace(text.find("1 1 3 1 1"), 9, "1 1 3.5 1 -2");
         text.replace(text.find("0 0 3 0 0"), 9, "0 0.25 3 0 0");
         scene(dir, text);
       },
       "", 1,
       "changed A:19 B:19: record 4 -> 4: corner 1: v 0 -> 0.25; corner 3: x 3 -> 3.5, z 1 -> "
       "-2\n"},
      {"removed and added",
       [&](const TempDir& dir) {
         scene(dir, DiffRecord(3, 0) + DiffRecord(5, 2) + DiffRecord(6, 3) + DiffRecord(9, 9));
       },
       "", 1, "removed A:7: record 2\nadded B:19: record 4\n"},
      {"moved",
       [&](const TempDir& dir) {
         scene(dir, DiffRecord(4, 1) + DiffRecord(5, 2) + DiffRecord(6, 3) + DiffRecord(3, 0));
       },
       "", 1, "moved A:1 B:19: record 1 -> 4\n"},
      {"repeats align by position",
       [&](const TempDir& dir) {
         WriteFile(dir.File("a/nyc.map"), DiffRecord(3, 0) + DiffRecord(3, 0) + DiffRecord(3, 0));
         scene(dir, DiffRecord(4, 0) + DiffRecord(3, 0) + DiffRecord(3, 0) + DiffRecord(3, 0));
       },
       "", 1,
       "changed A:1 B:1: record 1 -> 1: slot 0 -> 1; texture number 3 -> 4\nadded B:19: record "
       "4\n"},
      {"a name whose texture numbers are not read, and --as",
       [&](const TempDir& dir) {
         WriteFile(dir.File("b/other.map"), base);
         std::filesystem::rename(dir.File("b/nyc"), dir.File("b/other"));
       },
       "a/nyc.map b/other.map --as NYC.MAP", 0, none},
      {"images: other pixels, the same pixels in other bytes, added",
       [&](const TempDir& dir) {
         WriteTga32(dir.File("b/nyc/001.tga"), 1, 1, blue);
         WriteFile(dir.File("b/nyc/000.tga"), OtherTga(0));
         const uint8_t twoTexels[8] = {200, 20, 10, 255, 10, 20, 200, 255};
         WriteTga32(dir.File("b/nyc/002.tga"), 2, 1, twoTexels);
       },
       "", 1,
       "image 1: other pixels: A/001.tga 1x1, B/001.tga 1x1: 1 of 1 differ\n"
       "image 2: added B/002.tga 2x1\n"},
      {"a missing file", [](const TempDir&) {}, "a/nyc.map b/gone.map", 2,
       "b/gone.map: Cannot open file b/gone.map\n"},
      {"a file that fails part-way",
       [&](const TempDir& dir) { scene(dir, base + "7 0\r\nCW\r\n0 0 x 0 0\r\n"); }, "", 2,
       "b/nyc.map:27: 'x' is not a valid floating point value\n"},
      {"--png onto a texture of the scenes", [](const TempDir&) {},
       "a/nyc.map b/nyc.map --png b/nyc/001.tga", 2,
       "Cannot write file b/nyc/001.tga: it belongs to the scenes compared\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    std::filesystem::create_directories(dir.File("a/nyc"));
    WriteFile(dir.File("a/nyc.map"), base);
    const uint8_t run4[] = {0xc8, 0x14, 0x0a, 0xff, 0xc8, 0x14, 0x0a, 0xff,
                            0xc8, 0x14, 0x0a, 0xff, 0xc8, 0x14, 0x0a, 0xff};
    WriteTga32(dir.File("a/nyc/000.tga"), 2, 2, run4);
    WriteTga32(dir.File("a/nyc/001.tga"), 1, 1, red);
    std::filesystem::copy(dir.File("a"), dir.File("b"), std::filesystem::copy_options::recursive);
    row.edit(dir);
    const std::string args = row.args.empty() ? "a/nyc.map b/nyc.map" : row.args;
    const CommandResult run =
        RunQuadscene("diff " + args + " --quiet", dir, "cd " + dir.File("") + " && ");
    EXPECT_EQ(run.status, row.status) << run.err;
    std::string expected = row.out;
    for (size_t at; (at = expected.find("A:")) != std::string::npos;)
      expected.replace(at, 1, "a/nyc.map");
    for (size_t at; (at = expected.find("B:")) != std::string::npos;)
      expected.replace(at, 1, "b/nyc.map");
    for (size_t at; (at = expected.find("A/")) != std::string::npos;)
      expected.replace(at, 1, "a/nyc");
    for (size_t at; (at = expected.find("B/")) != std::string::npos;)
      expected.replace(at, 1, "b/nyc");
    if (row.status == 2) {
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, row.out);
    } else {
      EXPECT_EQ(run.out.substr(0, expected.size()), expected) << run.out;
      EXPECT_EQ(run.status == 0, run.out == none) << run.out;
    }
  }
}

// diff --png: the new scene as render draws it, with nothing marked when nothing changed;
// changed records filled and outlined, removed ones outlined where they stood.
TEST(Diff, MarksTheChangesInThePicture) {
  TempDir dir;
  const std::string scene = WriteColourScene(dir);
  std::filesystem::copy(dir.File("colours"), dir.File("edited"),
                        std::filesystem::copy_options::recursive);
  ASSERT_EQ(RunQuadscene("render " + scene + " -o " + dir.File("render.png"), dir).status, 0);
  EXPECT_EQ(RunQuadscene("diff " + scene + " " + dir.File("edited/nyc.map") + " --png " +
                             dir.File("same.png"),
                         dir)
                .status,
            0);
  EXPECT_EQ(ReadPicture(dir.File("same.png")).rgb, ReadPicture(dir.File("render.png")).rgb);

  QuadTable table;
  NoProgress progress;
  ReadQuadList(scene, table, progress);
  table.records[3] = Quad(3, 0, 0, -0.9f, 0.1f, -0.5f, 0.7f, 0.2f);  // narrower
  table.records.erase(table.records.begin() + 4);
  table.count = 5;
  WriteQuadList(dir.File("edited/nyc.map"), table);
  const CommandResult run = RunQuadscene(
      "diff " + scene + " " + dir.File("edited/nyc.map") + " --png " + dir.File("marked.png"), dir);
  EXPECT_EQ(run.status, 1) << run.err;
  const Picture render = ReadPicture(dir.File("render.png"));
  const Picture marked = ReadPicture(dir.File("marked.png"));
  ASSERT_EQ(marked.rgb.size(), render.rgb.size());
  int yellow = 0, red = 0, unchanged = 0;
  for (size_t p = 0; p < marked.rgb.size(); p += 3) {
    const uint8_t* c = &marked.rgb[p];
    yellow += c[0] == 255 && c[1] == 200 && c[2] == 0;
    red += c[0] == 255 && c[1] == 40 && c[2] == 40;
    unchanged += std::equal(c, c + 3, &render.rgb[p]);
  }
  EXPECT_GT(yellow, 40);
  EXPECT_GT(red, 40);
  EXPECT_GT(unchanged, static_cast<int>(marked.rgb.size() / 3 * 3 / 4));
}

// --fit: a scene far off the start camera drawn whole, with a black border all round, for
// any tilt and spin; pick answers for the same camera.
TEST(Fit, ShowsTheWholeScene) {
  TempDir dir;
  QuadTable table;
  table.records.push_back(Quad(0, 0, 0, 400, 300, 520, 330, 90));
  table.records.push_back(Quad(0, 0, 0, 500, 250, 510, 260, -40));
  table.count = 2;
  std::filesystem::create_directories(dir.File("far/nyc"));
  WriteQuadList(dir.File("far/nyc.map"), table);
  const uint8_t white[4] = {255, 255, 255, 255};
  WriteTga32(dir.File("far/nyc/000.tga"), 1, 1, white);
  for (const std::string camera : {"", "--tilt 30 --spin 45", "--spin 90 --size 200x400"}) {
    SCOPED_TRACE(camera);
    ASSERT_EQ(RunQuadscene("render " + dir.File("far/nyc.map") + " --fit -o " +
                               dir.File("fit.png") + " " + camera,
                           dir)
                  .status,
              0);
    const Picture picture = ReadPicture(dir.File("fit.png"));
    int lit = 0, border = 0, lowX = picture.width, highX = 0, lowY = picture.height, highY = 0;
    int litX = -1, litY = -1;
    for (int y = 0; y < picture.height; ++y) {
      for (int x = 0; x < picture.width; ++x) {
        if (picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3] == 0) continue;
        ++lit;
        if (litX < 0) litX = x, litY = y;
        border += x == 0 || y == 0 || x == picture.width - 1 || y == picture.height - 1;
        lowX = std::min(lowX, x), highX = std::max(highX, x);
        lowY = std::min(lowY, y), highY = std::max(highY, y);
      }
    }
    EXPECT_EQ(border, 0);
    // Centred and filling most of the view one way or the other.
    EXPECT_GT(std::max((highX - lowX) * 10 / picture.width, (highY - lowY) * 10 / picture.height),
              5);
    const CommandResult pick =
        RunQuadscene("pick " + dir.File("far/nyc.map") + " --fit " + std::to_string(litX) + " " +
                         std::to_string(litY) + " " + camera,
                     dir);
    EXPECT_NE(pick.out.find(": record "), std::string::npos) << pick.out;
  }
}

// --as: a renamed copy of the colour scene reads its texture numbers as nyc.map does in every
// command; without it, the commands that load say once why every quad draws with slot 0.
TEST(As, ReadsTextureNumbersUnderAnotherName) {
  TempDir dir;
  const std::string scene = WriteColourScene(dir);
  const std::string copy = dir.File("colours/nyc_v2.map");
  std::filesystem::copy_file(scene, copy);
  std::filesystem::create_directory_symlink(dir.File("colours/nyc"), dir.File("colours/nyc_v2"));
  const std::string warning =
      copy +
      ": warning: 6 records hold texture numbers, but only files named nyc.map, sanb.map "
      "or miami.map read them: every quad draws with slot 0 (--as NAME reads them)\n";
  const CommandResult info = RunQuadscene("info " + copy, dir);
  EXPECT_EQ(info.err, warning);
  EXPECT_NE(info.out.find("texture slots used: 0\n"), std::string::npos) << info.out;
  const CommandResult as = RunQuadscene("info --as NYC.MAP " + copy, dir);
  EXPECT_EQ(as.err, "");
  EXPECT_NE(as.out.find("texture slots used: 0-5\n"), std::string::npos) << as.out;
  EXPECT_EQ(RunQuadscene("render " + copy + " -o " + dir.File("a.png"), dir).err, warning);
  ASSERT_EQ(RunQuadscene("render " + copy + " --as nyc.map -o " + dir.File("b.png"), dir).status,
            0);
  ASSERT_EQ(RunQuadscene("render " + scene + " -o " + dir.File("c.png"), dir).status, 0);
  EXPECT_EQ(ReadPicture(dir.File("b.png")).rgb, ReadPicture(dir.File("c.png")).rgb);
  EXPECT_NE(ReadPicture(dir.File("a.png")).rgb, ReadPicture(dir.File("c.png")).rgb);
  EXPECT_EQ(RunQuadscene("diff " + scene + " " + copy + " --as nyc.map", dir).status, 0);
  const CommandResult bad = RunQuadscene("dump --as other.map " + copy, dir);
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err.substr(0, bad.err.find('\n')), "--as: expected nyc.map, sanb.map or miami.map");
}

// One small scene per finding, and the exact line check writes for it.
TEST(Check, SaysWhatWillNotShowAsMeant) {
  struct Case {
    const char* name;
    std::string quads;  // the records of nyc.map (or city.map)
    std::vector<std::pair<int, std::vector<uint8_t>>> images;  // number -> TGA bytes
    std::string expected;                                      // "@" is the scene's path
  };
  const std::string corners = "CW\r\n0 0 -1 -1 0\r\n1 0 1 -1 0\r\n1 1 1 1 0\r\n0 1 -1 1 0\r\n";
  const uint8_t opaque[16] = {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255};
  const std::vector<uint8_t> good = EncodeTga32(2, 2, opaque);
  std::vector<uint8_t> deep = EncodeTga32(2, 2, opaque);
  deep[16] = 24;
  std::vector<uint8_t> odd = EncodeTga32(3, 1, opaque);
  std::vector<uint8_t> cut(good.begin(), good.end() - 4);
  const std::string folder = "@/";
  const Case cases[] = {
      {"outside",
       "2 0\r\n" + corners,
       {{0, good}},
       "@:1: warning: 1 record, the first here: slot -1 is outside the texture table (0 to "
       "1023): they draw untextured\n"},
      {"no image",
       "8 0\r\n" + corners + "8 0\r\n" + corners,
       {{0, good}},
       "@:1: warning: 2 records, the first here: slot 5 has no image: they draw untextured\n"},
      {"old kind",
       "3 0\r\n" + corners,
       {{0, deep}},
       "#000.tga: warning: type 2 with depth 24: older readers of this format take only "
       "uncompressed 32-bit true colour (type 2)\n"},
      {"not a power of two",
       "3 0\r\n" + corners,
       {{0, odd}},
       "#000.tga: warning: 3 x 1 is not a power of two on each side: OpenGL 1.1 draws it "
       "untextured\n"},
      {"cut short",
       "3 0\r\n" + corners,
       {{0, cut}},
       "#000.tga: warning: its pixel data is cut short; the missing texels are transparent "
       "black\n"},
      {"infinite",
       "3 0\r\nCW\r\n0 0 1E39 0 0\r\n1 0 1 0 0\r\n1 1 1 1 0\r\n0 1 0 1 0\r\n",
       {{0, good}},
       "@:1: warning: 1 record, the first here: a coordinate is infinite or not a number\n"},
      {"no area",
       "3 0\r\nCW\r\n0 0 1 1 0\r\n1 0 2 2 0\r\n1 1 3 3 0\r\n0 1 4 4 0\r\n",
       {{0, good}},
       "@:1: warning: 1 record, the first here: the quad has no area\n"},
      {"not planar",
       "3 0\r\nCW\r\n0 0 -1 -1 0\r\n1 0 1 -1 0\r\n1 1 1 1 0\r\n0 1 -1 1 2\r\n",
       {{0, good}},
       "@:1: warning: 1 record, the first here: the quad is far from planar: its two triangles "
       "meet at more than 20 degrees\n"},
      {"blend",
       "3 0\r\n" + corners + "3 2\r\n" + corners,
       {{0, good}},
       "@:7: warning: 1 record, the first here: blend 2 draws opaque, as blend 0 does\n"},
      {"gap",
       "3 0\r\n" + corners,
       {{0, good}, {1, good}, {3, good}},
       "#003.tga: warning: 002.tga is missing, so this image and those after it are never "
       "loaded\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("nyc.map");
    WriteFile(path, c.quads);
    std::filesystem::create_directories(dir.File("nyc"));
    for (const auto& [number, bytes] : c.images) {
      char name[16];
      std::snprintf(name, sizeof name, "nyc/%03X.tga", number);
      WriteFile(dir.File(name), std::string(bytes.begin(), bytes.end()));
    }
    std::string expected = c.expected;
    for (size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, path);
    for (size_t at; (at = expected.find('#')) != std::string::npos;) {
      expected.replace(at, 1, dir.File("nyc/"));
    }
    const CommandResult run = RunQuadscene("check " + path, dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.rfind(path + ": ")), expected);
    EXPECT_NE(run.out.find(path + ": "), std::string::npos);
    EXPECT_EQ(RunQuadscene("check --strict " + path, dir).status, 3);
  }
}

TEST(Check, NamesTexturesAFileNameDoesNotReadAndFailsWhereTheViewerWould) {
  TempDir dir;
  const std::string corners = "CW\r\n0 0 -1 -1 0\r\n1 0 1 -1 0\r\n1 1 1 1 0\r\n0 1 -1 1 0\r\n";
  const uint8_t white[4] = {255, 255, 255, 255};
  const std::vector<uint8_t> image = EncodeTga32(1, 1, white);
  std::filesystem::create_directories(dir.File("city"));
  WriteFile(dir.File("city/000.tga"), std::string(image.begin(), image.end()));
  WriteFile(dir.File("city.map"), "0 0\r\n" + corners + "7 1\r\n" + corners);
  CommandResult run = RunQuadscene("check " + dir.File("city.map"), dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, dir.File("city.map") +
                         ":7: warning: 1 record, the first here: the texture number is not 0, "
                         "but only files named nyc.map, sanb.map or miami.map read them: every "
                         "quad uses slot 0\n" +
                         dir.File("city.map") + ": 2 records, 1 image, 1 warning\n");
  // Without its first image the scene does not load; a fault in its quad list is still named.
  std::filesystem::create_directories(dir.File("clean"));
  WriteFile(dir.File("clean/nyc.map"), "3 0\r\n" + corners + "x 0\r\n");
  run = RunQuadscene("check " + dir.File("clean/nyc.map"), dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, dir.File("clean/nyc.map") + ":7: 'x' is not a valid integer value\n" +
                         dir.File("clean/nyc/000.tga") + ": Cannot open file " +
                         dir.File("clean/nyc/000.tga") + "\n");
}

// The progress line shows only on a terminal (a pseudo-terminal from script(1) here), only
// without --quiet, and is cleared at the end.
TEST(Progress, ShowsOnATerminalOnly) {
  TempDir dir;
  {
    std::ofstream out(dir.File("long.map"), std::ios::binary);
    for (int i = 0; i < 400000; ++i)
      out << "0 1\nCW\n0.5 0.25 1 2 3\n0 0 0 0 0\n0 0 0 0 0\n0 0 0 0 0\n";
  }
  const std::string dump = kQuadscene + " dump " + dir.File("long.map") + " >/dev/null";
  const std::string terminal = "script -qfec \"" + dump;
  ASSERT_EQ(std::system((terminal + "\" " + dir.File("shown.txt") + " >/dev/null").c_str()), 0);
  const std::string shown = ReadFile(dir.File("shown.txt"));
  // Reading takes a moment; printing 400,000 lines takes longer than half a second.
  EXPECT_NE(shown.find("\r\033[Kprinting " + dir.File("long.map") + ": "), std::string::npos)
      << shown;
  EXPECT_NE(shown.find(" of 400000 records ("), std::string::npos);
  EXPECT_NE(shown.find("\r\033[K"), std::string::npos);
  ASSERT_EQ(std::system((terminal + " --quiet\" " + dir.File("quiet.txt") + " >/dev/null").c_str()),
            0);
  EXPECT_EQ(ReadFile(dir.File("quiet.txt")).find("\033[K"), std::string::npos);
  const CommandResult plain = RunQuadscene("dump " + dir.File("long.map") + " >/dev/null", dir);
  EXPECT_EQ(plain.err, "");
}

}  // namespace
