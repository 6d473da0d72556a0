// The contained model reader as a user meets it: models that crash or hang Assimp end in one
// line and status 1 with nothing written and no core file; the reader runs under seccomp
// without new privileges or capabilities, and Ctrl+C or Ctrl+\ ends the import at once; a
// model, quadview's own exports included, reads only files in its own folder or one the user
// names, the file checked being the file opened; a FIFO among its companions never blocks the
// import; the import's own process parses nothing; names print escaped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <seccomp.h>
#include <signal.h>
#include <stb/stb_image_write.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "scene/scene_types.h"
#include "tests/command_runner.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::steady_clock;

// Models that crash or hang Assimp: known ones, and the smallest of each kind that
// fuzz/mutate_models.py found crashing Debian 12's Assimp. Another Assimp may fail them
// otherwise or read them: what holds on every one is a scene, or one line naming the file and
// nothing written, and never a crash, a hang or a core file of quadscene.
struct Hostile {
  const char* name;
  std::string bytes;
};
const Hostile kHostileModels[] = {
    {"crash.ply", std::string("ply\nformat binary_\0\0", 20)},
    {"loop.smd", "\nnodes\n "},
    {"keys.lws",  // motion keys that never end, each asking for the same object again
     "LWSC\n2\n\nRenderRangeType 0\nFirstFrame 1\nLastFrame 60\nFrameStep 1\n"
     "RenderRangeObjerameStep 1\nFramesPerSecond 30\n\nLoadObject simple_cube.lwo\n"
     "ShowObject 7 -1 0.376471 0.878431 0.941176\nGroup 0\nObjectMotion (unnamed)\n  9\n  3\n"
     "  0 0 2 0 0 0\n  2.06"},
    {"null.lws", std::string("\0WSC\n5\n\n", 8)},
    {"faces.off", "3 4.1.2.3\n0 3 4\n0..2.3\n.\n.\n0\n0\nF"},
    {"bitmap.cob",
     std::string("Caligari V00.01BLH             \nBitM\0\0\1\0(\0\0\0^\0\0\0^\0\0\0", 52)},
    {"indices.ogex",
     "e{e{string{}}j{ref}r{float[6]{{}}\n\t}\n}\n{\n\tMesh (ia)\n\t{\n\t\tVe (aib = "
     "\"position\")\n\t\t{\nfloat[3]\t\t//66\n{\n\t{-17, 22}\t}\n\t\t}\tIn\t{\n"
     "unsigned_int32[3]\t\t//20\n{\n\t{0,  3}, {2,}, 2}}\n}"},
    {"header.mdl", std::string("IDST\n\0\0\0../../compiled_models/blend_additive.mdl", 48) +
                       std::string(24, '\0') + std::string("\xc0\x0f\0\0", 4)},
};

TEST(ModelSandbox, CrashesAndHangsEndInOneLineWithNothingWritten) {
  TempDir dir;
  const std::string crashed = "the model reader crashed (SIG";
  const std::string crashedWhy = "): the file is damaged or not in a format Assimp reads\n";
  for (const Hostile& model : kHostileModels) {
    SCOPED_TRACE(model.name);
    const std::string path = dir.File(model.name);
    WriteFile(path, model.bytes);
    const CommandResult run =
        RunQuadscene("import " + path + " -o " + dir.File("out/nyc.map"), dir, "timeout 60 ");
    if (run.status == 0) {  // an Assimp that reads it after all: a scene, as for any model
      EXPECT_EQ(run.out.rfind(dir.File("out/nyc.map") + ": ", 0), 0u) << run.out;
      EXPECT_TRUE(fs::exists(dir.File("out/nyc.map")));
      fs::remove_all(dir.File("out"));
      continue;
    }
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.err.rfind(path + ": ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;  // one line
    const std::string message = run.err.substr(path.size() + 2);
    if (message.rfind(crashed, 0) == 0) {
      EXPECT_EQ(message.substr(message.find(")")), crashedWhy) << message;
    }
    EXPECT_FALSE(fs::exists(dir.File("out")));
  }
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().find("core"), std::string::npos) << entry.path();
  }
}

// The pid of a child of `parent`, or 0 when it has none (yet).
pid_t ChildOf(pid_t parent) {
  std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                         "/children");
  pid_t child = 0;
  return children >> child ? child : 0;
}

template <typename Condition>
bool PollUntil(Condition condition, std::chrono::seconds limit) {
  const auto deadline = steady_clock::now() + limit;
  while (!condition()) {
    if (steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void WritePng(const std::string& path, int side, uint8_t value) {
  const std::vector<uint8_t> rgba(static_cast<size_t>(side) * side * 4, value);
  ASSERT_NE(stbi_write_png(path.c_str(), side, side, 4, rgba.data(), side * 4), 0);
}

// The reader is caught at work whatever the Assimp: the import is stopped (SIGSTOP) as soon as
// its reader starts, and a 4096 x 4096 texture (64 MiB to send) then holds the reader in its
// decoding or its writing until the import goes on. Ctrl+C and Ctrl+\ then end an import over
// an older scene (--force) leaving that scene whole and no file of the run behind.
TEST(ModelSandbox, TheReaderRunsConfinedAndCtrlCOrQuitEndsTheImport) {
  TempDir dir;
  WritePng(dir.File("big.png"), 4096, 90);
  WriteFile(dir.File("model.mtl"), "newmtl big\nmap_Kd big.png\n");
  const std::string model = dir.File("model.obj");
  WriteFile(model, "mtllib model.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nusemtl big\nf 1 2 3\n");
  WriteFile(dir.File("small.obj"), "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n");
  const std::string out = dir.File("out/nyc.map");
  ASSERT_EQ(RunQuadscene("import " + dir.File("small.obj") + " -o " + out, dir).status, 0);
  const std::string oldScene = ReadFile(out), oldImage = ReadFile(dir.File("out/nyc/000.tga"));
  for (int signalNumber : {SIGINT, SIGQUIT}) {
    SCOPED_TRACE(signalNumber);
    const pid_t import = ::fork();
    if (import == 0) {
      const rlimit noCore{0, 0};
      ::setrlimit(RLIMIT_CORE, &noCore);
      ::execl(kQuadscene.c_str(), "quadscene", "import", model.c_str(), "-o", out.c_str(),
              "--force", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // A failed assertion must not leave the import stopped: it holds the test's output open.
    struct Reap {
      pid_t pid;
      ~Reap() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
      }
    } reap{import};
    pid_t reader = 0;
    ASSERT_TRUE(
        PollUntil([&] { return (reader = ChildOf(import)) != 0; }, std::chrono::seconds(20)));
    ::kill(import, SIGSTOP);
    std::string status;
    ASSERT_TRUE(PollUntil(
        [&] {
          status = ReadFile("/proc/" + std::to_string(reader) + "/status");
          return status.find("\nSeccomp:\t2\n") != std::string::npos;
        },
        std::chrono::seconds(20)))
        << status;
    EXPECT_NE(status.find("\nNoNewPrivs:\t1\n"), std::string::npos) << status;
    EXPECT_NE(status.find("\nCapPrm:\t0000000000000000\n"), std::string::npos) << status;
    EXPECT_NE(status.find("\nCapEff:\t0000000000000000\n"), std::string::npos) << status;
    // The bounding set can only be emptied with CAP_SETPCAP: as root, or in its own namespace
    // (which only root can see of a reader that is not dumpable).
    std::error_code unseen;
    const bool ownUser = fs::read_symlink("/proc/" + std::to_string(reader) + "/ns/user", unseen) !=
                             fs::read_symlink("/proc/self/ns/user") &&
                         !unseen;
    if (::geteuid() == 0 || ownUser) {
      EXPECT_NE(status.find("\nCapBnd:\t0000000000000000\n"), std::string::npos) << status;
    }
    ::kill(import, signalNumber);  // what Ctrl+C or Ctrl+\ sends it, acted on once it goes on
    ::kill(import, SIGCONT);
    int exitStatus = 0;
    ASSERT_TRUE(PollUntil([&] { return ::waitpid(import, &exitStatus, WNOHANG) == import; },
                          std::chrono::seconds(5)));
    reap.pid = 0;
    EXPECT_TRUE(WIFSIGNALED(exitStatus) && WTERMSIG(exitStatus) == signalNumber) << exitStatus;
    EXPECT_TRUE(PollUntil([&] { return ::kill(reader, 0) != 0; }, std::chrono::seconds(5)));
    EXPECT_EQ(ReadFile(out), oldScene);
    EXPECT_EQ(ReadFile(dir.File("out/nyc/000.tga")), oldImage);
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(dir.File("out"))) {
      left.push_back(entry.path().lexically_relative(dir.File("out")).string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"nyc", "nyc.map", "nyc/000.tga"}));
  }
}

// An asset pack's layout: Models/box.obj whose material takes ../Textures/brick.png.
TEST(ModelSandbox, AModelReadsOnlyInItsFolderOrOneTheUserNames) {
  TempDir dir;
  fs::create_directories(dir.File("pack/Models"));
  fs::create_directories(dir.File("pack/Textures"));
  WritePng(dir.File("pack/Textures/brick.png"), 2, 200);
  WriteFile(dir.File("pack/Models/box.mtl"), "newmtl brick\nmap_Kd ../Textures/brick.png\n");
  const std::string model = dir.File("pack/Models/box.obj");
  WriteFile(model, "mtllib box.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nusemtl brick\nf 1 2 3\n");
  const std::string textures = fs::canonical(dir.File("pack/Textures")).string() + "/";
  const std::string out = dir.File("out/nyc.map");
  CommandResult run = RunQuadscene("import " + model + " -o " + out, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, model + ": warning: material 'brick': its texture " +
                         dir.File("pack/Models/") +
                         "../Textures/brick.png lies outside the "
                         "model's folder; --textures-from " +
                         textures + " lets the import read it; its colour is used instead\n");
  EXPECT_EQ(RunQuadscene("texture " + dir.File("out/nyc/000.tga") + " -o /dev/null", dir).out,
            "1 1 accepted\n");
  run = RunQuadscene(
      "import " + model + " -o " + out + " --force --textures-from " + dir.File("pack/Textures"),
      dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(RunQuadscene("texture " + dir.File("out/nyc/000.tga") + " -o /dev/null", dir).out,
            "2 2 accepted\n");

  // Companions that are FIFOs: an OBJ's material library and a glTF's buffer.
  ASSERT_EQ(::mkfifo(dir.File("pack/Models/fifo.mtl").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.File("pack/Models/fifo.bin").c_str(), 0600), 0);
  WriteFile(model, "mtllib fifo.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n");
  run = RunQuadscene("import " + model + " -o " + out + " --force", dir, "timeout 60 ");
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string gltf = dir.File("pack/Models/fifo.gltf");
  WriteFile(gltf, R"({"asset":{"version":"2.0"},"buffers":[{"uri":"fifo.bin","byteLength":36}],)"
                  R"("bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView":0,)"
                  R"("componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}],)"
                  R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],)"
                  R"("nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0})");
  run = RunQuadscene("import " + gltf + " -o " + out + " --force", dir, "timeout 60 ");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind(gltf + ": Assimp cannot read it: ", 0), 0u) << run.err;
}

}  // namespace

// Images cost one image of memory at a time: sixteen entries of an own export naming one
// 2048 x 2048 PNG (16 MiB each when decoded), and a material naming a 3 GB file that is no
// image, import under an address-space limit that holds neither all of them nor the file.
TEST(ModelSandbox, ImagesAreReadHeaderFirstAndHeldOneAtATime) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space";
#endif
  TempDir dir;
  const std::string limit = "prlimit --as=" + std::to_string(200 << 20) + " ";
  WritePng(dir.File("big.png"), 2048, 90);
  std::string images = "[", entries = "[";
  for (int i = 0; i < 16; ++i) {
    images += std::string(i > 0 ? "," : "") + R"({"uri":"big.png"})";
    entries += std::string(i > 0 ? "," : "") + R"({"slot":)" + std::to_string(i) + R"(,"image":)" +
               std::to_string(i) + "}";
  }
  WriteFile(dir.File("many.gltf"),
            R"({"asset":{"version":"2.0"},"images":)" + images + R"(],"extras":{"quadview":)" +
                R"({"version":1,"recordCount":0,"images":)" + entries + "]}}}");
  CommandResult run = RunQuadscene(
      "import " + dir.File("many.gltf") + " -o " + dir.File("many/nyc.map"), dir, limit);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("16 textures"), std::string::npos) << run.out;

  { std::ofstream(dir.File("huge.png")); }
  fs::resize_file(dir.File("huge.png"), uint64_t(3) << 30);
  WriteFile(dir.File("huge.mtl"), "newmtl huge\nmap_Kd huge.png\n");
  WriteFile(dir.File("huge.obj"),
            "mtllib huge.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nusemtl huge\nf 1 2 3\n");
  run = RunQuadscene("import " + dir.File("huge.obj") + " -o " + dir.File("huge/nyc.map"), dir,
                     limit);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, dir.File("huge.obj") +
                         ": warning: material 'huge': unknown image type; its colour is used "
                         "instead\n");
}

namespace {

// quadview's own exports are read by the same rule as any model: an image outside the folder
// draws untextured with a warning, a buffer outside ends the import, and nothing of either
// reaches the scene.
TEST(ModelSandbox, OwnExportsReadOnlyInTheModelsFolder) {
  TempDir dir;
  fs::create_directories(dir.File("secret"));
  fs::create_directories(dir.File("model"));
  WritePng(dir.File("secret/private.png"), 3, 7);
  WriteFile(dir.File("secret/key.bin"), std::string(sizeof(QuadRecord), 'k'));
  const std::string refused = " lies outside the model's folder; --textures-from " +
                              fs::canonical(dir.File("secret")).string() +
                              "/ lets the import read it";
  const std::string obj = dir.File("model/own.obj");
  const std::pair<std::string, std::string> images[] = {
      {"../secret/private.png", dir.File("model/../secret/private.png") + refused},
      {dir.File("secret/private.png"), dir.File("secret/private.png") + refused},
  };
  CommandResult run;
  for (const auto& [name, why] : images) {
    WriteFile(obj, "# quadview export 1\n# quadview image 0 " + name + "\n# quadview end 0\n");
    run = RunQuadscene("import " + obj + " -o " + dir.File("obj/nyc.map") + " --force", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, obj + ": warning: image 0: " + why + "; its slot draws untextured\n");
    EXPECT_EQ(ReadFile(dir.File("obj/nyc/000.tga")).find(std::string(3 * 3 * 4, '\7')),
              std::string::npos);
  }
  // A model named through a link is read where the link leads.
  fs::create_directories(dir.File("linked"));
  fs::create_symlink("../model/own.obj", dir.File("linked/own.obj"));
  EXPECT_EQ(
      RunQuadscene("import " + dir.File("linked/own.obj") + " -o " + dir.File("linked-out/nyc.map"),
                   dir)
          .status,
      0);

  const std::string gltf = dir.File("model/own.gltf");
  WriteFile(gltf,
            R"({"asset":{"version":"2.0"},"buffers":[{"uri":"../secret/key.bin",)"
            R"("byteLength":86}],"bufferViews":[{"buffer":0,"byteLength":86}],)"
            R"("extras":{"quadview":{"version":1,"recordCount":1,"records":0,"images":[]}}})");
  run = RunQuadscene("import " + gltf + " -o " + dir.File("gltf/nyc.map"), dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, gltf + ": Cannot read quadview export " + gltf + ": its buffer " +
                         dir.File("model/../secret/key.bin") + refused + "\n");
  EXPECT_FALSE(fs::exists(dir.File("gltf")));
}

// The import's own process parses nothing of a model: a 20 MB own export whose JSON is ten
// million numbers leaves its peak memory (VmHWM, read as it exits) under 64 MiB; the reader's
// process takes the rest, within its own limit.
TEST(ModelSandbox, AnOwnExportIsParsedOutsideTheImportsProcess) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory counts as resident";
#endif
  TempDir dir;
  std::string numbers = "[0";
  while (numbers.size() < (size_t(20) << 20)) numbers += ",0";
  const std::string gltf = dir.File("big.gltf");
  WriteFile(gltf, R"({"asset":{"version":"2.0"},"extras":{"quadview":{"version":1,)"
                  R"("recordCount":0,"images":[],"pad":)" +
                      numbers + "]}}}");
  const std::string out = dir.File("out/nyc.map");
  const pid_t import = ::fork();
  if (import == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    ::execl(kQuadscene.c_str(), "quadscene", "import", gltf.c_str(), "-o", out.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(import, &status, 0), import);  // stopped at its exec
  ASSERT_EQ(::ptrace(PTRACE_SETOPTIONS, import, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL),
            0);
  long peakKib = -1;
  for (int signalNumber = 0;; signalNumber = 0) {
    ASSERT_EQ(::ptrace(PTRACE_CONT, import, nullptr, signalNumber), 0);
    ASSERT_EQ(::waitpid(import, &status, 0), import);
    if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      const std::string proc = ReadFile("/proc/" + std::to_string(import) + "/status");
      peakKib = std::stol(proc.substr(proc.find("VmHWM:") + 6));
    } else {
      signalNumber = WSTOPSIG(status);  // handed on
    }
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_GT(peakKib, 0);
  EXPECT_LT(peakKib, 64 << 10);
}

// A texture swapped for a link to a file outside, again and again while models are read,
// never brings that file in: what was checked is what is opened.
TEST(ModelSandbox, ALinkSwappedInDuringReadingBringsNothingFromOutside) {
  TempDir dir;
  fs::create_directories(dir.File("model"));
  WritePng(dir.File("secret.png"), 3, 7);
  WritePng(dir.File("model/real.png"), 2, 200);
  WriteFile(dir.File("model/box.mtl"), "newmtl tex\nmap_Kd tex.png\n");
  const std::string model = dir.File("model/box.obj");
  WriteFile(model, "mtllib box.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nusemtl tex\nf 1 2 3\n");
  const std::string texture = dir.File("model/tex.png"), swap = dir.File("model/swap");
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done) {
      if (::symlink("../secret.png", swap.c_str()) == 0) ::rename(swap.c_str(), texture.c_str());
      if (::link(dir.File("model/real.png").c_str(), swap.c_str()) == 0) {
        ::rename(swap.c_str(), texture.c_str());
      }
    }
  });
  constexpr int kRuns = 30;
  for (int run = 0; run < kRuns; ++run) {
    const CommandResult import =
        RunQuadscene("import " + model + " -o " + dir.File("out/nyc.map") + " --force", dir);
    EXPECT_EQ(import.status, 0) << import.err;
    EXPECT_NE(RunQuadscene("texture " + dir.File("out/nyc/000.tga") + " -o /dev/null", dir).out,
              "3 3 accepted\n");
  }
  done = true;
  swapper.join();
}

// What a model's folder holds on disk sets the reader's limits, never what its files claim to
// be: beside a 1 TiB sparse file they are those of an empty folder.
TEST(ModelSandbox, ASparseTerabyteBesideTheModelRaisesNoLimit) {
  TempDir dir;
  WriteFile(dir.File("small.obj"), "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n");
  { std::ofstream(dir.File("sparse.bin")); }
  fs::resize_file(dir.File("sparse.bin"), uint64_t(1) << 40);
  const CommandResult run = RunQuadscene(
      "import " + dir.File("small.obj") + " -o " + dir.File("out/nyc.map") + " --verbose", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("model reader: address space 768 MiB above its start, 10 s of CPU time, "
                          "30 s in all; ",
                          0),
            0u)
      << run.out;
}

// Names from a model reach the terminal with their control characters shown, not obeyed.
TEST(ModelSandbox, NamesFromTheModelPrintEscaped) {
  TempDir dir;
  fs::create_directories(dir.File("m"));
  WritePng(dir.File("outside.png"), 2, 9);
  WriteFile(dir.File("m/evil.mtl"),
            "newmtl evil\x1b]0;owned\x07\xc2\x9b\x32J\x7f\nmap_Kd ../outside.png\n");
  const std::string model = dir.File("m/evil.obj");
  WriteFile(model,
            "mtllib evil.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nusemtl "
            "evil\x1b]0;owned\x07\xc2\x9b\x32J\x7f\nf 1 2 3\n");
  const CommandResult run = RunQuadscene("import " + model + " -o " + dir.File("out/nyc.map"), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, model +
                         R"(: warning: material 'evil\x1b]0;owned\x07\u009b2J\x7f': its texture )" +
                         dir.File("m/") +
                         "../outside.png lies outside the model's folder; "
                         "--textures-from " +
                         fs::canonical(dir.path()).string() +
                         "/ lets the import read it; its colour is used instead\n");
}

// A reader that cannot close the descriptors it inherited reads nothing: here quadscene
// inherits descriptor 100, and a filter of the test's own makes close_range fail and every
// close from 100 on.
TEST(ModelSandbox, AReaderThatCannotCloseWhatItInheritedReadsNothing) {
  TempDir dir;
  const std::string model = dir.File("small.obj");
  WriteFile(model, "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n");
  const std::string err = dir.File("err.txt");
  constexpr int kInherited = 100;
  const pid_t import = ::fork();
  if (import == 0) {
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (::dup2(errFd, STDERR_FILENO) < 0 || ::dup2(errFd, kInherited) < 0) ::_exit(125);
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(close_range), 0);
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(close), 1,
                     SCMP_A0(SCMP_CMP_GE, kInherited));
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(filter) != 0) ::_exit(126);
    ::execl(kQuadscene.c_str(), "quadscene", "import", model.c_str(), "-o",
            dir.File("out/nyc.map").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(import, &status, 0), import);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(ReadFile(err), model +
                               ": cannot contain the model reader: cannot close the descriptors "
                               "it inherited: Operation not permitted\n");
  EXPECT_FALSE(fs::exists(dir.File("out/nyc.map")));
}

}  // namespace
