// The real quadview program in a real window: a private Xvfb server per test, every case run
// twice, on the bare server and under the openbox window manager; the pointer driven through
// XTest, the title and the screen's pixels read back through Xlib. Scenes are written by the
// tests: two quads side by side, red on the left, green on the right.
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

#include "scene/tga_writer.h"
#include "tests/test_files.h"
#include "x_test_harness.h"

namespace {

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

std::string ViewerBinary() {
  return std::string(QUADVIEW_BINARY_DIR) + "/app/quadview";
}

// An uncompressed 32-bit TGA through the program's own writer, opaque.
void WriteTga(const fs::path& path, const std::vector<Rgb>& pixels, int width, int height) {
  std::vector<uint8_t> rgba;
  for (const Rgb& p : pixels) {
    rgba.insert(rgba.end(), {static_cast<uint8_t>(p.r), static_cast<uint8_t>(p.g),
                             static_cast<uint8_t>(p.b), 0xff});
  }
  WriteTga32(path.string(), width, height, rgba.data());
}

// One quad in the plane z = 0 from (x0, y0) to (x1, y1), every corner sampling texel `u`.
std::string QuadText(double u, double x0, double y0, double x1, double y1) {
  char text[512];
  std::snprintf(text, sizeof text,
                "0 0\r\nCW\r\n%g 0.5 %g %g 0\r\n%g 0.5 %g %g 0\r\n%g 0.5 %g %g 0\r\n"
                "%g 0.5 %g %g 0\r\n",
                u, x0, y0, u, x1, y0, u, x1, y1, u, x0, y1);
  return text;
}

// Red texel 0 and green texel 1: the left quad samples red, the right one green.
std::string TwoQuadScene() {
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
void ProjectToPanel(const Camera& camera, double x, double y, int width, int height, double& px,
                    double& py) {
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

bool IsRed(const Rgb& p) {
  return p.r > 200 && p.g < 50 && p.b < 50;
}
bool IsGreen(const Rgb& p) {
  return p.g > 200 && p.r < 50 && p.b < 50;
}
bool IsBlack(const Rgb& p) {
  return p.r < 30 && p.g < 30 && p.b < 30;
}

// "OpenGL - N FPS | <values>" with exactly these values and, with `needFrames`, N > 0 (with
// `noFrames`, N == 0).
bool TickedTitle(const std::string& title, const std::string& values, bool needFrames,
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

bool IsBoxTitle(const std::string& title) {
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

  void StartViewer(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {ViewerBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    // In a sanitizer build, the leaks of fontconfig and Mesa are not the viewer's.
    const char* lsanOptions = getenv("LSAN_OPTIONS");
    std::string lsan = "LSAN_OPTIONS=";
    if (lsanOptions != nullptr && lsanOptions[0] != '\0') lsan += std::string(lsanOptions) + ":";
    lsan += "suppressions=" + std::string(QUADVIEW_SOURCE_DIR) +
            "/tests/lsan.supp:print_suppressions=0";
    viewer_ = std::make_unique<ChildProcess>(
        argv, std::vector<std::string>{"DISPLAY=" + server_->DisplayName(), "LC_ALL=C", lsan},
        dir_.File("stderr.txt"));
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

INSTANTIATE_TEST_SUITE_P(BareServer, ViewerWindow, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(WindowManager, ViewerWindow, ::testing::Values(true));

TEST_P(ViewerWindow, TitleStartsAsOpenGLThenShowsRateAndCameraOverTheDrawnScene) {
  const fs::path map = WriteScene("pair", TwoQuadScene(), true);
  StartViewer({map.string()});
  std::string firstTitle;
  const Window window = FindMainWindow(&firstTitle);
  ASSERT_NE(window, 0u);
  EXPECT_EQ(firstTitle, "OpenGL");
  const WindowRect rect = client_->Rect(window);
  EXPECT_EQ(rect.width, 548);
  EXPECT_EQ(rect.height, 358);

  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48")) << client_->Title(window);
  const Camera start;
  EXPECT_TRUE(IsRed(ScenePixel(window, start, -0.5, 0.0)));
  EXPECT_TRUE(IsGreen(ScenePixel(window, start, 0.5, 0.0)));
  EXPECT_TRUE(IsBlack(ScenePixel(window, start, -1.3, 0.0)));
  EXPECT_TRUE(IsBlack(ScenePixel(window, start, 0.5, 0.8)));
  // The load finished: the bar is gone and the view shows through its strip.
  EXPECT_TRUE(IsBlack(PanelPixel(window, 60, kBarTop - kPanelTop + kBarHeight / 2)));

  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

TEST_P(ViewerWindow, DragsPanAndTurnAndTheWheelMovesTheCamera) {
  const fs::path map = WriteScene("pair", TwoQuadScene(), true);
  StartViewer({map.string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));

  // Left drag 50 pixels to the right: panX decreases by 1.
  Drag(window, Button1, 200, 100, 250, 100);
  ASSERT_TRUE(WaitForTitle(window, "-0.99 0.00 -2.48")) << client_->Title(window);
  Camera camera;
  camera.panX = -0.99;
  ASSERT_TRUE(
      PollUntil([&] { return IsRed(ScenePixel(window, camera, -0.5, 0.0)); }, kTitleTimeout));
  EXPECT_TRUE(IsGreen(ScenePixel(window, camera, 0.3, 0.0)));

  // Right drag 20 pixels up: tilt rises by 1 degree and the picture moves down.
  double column = 0;
  double topBefore = 0;
  ProjectToPanel(camera, -0.5, 0.5, kPanelWidth, kPanelHeight, column, topBefore);
  Camera tilted = camera;
  tilted.tilt = 1.0;
  double unused = 0;
  double topAfter = 0;
  ProjectToPanel(tilted, -0.5, 0.5, kPanelWidth, kPanelHeight, unused, topAfter);
  ASSERT_GT(topAfter - topBefore, 5.0);  // the rows below are far enough apart to tell
  EXPECT_TRUE(IsRed(PanelPixel(window, column, topBefore + 2)));
  Drag(window, Button3, 200, 200, 200, 180);
  EXPECT_TRUE(PollUntil(
      [&] {
        return IsBlack(PanelPixel(window, column, topBefore + 2)) &&
               IsRed(PanelPixel(window, column, topAfter + 2));
      },
      kTitleTimeout));

  // A middle drag changes nothing; then one wheel notch away from the user: -2.48 -> -1.28.
  Drag(window, Button2, 100, 100, 160, 160);
  WheelAt(window, 300, 100);
  EXPECT_TRUE(WaitForTitle(window, "-0.99 0.00 -1.28")) << client_->Title(window);

  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

TEST_P(ViewerWindow, WithoutArgumentTheBarStaysOverABlackViewAndTakesTheWheel) {
  StartViewer({});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  EXPECT_TRUE(IsBlack(PanelPixel(window, 100, 50)));
  EXPECT_TRUE(IsBlack(PanelPixel(window, kPanelWidth / 2, kPanelHeight - 40)));
  // The empty bar: its white trough across the view's middle.
  EXPECT_TRUE(BarShowsEmpty(window));
  EXPECT_TRUE(client_->FindWindows(IsBoxTitle).empty());
  // The wheel acts over the bar's strip too.
  WheelAt(window, kBarLeft + kBarWidth / 2, kBarTop + kBarHeight / 2);
  EXPECT_TRUE(WaitForTitle(window, "0.01 0.00 -1.28")) << client_->Title(window);

  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

// The error box is modal over the main window: the main window takes no input while it is up,
// and after OK the program goes on; neither the box nor later focus changes load again.
TEST_P(ViewerWindow, MissingFirstImageShowsAModalErrorBoxAndTheViewerGoesOn) {
  const fs::path map = WriteScene("bare", TwoQuadScene(), false);
  StartViewer({map.string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  const Window box = FindBox();
  ASSERT_NE(box, 0u);
  const std::string image = (fs::path(dir_.path()) / "bare" / "000.tga").string();
  EXPECT_EQ(viewer_->StderrText(), image + ": Cannot open file " + image + "\n");
  EXPECT_EQ(client_->TransientFor(box), window);
  const WindowRect boxRect = client_->Rect(box);
  EXPECT_LE(boxRect.width, kScreenWidth);

  // While the box is up the wheel over the main window does nothing; the title still ticks.
  WheelAt(window, 300, 100);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48", false));
  DismissBox(box);
  // Frames are drawn again after the box; no quad was read, so the view stays black, and the
  // bar stays where it was.
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  EXPECT_TRUE(IsBlack(ScenePixel(window, Camera(), -0.5, 0.2)));
  EXPECT_TRUE(BarShowsEmpty(window));

  // Switching to another window and back does not load again: no second box, and the wheel
  // acts at once.
  client_->CreateOtherWindow();
  client_->Focus(window);
  WheelAt(window, 300, 100);
  EXPECT_TRUE(WaitForTitle(window, "0.01 0.00 -1.28")) << client_->Title(window);
  EXPECT_TRUE(client_->FindWindows(IsBoxTitle).empty());
  EXPECT_EQ(viewer_->StderrText(), image + ": Cannot open file " + image + "\n");

  CloseAndExpectCleanExit(window);
}

// A token of 300,000 characters: the message quotes its first 100 and the box wraps it
// within the screen.
TEST_P(ViewerWindow, ErrorBoxForAHugeTokenFitsTheScreen) {
  const std::string token(300000, '7');
  const fs::path map = WriteScene("huge", "0 0\r\nCW\r\n" + token + "x 0 0 0 0\r\n", true);
  StartViewer({map.string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  const Window box = FindBox();
  ASSERT_NE(box, 0u);
  const WindowRect rect = client_->Rect(box);
  EXPECT_LE(rect.width, kScreenWidth);
  EXPECT_LE(rect.height, kScreenHeight);
  EXPECT_EQ(viewer_->StderrText(), map.string() + ":3: '" + token.substr(0, 100) +
                                       "...' is not a valid floating point value\n");
  DismissBox(box);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  CloseAndExpectCleanExit(window);
}

// Only regular files are opened: a FIFO as the scene is like a missing file, a FIFO as
// 000.tga like a missing image; neither hangs the viewer.
TEST_P(ViewerWindow, FifosAreNeverOpened) {
  const fs::path pipe = fs::path(dir_.path()) / "pipe.map";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  StartViewer({pipe.string()});
  Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  EXPECT_TRUE(BarShowsEmpty(window));
  EXPECT_TRUE(client_->FindWindows(IsBoxTitle).empty());
  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");

  const fs::path map = WriteScene("piped", TwoQuadScene(), false);
  fs::create_directories(fs::path(dir_.path()) / "piped");
  const std::string image = (fs::path(dir_.path()) / "piped" / "000.tga").string();
  ASSERT_EQ(mkfifo(image.c_str(), 0600), 0);
  StartViewer({map.string()});
  window = FindMainWindow();
  ASSERT_NE(window, 0u);
  const Window box = FindBox();
  ASSERT_NE(box, 0u);
  EXPECT_EQ(viewer_->StderrText(), image + ": Cannot open file " + image + "\n");
  DismissBox(box);
  CloseAndExpectCleanExit(window);
}

TEST_P(ViewerWindow, ResizingTheWindowResizesTheViewAndThePictureFollows) {
  const fs::path map = WriteScene("pair", TwoQuadScene(), true);
  StartViewer({map.string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));

  const int width = 748;
  const int height = 458;
  const int panelWidth = width - kPanelWidthMargin;
  const int panelHeight = height - kPanelHeightMargin;
  client_->Resize(window, width, height);
  const Camera start;
  // Just inside and outside the quads' top and right edges for the new size and aspect.
  double right = 0;
  double top = 0;
  ProjectToPanel(start, 1.0, 0.5, panelWidth, panelHeight, right, top);
  EXPECT_TRUE(PollUntil(
      [&] {
        return client_->Rect(window).width == width &&
               IsGreen(PanelPixel(window, right - 3, top + 3)) &&
               IsBlack(PanelPixel(window, right + 3, top + 3)) &&
               IsBlack(PanelPixel(window, right - 3, top - 3)) &&
               IsRed(ScenePixel(window, start, -0.5, 0.0, panelWidth, panelHeight)) &&
               IsBlack(PanelPixel(window, 40, panelHeight - 5));
      },
      kTitleTimeout));

  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

TEST_P(ViewerWindow, ClosingDuringALongLoadExitsCleanly) {
  // Enough quads that the read takes a while; the bar shows how far it got. The quads are
  // tiny, so that a frame drawn after all would not take long either.
  const std::string quad = QuadText(0.25, -0.01, -0.01, 0.01, 0.01);
  std::string quads;
  const int quadCount = 600000;
  quads.reserve(quad.size() * quadCount);
  for (int i = 0; i < quadCount; ++i) quads += quad;
  const fs::path map = WriteScene("large", quads, true);
  StartViewer({map.string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  const WindowRect rect = client_->Rect(window);
  const int barY = rect.y + kBarTop + kBarHeight / 2;
  // Close while the bar is filled at its start but not yet at its end: the load is running.
  ASSERT_TRUE(PollUntil(
      [&] {
        return IsBarFill(client_->RootPixel(rect.x + kBarLeft + 4, barY)) &&
               !IsBarFill(client_->RootPixel(rect.x + kBarLeft + kBarWidth - 4, barY));
      },
      kWindowTimeout))
      << "the load was not seen in progress";
  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

// Events are handled between images: a close while the textures load ends the load there,
// before the quad list (whose first line would fail) is read.
TEST_P(ViewerWindow, ClosingWhileTheTexturesLoadEndsTheLoad) {
  const fs::path map = WriteScene("many", "broken\r\n", false);
  const fs::path folder = fs::path(dir_.path()) / "many";
  fs::create_directories(folder);
  // 1024 images of 256 x 256 texels in run-length packets: small files, slow to upload.
  const int side = 256;
  std::string image(18, '\0');
  image[2] = 10;
  image[12] = 0;
  image[13] = 1;
  image[14] = 0;
  image[15] = 1;
  image[16] = 24;
  for (int packet = 0; packet < side * side / 128; ++packet) {
    image += static_cast<char>(0xff);
    image += {static_cast<char>(packet), 0x40, 0x10};
  }
  for (int number = 0; number < 1024; ++number) {
    char name[16];
    std::snprintf(name, sizeof name, "%03X.tga", number);
    WriteFile((folder / name).string(), image);
  }
  StartViewer({map.string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

// Nobody sees frames of a minimised view: the loop then waits instead of drawing.
TEST_P(ViewerWindow, MinimisedViewDrawsNothingUntilShownAgain) {
  const fs::path map = WriteScene("pair", TwoQuadScene(), true);
  StartViewer({map.string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  client_->Minimise(window);
  EXPECT_TRUE(WaitForIdleTitle(window, "0.01 0.00 -2.48")) << client_->Title(window);
  client_->Restore(window);
  EXPECT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48")) << client_->Title(window);
  EXPECT_TRUE(
      PollUntil([&] { return IsRed(ScenePixel(window, Camera(), -0.5, 0.0)); }, kTitleTimeout));
  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

// A viewer the window manager starts iconified loads nothing until the user first restores
// it, then loads once.
class StartedMinimised : public ViewerWindow {
 protected:
  std::string WindowManagerRules() const override {
    return "<application title=\"OpenGL\" type=\"normal\"><iconic>yes</iconic></application>";
  }
};

INSTANTIATE_TEST_SUITE_P(WindowManager, StartedMinimised, ::testing::Values(true));

TEST_P(StartedMinimised, LoadsOnTheFirstRestoreAndOnlyThen) {
  const fs::path map = WriteScene("bare", TwoQuadScene(), false);
  StartViewer({map.string()});
  Window window = 0;
  ASSERT_TRUE(PollUntil(
      [&] {
        auto windows = client_->FindAnyWindows(
            [](const std::string& title) { return title.rfind("OpenGL", 0) == 0; });
        if (windows.empty() || !client_->Iconic(windows.front())) return false;
        window = windows.front();
        return true;
      },
      kWindowTimeout));
  // The timer ticks while the window is iconified; no load has run: no box, nothing on stderr.
  ASSERT_TRUE(WaitForIdleTitle(window, "0.01 0.00 -2.48")) << client_->Title(window);
  EXPECT_TRUE(client_->FindAnyWindows(IsBoxTitle).empty());
  EXPECT_EQ(viewer_->StderrText(), "");
  client_->Restore(window);
  const Window box = FindBox();
  ASSERT_NE(box, 0u);
  const std::string image = (fs::path(dir_.path()) / "bare" / "000.tga").string();
  EXPECT_EQ(viewer_->StderrText(), image + ": Cannot open file " + image + "\n");
  DismissBox(box);
  client_->Minimise(window);
  ASSERT_TRUE(WaitForIdleTitle(window, "0.01 0.00 -2.48"));
  client_->Restore(window);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  EXPECT_TRUE(client_->FindWindows(IsBoxTitle).empty());
  EXPECT_EQ(viewer_->StderrText(), image + ": Cannot open file " + image + "\n");
  CloseAndExpectCleanExit(window);
}

}  // namespace

// Without a window: the two options alone, and a machine without a display, each say so in
// plain words and exit at once.
TEST(ViewerCommandLine, OptionsAndAMissingDisplayAnswerWithoutAWindow) {
  TempDir dir;
  struct Case {
    const char* environment;  // before the program on the shell's command line
    const char* arguments;
    int status;
    const char* out;  // the first line of stdout
    const char* err;
  };
  const Case cases[] = {
      {"env -u DISPLAY", "--help", 0, "Usage: quadview [FILE.map]", ""},
      {"env -u DISPLAY", "--version", 0, "quadview " QUADVIEW_VERSION, ""},
      {"env -u DISPLAY", "scene.map", 1, "",
       "quadview: DISPLAY is not set; quadview needs a graphical session\n"},
      {"env DISPLAY=", "--help scene.map", 1, "",
       "quadview: DISPLAY is not set; quadview needs a graphical session\n"},
      {"env DISPLAY=:4093", "./--help", 1, "", "quadview: cannot open the display \":4093\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.environment) + " " + c.arguments);
    const std::string command = std::string("cd ") + dir.path() + " && " + c.environment + " " +
                                ViewerBinary() + " " + c.arguments + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    const std::string out = ReadFile(dir.File("out.txt"));
    EXPECT_EQ(out.substr(0, out.find('\n')), c.out);
    EXPECT_EQ(ReadFile(dir.File("err.txt")), c.err);
  }
}
