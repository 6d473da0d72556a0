// Writes that fail or are refused keep the user's files whole: a scene is replaced by import
// --force or demo --force completely or not at all, a re-export keeps the old export whole
// when it fails, an existing scene is not overwritten without --force, and export never
// writes onto the scene it reads.
#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

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

}  // namespace
