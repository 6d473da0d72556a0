// Writes that fail or are refused keep the user's files whole: a scene is replaced by import
// --force or demo --force completely or not at all, a re-export keeps the old export whole
// when it fails, an existing scene is not overwritten without --force, and export never
// writes onto the scene it reads. import --images-like copies only the alike scene's own
// image files whose texels are those written.
#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "scene/texture_paths.h"
#include "scene/tga_writer.h"
#include "tests/command_runner.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;

// Every file under `folder`, hidden ones too, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), folder).string()] = ReadFile(entry.path().string());
    }
  }
  return files;
}

// An own OBJ export of one record (slot 1) and two images: 1 x 1, then 128 x 128 of noise,
// whose TGA is 64 KiB.
std::string WriteTwoImageExport(const TempDir& dir) {
  std::vector<uint8_t> rgba(128 * 128 * 4);
  std::mt19937 noise(7);  // incompressible: its PNG is as large as its TGA
  for (uint8_t& byte : rgba) byte = static_cast<uint8_t>(noise());
  EXPECT_NE(stbi_write_png(dir.File("a.png").c_str(), 1, 1, 4, rgba.data(), 4), 0);
  EXPECT_NE(stbi_write_png(dir.File("b.png").c_str(), 128, 128, 4, rgba.data(), 512), 0);
  WriteFile(dir.File("two.obj"),
            "# quadview export 1\n# quadview image 0 a.png\n# quadview image 1 b.png\n"
            "usemtl quadview_slot_1_blend_0\nv 0 0 0\nvt 0 0\nv 1 0 0\nvt 1 0\nv 1 1 0\nvt 1 1\n"
            "v 0 1 0\nvt 0 1\nf 1/1 2/2 3/3 4/4\n# quadview end 1\n");
  return dir.File("two.obj");
}

TEST(SceneWriting, FailedOrRefusedWritesKeepTheOldFilesWhole) {
  TempDir dir;
  const std::string scene = dir.File("city/nyc.map");
  ASSERT_EQ(RunQuadscene("demo " + dir.File("city"), dir).status, 0);
  const auto city = Snapshot(dir.File("city"));
  const std::string model = WriteTwoImageExport(dir);
  const std::string image1 = dir.File("city/nyc/001.tga");
  fs::create_directories(dir.File("export"));
  ASSERT_EQ(RunQuadscene("export " + scene + " -o " + dir.File("export/x.gltf"), dir).status, 0);
  const auto exported = Snapshot(dir.File("export"));
  fs::create_symlink(scene, dir.File("export/link.obj"));

  struct Case {
    std::string args, prefix, error;
  };
  const Case cases[] = {
      {"demo " + dir.File("city"), "", scene + ": exists; --force overwrites it\n"},
      {"demo " + dir.File("city") + " --force", "prlimit --fsize=10000 ",
       "Cannot write file " + dir.File("city/nyc/000.tga") + ": File too large\n"},
      // The second image does not fit: the first, already written, must not replace the old.
      {"import " + model + " -o " + scene + " --force", "prlimit --fsize=20000 ",
       "Cannot write file " + image1 + ": File too large\n"},
      {"import " + model + " -o " + scene, "", scene + ": exists; --force overwrites it\n"},
      // A re-export whose second image does not fit keeps the old export whole.
      {"export " + dir.File("two/nyc.map") + " -o " + dir.File("export/x.gltf"),
       "prlimit --fsize=20000 ",
       "Cannot write file " + dir.File("export/x_001.png") + ": File too large\n"},
      {"export " + scene + " -o " + dir.File("export/link.obj"), "",
       "Cannot write file " + dir.File("export/link.obj") + ": it is the scene being exported\n"},
  };
  ASSERT_EQ(RunQuadscene("import " + model + " -o " + dir.File("two/nyc.map"), dir).status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CommandResult run = RunQuadscene(c.args, dir, c.prefix);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.error);
    EXPECT_TRUE(Snapshot(dir.File("city")) == city);
    EXPECT_EQ(Snapshot(dir.File("export")).size(), exported.size() + 1);  // and the link
  }
  for (const auto& [file, bytes] : exported) {
    EXPECT_TRUE(ReadFile(dir.File("export/" + file)) == bytes) << file;
  }
  // With --force and room to write, the new scene replaces the old one whole.
  const CommandResult run = RunQuadscene("import " + model + " -o " + scene + " --force", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(RunQuadscene("info " + scene, dir)
                .out.find("texture folder: " + dir.File("city/nyc/") + " (2 images)\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir.File("city/nyc/002.tga")));  // the demo's older images are gone
}

TEST(SceneWriting, ImagesLikeASceneCopyOnlyItsOwnFilesOfTheSameTexels) {
  TempDir dir;
  ASSERT_EQ(RunQuadscene("demo " + dir.File("like"), dir).status, 0);
  const std::string like = dir.File("like/nyc.map");
  WriteFile(dir.File("like/nyc/000.tga"), OtherTga(0));  // run-length
  WriteFile(dir.File("elsewhere.tga"), OtherTga(0));
  fs::remove(dir.File("like/nyc/001.tga"));
  fs::create_symlink(dir.File("elsewhere.tga"), dir.File("like/nyc/001.tga"));
  // 002: image type 99, which reads as the stand-in texel, and a secret after its header.
  WriteFile(dir.File("like/nyc/002.tga"),
            std::string("\0\0\x63\0\0\0\0\0\0\0\0\0\x02\0\x02\0\x20\0secret", 24));
  // 003: 1024 x 512, whose texels come from the reader in two runs; its export is then
  // changed in its last texel, so that the texels of the first run, matched, are written
  // after all.
  std::vector<uint8_t> noise(1024 * 512 * 4);
  std::mt19937 bytes(3);
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>(bytes());
  WriteTga32(dir.File("like/nyc/003.tga"), 1024, 512, noise.data());
  fs::create_directories(dir.File("x"));
  const CommandResult exported =
      RunQuadscene("export " + like + " -o " + dir.File("x/s.json"), dir);
  ASSERT_EQ(exported.status, 0) << exported.err;
  std::vector<uint8_t> changed = noise;
  changed.back() ^= 1;  // upload row 511 is the PNG's first row: the rows flip
  ASSERT_NE(stbi_write_png(dir.File("x/s_003.png").c_str(), 1024, 512, 4,
                           changed.data() + 511 * 4096, -4096),
            0);
  const CommandResult run = RunQuadscene("import " + dir.File("x/s.json") + " -o " +
                                             dir.File("out/nyc.map") + " --images-like " + like,
                                         dir);
  ASSERT_EQ(run.status, 0) << run.err;

  const struct {
    int slot;
    bool copied;
  } cases[] = {{0, true}, {1, false}, {2, false}, {3, false}, {4, true}};
  const std::vector<std::vector<uint8_t>> before = UploadedTextures(like);
  const std::vector<std::vector<uint8_t>> after = UploadedTextures(dir.File("out/nyc.map"));
  for (const auto& c : cases) {
    const std::string out = TextureImagePath(dir.File("out/nyc/"), c.slot);
    EXPECT_EQ(ReadFile(out) == ReadFile(TextureImagePath(dir.File("like/nyc/"), c.slot)), c.copied)
        << c.slot;
    const size_t slot = static_cast<size_t>(c.slot);
    if (slot != 3) {
      EXPECT_EQ(after[slot], before[slot]) << slot;
    }
  }
  changed.push_back(0);  // the width's low byte, as UploadedTextures appends it
  EXPECT_EQ(after[3], changed);
}

}  // namespace
