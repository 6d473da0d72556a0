// The quadscene command line: exit statuses, output formats and messages of demo, dump, info
// and texture, run as a user would run them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "scene/quad_list.h"
#include "tests/test_files.h"

namespace {

const std::string kQuadscene = QUADVIEW_BINARY_DIR "/tools/quadscene";

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs quadscene with `args` (already quoted for the shell), capturing both streams.
CommandResult Quadscene(const std::string& args, const TempDir& dir) {
  const std::string errFile = dir.File("stderr.txt");
  const std::string command = kQuadscene + " " + args + " 2>" + errFile;
  CommandResult run;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> chunk{};
  size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
    run.out.append(chunk.data(), got);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadFile(errFile);
  return run;
}

TEST(QuadsceneDemo, IsDeterministicAndHasTheRequestedQuadCount) {
  TempDir dir;
  ASSERT_EQ(Quadscene("demo " + dir.File("a") + " --quads 1234", dir).status, 0);
  ASSERT_EQ(Quadscene("demo " + dir.File("b") + " --quads 1234", dir).status, 0);
  const std::string a = ReadFile(dir.File("a/nyc.map"));
  EXPECT_EQ(a, ReadFile(dir.File("b/nyc.map")));
  EXPECT_EQ(ReadFile(dir.File("a/nyc/005.tga")), ReadFile(dir.File("b/nyc/005.tga")));
  EXPECT_NE(a.find("\r\n"), std::string::npos);
  QuadTable table;
  NoProgress progress;
  ReadQuadList(dir.File("a/nyc.map"), table, progress);
  EXPECT_EQ(table.count, 1234);
  int blended = 0;
  for (int32_t i = 0; i < table.count; ++i) {
    const QuadRecord& q = table.records[static_cast<size_t>(i)];
    EXPECT_GE(+q.textureIndex, 0);
    EXPECT_LT(+q.textureIndex, 8);
    blended += q.blend == 1;
  }
  EXPECT_GT(blended, 0);
}

TEST(QuadsceneDump, PrintsEveryRecordThenTheErrorWithFileAndLine) {
  TempDir dir;
  const std::string path = dir.File("nyc.map");
  WriteFile(path,
            "10 1\r\nCCW\r\n0.25 0.75 1.5 -2 3\r\n1 0 1E39 1 1\r\n0.1 1 2 2 2\r\n0 1 3 3 3\r\n"
            "4 0\r\nCW\r\n1 2 3 4 x\r\n");
  const CommandResult run = Quadscene("dump " + path, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "0 7 1 1 0.25 0.75 1.5 -2 -3 1 0 inf 1 -1 0.100000001 1 2 2 -2 0 1 3 3 -3\n");
  EXPECT_EQ(run.err, path + ":9: 'x' is not a valid floating point value\n");
}

TEST(QuadsceneInfo, SummarisesRecordsTexturesAndBlendModes) {
  TempDir dir;
  const std::string path = dir.File("nyc.map");
  WriteFile(path,
            "3 1\r\nCW\r\n0 0 -1 0 5\r\n0 0 1 0 5\r\n0 0 1 2 5\r\n0 0 -1 2 -4\r\n"
            "5 0\r\nCW\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n");
  ::mkdir(dir.File("nyc").c_str(), 0755);
  WriteFile(dir.File("nyc/000.tga"), std::string(18, '\0'));
  const CommandResult run = Quadscene("info " + path, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("records: 2\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("bounds (file coordinates): x -1 .. 1, y 0 .. 2, z -4 .. 5\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("texture folder: " + dir.File("nyc/") + " (1 images)\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("texture slots used: 0, 2\n"), std::string::npos);
  EXPECT_NE(run.out.find("texture slots without an image: 2\n"), std::string::npos);
  EXPECT_NE(run.out.find("blend 0: 1 quads (opaque)\nblend 1: 1 quads (alpha-blended)\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("load: "), std::string::npos);
}

TEST(QuadsceneInfo, MissingFileFailsWithTheOpenMessage) {
  TempDir dir;
  const std::string path = dir.File("none.map");
  const CommandResult run = Quadscene("info " + path, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, path + ": Cannot open file " + path + "\n");
}

TEST(QuadsceneTexture, PrintsSizeAndResultAndWritesTheUploadImage) {
  TempDir dir;
  const std::string tga = dir.File("t.tga");
  std::string bytes = Tga32Header(2, 1);
  bytes += std::string("\x0a\x14\x1e\x28\x32\x3c\x46\x50", 8);
  WriteFile(tga, bytes);
  CommandResult run = Quadscene("texture " + tga + " -o " + dir.File("t.rgba"), dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "2 1 accepted\n");
  EXPECT_EQ(ReadFile(dir.File("t.rgba")), std::string("\x1e\x14\x0a\x28\x46\x3c\x32\x50", 8));
  run = Quadscene("texture " + tga + " -o " + dir.File("t.png"), dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir.File("t.png")).substr(1, 3), "PNG");
  bytes[2] = 10;
  WriteFile(tga, bytes);
  EXPECT_EQ(Quadscene("texture " + tga + " -o " + dir.File("t.rgba"), dir).out, "2 1 rejected\n");
  run = Quadscene("texture " + dir.File("none.tga") + " -o " + dir.File("x.rgba"), dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, dir.File("none.tga") + ": Cannot open file " + dir.File("none.tga") + "\n");
}

TEST(QuadsceneUsage, BadUsageExitsWithTwoAndHelpWithZero) {
  TempDir dir;
  EXPECT_EQ(Quadscene("", dir).status, 2);
  EXPECT_EQ(Quadscene("dump", dir).status, 2);
  EXPECT_EQ(Quadscene("demo " + dir.File("d") + " --quads -5", dir).status, 2);
  EXPECT_EQ(Quadscene("nonsense", dir).status, 2);
  for (const char* command :
       {"--help", "demo --help", "dump --help", "info --help", "texture --help", "render --help"}) {
    const CommandResult run = Quadscene(command, dir);
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_NE(run.out.find("Usage"), std::string::npos) << command;
  }
}

}  // namespace
