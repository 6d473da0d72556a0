// The quadscene command line: exit statuses, output formats and messages of demo, dump, info
// and texture, run as a user would run them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scene/quad_list.h"
#include "scene/tga_writer.h"
#include "tests/command_runner.h"
#include "tests/test_files.h"

namespace {

// quadscene through the shell: `prefix` runs before it.
CommandResult Quadscene(const std::string& args, const TempDir& dir,
                        const std::string& prefix = "") {
  return RunQuadscene(args, dir, prefix);
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
  EXPECT_EQ(run.out, "1 7 1 1 0.25 0.75 1.5 -2 -3 1 0 inf 1 -1 0.100000001 1 2 2 -2 0 1 3 3 -3\n");
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
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("records: 2\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("bounds (file coordinates): x -1 .. 1, y 0 .. 2, z -4 .. 5\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("texture folder: " + dir.File("nyc/") + " (1 image)\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("texture slots used: 0, 2\n"), std::string::npos);
  EXPECT_NE(run.out.find("texture slots without an image: 2\n"), std::string::npos);
  EXPECT_NE(run.out.find("blend 0: 1 quad (opaque)\nblend 1: 1 quad (alpha-blended)\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("load: "), std::string::npos);
}

// Every command that reads a scene names the missing scene, not its first texture.
TEST(QuadsceneInfo, MissingFileFailsWithTheOpenMessage) {
  TempDir dir;
  const std::string path = dir.File("none.map");
  for (const std::string& command :
       {"info " + path, "check " + path, "dump " + path, "render " + path + " -o x.png",
        "export " + path + " -o x.glb", "pick " + path + " 1 1"}) {
    const CommandResult run = Quadscene(command, dir);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.out, "") << command;
    EXPECT_EQ(run.err, path + ": Cannot open file " + path + "\n") << command;
  }
}

TEST(QuadsceneTexture, PrintsSizeAndResultAndWritesTheUploadImage) {
  TempDir dir;
  const std::string tga = dir.File("t.tga");
  const uint8_t texels[] = {0x1e, 0x14, 0x0a, 0x28, 0x46, 0x3c, 0x32, 0x50};
  const std::vector<uint8_t> encoded = EncodeTga32(2, 1, texels);
  std::string bytes(encoded.begin(), encoded.end());
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

// info takes the images as the viewer's texture set will: what it cannot decode, what GL will
// not take, and a failure that ends the viewer's load.
TEST(QuadsceneInfo, ChecksEachImageAsTheViewerWillTakeIt) {
  TempDir dir;
  const std::string path = dir.File("nyc.map");
  WriteFile(path, "3 0\r\nCW\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n");
  ::mkdir(dir.File("nyc").c_str(), 0755);
  const std::string wide(65535 * 4, '\x7f');
  const std::vector<uint8_t> pixel = {1, 2, 3, 4};
  const std::vector<uint8_t> tga = EncodeTga32(1, 1, pixel.data());
  WriteFile(dir.File("nyc/000.tga"), std::string(tga.begin(), tga.end()));
  std::vector<uint8_t> wideTga =
      EncodeTga32(65535, 1, reinterpret_cast<const uint8_t*>(wide.data()));
  WriteFile(dir.File("nyc/001.tga"), std::string(wideTga.begin(), wideTga.end()));
  const std::vector<uint8_t> pair = EncodeTga32(2, 1, wideTga.data());
  std::string grey24(pair.begin(), pair.end());
  grey24[2] = 3;
  grey24[16] = 24;
  WriteFile(dir.File("nyc/002.tga"), grey24);
  CommandResult run = Quadscene("info " + path, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("texture folder: " + dir.File("nyc/") + " (3 images)\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("image " + dir.File("nyc/001.tga") +
                         ": 65535 x 1 is larger than the maximum texture size "),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("image " + dir.File("nyc/002.tga") +
                         ": image type 3 with depth 24 is not a kind the reader decodes; it "
                         "draws as one transparent black texel\n"),
            std::string::npos)
      << run.out;
  // A FIFO or a folder is not an image; as 000.tga it fails the load, as the viewer's would.
  ::unlink(dir.File("nyc/000.tga").c_str());
  ::mkfifo(dir.File("nyc/000.tga").c_str(), 0600);
  run = Quadscene("info " + path, dir, "timeout 20 ");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            dir.File("nyc/000.tga") + ": Cannot open file " + dir.File("nyc/000.tga") + "\n");
  // A scene named ".map" has its images in its own folder, never in the root.
  WriteFile(dir.File(".map"), "");
  WriteFile(dir.File("000.tga"), std::string(tga.begin(), tga.end()));
  run = Quadscene("info .map", dir, "cd " + dir.path() + " && ");
  EXPECT_NE(run.out.find("texture folder: ./ (1 image)"), std::string::npos) << run.err;
}

// A failed write is reported and leaves no partial file at the path named.
TEST(QuadsceneWrites, FailuresAreReportedAndNeverLeaveAPartialFile) {
  TempDir dir;
  ASSERT_EQ(Quadscene("demo " + dir.path(), dir).status, 0);
  const std::string scene = dir.File("nyc.map");
  const std::string picture = dir.File("out.png");
  WriteFile(picture, "previous");
  struct Case {
    std::string args, prefix, error;
  };
  const std::string fileTooLarge = "Cannot write file " + picture + ": File too large\n";
  const Case cases[] = {
      {"render " + scene + " -o /dev/full", "",
       "Cannot write file /dev/full: No space left on device\n"},
      {"texture " + dir.File("nyc/000.tga") + " -o /dev/full", "",
       "Cannot write file /dev/full: No space left on device\n"},
      {"dump " + scene + " >/dev/full", "",
       "Cannot write file standard output: No space left on device\n"},
      {"info " + scene + " >/dev/full", "",
       "Cannot write file standard output: No space left on device\n"},
      {"render " + scene + " -o " + picture, "prlimit --fsize=20000 ", fileTooLarge},
      {"demo " + dir.File("d"), "prlimit --fsize=10000 ",
       "Cannot write file " + dir.File("d/nyc/000.tga") + ": File too large\n"},
      // A companion that cannot be written takes the ones written before it away again.
      {"export " + scene + " -o " + dir.File("g/x.gltf"),
       "mkdir -p " + dir.File("g/x_003.png") + "; ",
       "Cannot write file " + dir.File("g/x_003.png") + ": Is a directory\n"},
      {"export " + scene + " -o " + dir.File("o/x.obj"), "mkdir -p " + dir.File("o/x.mtl") + "; ",
       "Cannot write file " + dir.File("o/x.mtl") + ": Is a directory\n"},
      // A folder that is not there is named by the file the user gave, not by a companion.
      {"export " + scene + " -o " + dir.File("none/x.obj"), "",
       "Cannot write file " + dir.File("none/x.obj") + ": No such file or directory\n"},
      {"export " + scene + " -o " + dir.File("none/x.gltf"), "",
       "Cannot write file " + dir.File("none/x.gltf") + ": No such file or directory\n"},
  };
  for (const Case& c : cases) {
    const CommandResult run = Quadscene(c.args, dir, c.prefix);
    EXPECT_EQ(run.status, 1) << c.args;
    EXPECT_EQ(run.err, c.error) << c.args;
  }
  EXPECT_EQ(ReadFile(picture), "previous");
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("d/nyc/001.tga")));  // demo stopped at once
  for (const char* folder : {"g", "o"}) {
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File(folder)), {}), 1)
        << folder;
  }
}

// Ctrl+C during a write removes the temporary file, and the signal still ends the program.
TEST(QuadsceneWrites, InterruptedWriteLeavesNoTemporaryFile) {
  TempDir dir;
  // 512 MiB of texels from a file of 19 bytes: the write lasts long enough to be caught.
  std::vector<uint8_t> tga = EncodeTga32(0, 0, nullptr);
  tga[12] = 0x00, tga[13] = 0x40, tga[14] = 0x00, tga[15] = 0x20;  // 16384 x 8192
  tga.push_back(0);
  WriteFile(dir.File("big.tga"), std::string(tga.begin(), tga.end()));
  const std::string script = "cd " + dir.path() + " && { " + kQuadscene +
                             " texture big.tga -o out.rgba >/dev/null & } && pid=$! && "
                             "until ls -A | grep -q '^\\.out'; do sleep 0.01; done; "
                             "kill -INT $pid; wait $pid";
  const int status = std::system(script.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.rgba")));
}

// Hostile files cost bounded memory: each command runs under an address-space limit far
// below what the old reader needed for the same file.
TEST(QuadsceneMemory, HostileFilesStayWithinAnAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space";
#endif
  TempDir dir;
  const std::string limit = "prlimit --as=" + std::to_string(200 << 20) + " ";
  // One 50 MB line of tokens: a header that never ends.
  {
    std::ofstream out(dir.File("long.map"), std::ios::binary);
    out << "1 2";
    const std::string block(1 << 20, ' ');
    for (int i = 0; i < 50; ++i) out << block;
  }
  CommandResult run = Quadscene("info " + dir.File("long.map"), dir, limit);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(dir.File("long.map") + ":3: '' is not a valid floating point value\n"),
            std::string::npos)
      << run.err;
  // 1 GB of NUL bytes in a sparse file: one line, whose text ends at once.
  { std::ofstream(dir.File("sparse.map")); }
  std::filesystem::resize_file(dir.File("sparse.map"), uint64_t(1) << 30);
  run = Quadscene("dump " + dir.File("sparse.map"), dir, limit);
  EXPECT_EQ(run.err, "indexed failed at 1, text is: \n" + dir.File("sparse.map") +
                         ":1: '' is not a valid integer value\n");
  // A 64 x 64 image followed by a 2 GB sparse tail reads only its own bytes.
  std::vector<uint8_t> texels(64 * 64 * 4, 9);
  const std::vector<uint8_t> image = EncodeTga32(64, 64, texels.data());
  WriteFile(dir.File("tail.tga"), std::string(image.begin(), image.end()));
  std::filesystem::resize_file(dir.File("tail.tga"), uint64_t(2) << 30);
  run = Quadscene("texture " + dir.File("tail.tga") + " -o " + dir.File("tail.rgba"), dir, limit);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "64 64 accepted\n");
  EXPECT_EQ(ReadFile(dir.File("tail.rgba")), std::string(texels.begin(), texels.end()));
  // Out of memory: the records read before it are kept and the message names the file.
  {
    std::ofstream out(dir.File("many.map"), std::ios::binary);
    for (int i = 0; i < 1500000; ++i)
      out << "0 1\nCW\n0 0 0 0 0\n0 0 0 0 0\n0 0 0 0 0\n0 0 0 0 0\n";
  }
  run = Quadscene("info " + dir.File("many.map"), dir,
                  "prlimit --as=" + std::to_string(100 << 20) + " ");
  const std::string many = dir.File("many.map");
  EXPECT_EQ(run.status, 1);
  ASSERT_EQ(run.err.find(many + ":"), 0u) << run.err;
  const std::string firstError = run.err.substr(0, run.err.find('\n') + 1);
  EXPECT_NE(firstError.find(": Not enough memory reading " + many + "\n"), std::string::npos)
      << run.err;
  const int failedLine = std::stoi(run.err.substr(many.size() + 1));
  EXPECT_NE(run.out.find("records: " + std::to_string((failedLine - 1) / 6) + "\n"),
            std::string::npos)
      << run.out << run.err;
}

TEST(QuadsceneUsage, BadUsageExitsWithTwoAndHelpWithZero) {
  TempDir dir;
  EXPECT_EQ(Quadscene("", dir).status, 2);
  EXPECT_EQ(Quadscene("dump", dir).status, 2);
  EXPECT_EQ(Quadscene("demo " + dir.File("d") + " --quads -5", dir).status, 2);
  const CommandResult unknown = Quadscene("frob", dir);
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err,
            "quadscene: unknown command 'frob'\nRun with --help for more information.\n");
  // Numbers are checked against their range; the message names the option and the range.
  const std::pair<std::string, std::string> numbers[] = {
      {"--size 4294967306x10", "--size: expected WxH, each side a whole number from 1 to 16384"},
      {"--size 0x5", "--size: expected WxH, each side a whole number from 1 to 16384"},
      {"--frames 0", "--frames: expected a whole number from 1 to 1000000"},
      {"--distance 1e400", "--distance: expected a number between -3.4e38 and 3.4e38"},
      {"--pan 1 nan", "--pan: expected a number between -3.4e38 and 3.4e38"},
  };
  for (const auto& [option, message] : numbers) {
    const CommandResult run = Quadscene("render x.map -o x.png " + option, dir);
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), message) << option;
  }
  // Help in plain words that fits the man page's 80 columns: no parser types, counts or
  // defaults, lines of at most 72 characters.
  for (const char* command : {"", "demo", "dump", "info", "texture", "render", "export", "import",
                              "pick", "check", "diff"}) {
    const CommandResult run = Quadscene(std::string(command) + " --help", dir);
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_NE(run.out.find("Usage"), std::string::npos) << command;
    for (const char* artifact : {"TEXT", "REQUIRED", " x 2", "FLOAT:", ":DIR", "=auto"}) {
      EXPECT_EQ(run.out.find(artifact), std::string::npos) << command << ": " << artifact;
    }
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 72u) << line;
  }
  const CommandResult version = Quadscene("--version", dir);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("quadscene ", 0), 0u) << version.out;
}

}  // namespace
