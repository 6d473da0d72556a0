// The fixture of the viewer window tests: a private Xvfb server per test, optionally openbox
// on it, the real quadview program, and helpers to write scenes, find the viewer's windows,
// read its title and pixels and drive the pointer. Scenes are two quads side by side, red on
// the left, green on the right.
#pragma once

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "scene/tga_writer.h"
#include "tests/test_files.h"
#include "tests/x_test_harness.h"

namespace viewer_test {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
// Layout width/height minus the panel's: the margins that do not grow on resize.
constexpr int kPanelWidthMargin = 548 - kPanelWidth;
constexpr int kPanelHeightMargin = 358 - kPanelHeight;

const milliseconds kWindowTimeout(15000);
const milliseconds kTitleTimeout(15000);
const milliseconds kExitTimeout(20000);

inline std::string ViewerBinary() {
  return std::string(QUADVIEW_BINARY_DIR) + "/app/quadview";
}

// An uncompressed 32-bit TGA through the program's own writer, opaque.
inline void WriteTga(const fs::path& path, const std::vector<Rgb>& pixels, int width, int height) {
  std::vector<uint8_t> rgba;
  for (const Rgb& p : pixels) {
    rgba.insert(rgba.end(), {static_cast<uint8_t>(p.r), static_cast<uint8_t>(p.g),
                             static_cast<uint8_t>(p.b), 0xff});
  }
  WriteTga32(path.string(), width, height, rgba.data());
}

// One quad in the plane z = 0 from (x0, y0) to (x1, y1), every corner sampling texel `u`.
inline std::string QuadText(double u, double x0, double y0, double x1, double y1) {
  char text[512];
  std::snprintf(text, sizeof text,
                "0 0\r\nCW\r\n%g 0.5 %g %g 0\r\n%g 0.5 %g %g 0\r\n%g 0.5 %g %g 0\r\n"
                "%g 0.5 %g %g 0\r\n",
                u, x0, y0, u, x1, y0, u, x1, y1, u, x0, y1);
  return text;
}

// Red texel 0 and green texel 1: the left quad samples red, the right one green.
inline std::string TwoQuadScene() {
  return QuadText(0.25, -1, -0.5, 0, 0.5) + QuadText(0.75, 0, -0.5, 1, 0.5);
}

struct Camera {
  double panX = 0.01;
  double panY = 0.0;
  double distance = -2.48;
  double tilt = 0.0;
};

// Where the scene point (x, y, 0) lands in the panel, in pixels from its top-left corner:
// the mirrored, half-turned scene seen through a 45-degree perspective (spin 0).
inline void ProjectToPanel(const Camera& camera, double x, double y, int width, int height,
                           double& px, double& py) {
  const double pi = std::acos(-1.0);
  // After the half turn, the translation and the mirror: (x - panX, y + panY, distance).
  const double ex = x - camera.panX;
  const double ey0 = y + camera.panY;
  const double ez0 = camera.distance;
  const double angle = -camera.tilt * pi / 180.0;
  const double ey = ey0 * std::cos(angle) - ez0 * std::sin(angle);
  const double ez = ey0 * std::sin(angle) + ez0 * std::cos(angle);
  const double halfHeight = -ez * std::tan(22.5 * pi / 180.0);
  const double aspect = static_cast<double>(width) / height;
  px = (ex / (halfHeight * aspect) + 1.0) / 2.0 * width;
  py = (1.0 - ey / halfHeight) / 2.0 * height;
}

inline bool IsRed(const Rgb& p) {
  return p.r > 200 && p.g < 50 && p.b < 50;
}
inline bool IsGreen(const Rgb& p) {
  return p.g > 200 && p.r < 50 && p.b < 50;
}
inline bool IsBlack(const Rgb& p) {
  return p.r < 30 && p.g < 30 && p.b < 30;
}

// "OpenGL - N FPS | <values>" with exactly these values and, with `needFrames`, N > 0 (with
// `noFrames`, N == 0).
inline bool TickedTitle(const std::string& title, const std::string& values, bool needFrames,
                        bool noFrames = false) {
  const std::string prefix = "OpenGL - ";
  const std::string middle = " FPS | ";
  if (title.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string::size_type middleAt = title.find(middle, prefix.size());
  if (middleAt == std::string::npos || middleAt == prefix.size()) return false;
  const std::string count = title.substr(prefix.size(), middleAt - prefix.size());
  if (count.find_first_not_of("0123456789") != std::string::npos) return false;
  if (title.substr(middleAt + middle.size()) != values) return false;
  if (noFrames) return std::stol(count) == 0;
  return !needFrames || std::stol(count) > 0;
}

inline bool IsBoxTitle(const std::string& title) {
  return title == "quadview";
}

// GetParam(): whether the openbox window manager runs on the server.
class ViewerWindow : public ::testing::TestWithParam<bool> {
 protected:
  // openbox <application> rules for the window manager of this fixture.
  virtual std::string WindowManagerRules() const { return ""; }

  void SetUp() override {
    server_ = std::make_unique<XvfbServer>(kScreenWidth, kScreenHeight);
    ASSERT_FALSE(server_->DisplayName().empty()) << "Xvfb did not start";
    if (GetParam()) {
      windowManager_ = std::make_unique<WindowManager>(server_->DisplayName(), dir_.path(),
                                                       WindowManagerRules());
      ASSERT_TRUE(windowManager_->Running()) << "openbox did not start";
    }
    client_ = std::make_unique<XClient>(server_->DisplayName(), GetParam());
    ASSERT_TRUE(client_->Connected());
  }

  void TearDown() override {
    viewer_.reset();
    client_.reset();
    windowManager_.reset();
    server_.reset();
  }

  fs::path WriteScene(const std::string& name, const std::string& quads, bool withTextures) {
    const fs::path map = fs::path(dir_.path()) / (name + ".map");
    WriteFile(map.string(), quads);
    if (withTextures) {
      fs::create_directories(fs::path(dir_.path()) / name);
      WriteTga(fs::path(dir_.path()) / name / "000.tga", {{255, 0, 0}, {0, 255, 0}}, 2, 1);
    }
    return map;
  }

  // `extraEnv` adds to the viewer's environment; with `inTestFolder` it runs in dir_.
  void StartViewer(const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnv = {}, bool inTestFolder = false) {
    std::vector<std::string> argv = {ViewerBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    // In a sanitizer build, the leaks of fontconfig and Mesa are not the viewer's.
    const char* lsanOptions = getenv("LSAN_OPTIONS");
    std::string lsan = "LSAN_OPTIONS=";
    if (lsanOptions != nullptr && lsanOptions[0] != '\0') lsan += std::string(lsanOptions) + ":";
    lsan += "suppressions=" + std::string(QUADVIEW_SOURCE_DIR) +
            "/tests/lsan.supp:print_suppressions=0";
    std::vector<std::string> env = {"DISPLAY=" + server_->DisplayName(), "LC_ALL=C", lsan};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    viewer_ =
        std::make_unique<ChildProcess>(argv, env, dir_.File("stderr.txt"), dir_.File("stdout.txt"),
                                       inTestFolder ? dir_.path() : std::string());
  }

  // The main window: the one whose title starts with "OpenGL". Its first title is returned
  // in `firstTitle`.
  Window FindMainWindow(std::string* firstTitle = nullptr) {
    Window found = 0;
    PollUntil(
        [&] {
          auto windows = client_->FindWindows(
              [](const std::string& title) { return title.rfind("OpenGL", 0) == 0; });
          if (windows.empty()) return false;
          found = windows.front();
          if (firstTitle != nullptr) *firstTitle = client_->Title(found);
          return true;
        },
        kWindowTimeout);
    return found;
  }

  Window FindBox() {
    Window box = 0;
    PollUntil(
        [&] {
          auto boxes = client_->FindWindows(IsBoxTitle);
          if (boxes.empty()) return false;
          box = boxes.front();
          return true;
        },
        kWindowTimeout);
    return box;
  }

  void DismissBox(Window box) {
    client_->Focus(box);
    client_->Key(XK_Return);
    ASSERT_TRUE(PollUntil([&] { return !client_->Exists(box); }, kWindowTimeout));
  }

  bool WaitForTitle(Window window, const std::string& values, bool needFrames = true) {
    return PollUntil([&] { return TickedTitle(client_->Title(window), values, needFrames); },
                     kTitleTimeout);
  }

  // Waits for a title tick that counted no frame.
  bool WaitForIdleTitle(Window window, const std::string& values) {
    return PollUntil([&] { return TickedTitle(client_->Title(window), values, false, true); },
                     kTitleTimeout);
  }

  Rgb PanelPixel(Window window, double px, double py) {
    const WindowRect rect = client_->Rect(window);
    return client_->RootPixel(rect.x + kPanelLeft + static_cast<int>(std::lround(px)),
                              rect.y + kPanelTop + static_cast<int>(std::lround(py)));
  }

  // Pixel at the projection of scene point (x, y) for `camera`, panel `width` x `height`.
  Rgb ScenePixel(Window window, const Camera& camera, double x, double y, int width = kPanelWidth,
                 int height = kPanelHeight) {
    double px = 0;
    double py = 0;
    ProjectToPanel(camera, x, y, width, height, px, py);
    return PanelPixel(window, px, py);
  }

  void Drag(Window window, unsigned button, int fromX, int fromY, int toX, int toY) {
    const WindowRect rect = client_->Rect(window);
    const int x0 = rect.x + kPanelLeft + fromX;
    const int y0 = rect.y + kPanelTop + fromY;
    client_->MovePointer(x0, y0);
    client_->Button(button, true);
    const int steps = 5;
    for (int i = 1; i <= steps; ++i) {
      client_->MovePointer(x0 + (toX - fromX) * i / steps, y0 + (toY - fromY) * i / steps);
    }
    client_->Button(button, false);
  }

  // One wheel notch away from the user with the pointer at (x, y) of the window.
  void WheelAt(Window window, int x, int y) {
    const WindowRect rect = client_->Rect(window);
    client_->MovePointer(rect.x + x, rect.y + y);
    client_->Button(Button4, true);
    client_->Button(Button4, false);
  }

  bool BarShowsEmpty(Window window) {
    const WindowRect rect = client_->Rect(window);
    return IsWhite(
        client_->RootPixel(rect.x + kBarLeft + kBarWidth / 2, rect.y + kBarTop + kBarHeight / 2));
  }

  void CloseAndExpectCleanExit(Window window) {
    client_->RequestClose(window);
    int status = -1;
    ASSERT_TRUE(viewer_->WaitForExit(kExitTimeout, status)) << "viewer did not exit";
    ASSERT_TRUE(WIFEXITED(status)) << "viewer ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  TempDir dir_;
  std::unique_ptr<XvfbServer> server_;
  std::unique_ptr<WindowManager> windowManager_;
  std::unique_ptr<XClient> client_;
  std::unique_ptr<ChildProcess> viewer_;
};

}  // namespace viewer_test
