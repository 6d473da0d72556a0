// The real quadview program in a real window: a private Xvfb server per test, the pointer
// driven through XTest, the title and the screen's pixels read back through Xlib.
// Scenes are written by the tests: two quads side by side, red on the left, green on the right.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <stdlib.h>
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
// Offsets of Panel1 and ProgressBar1 inside the window, from the window's layout.
constexpr int kPanelLeft = 2;
constexpr int kPanelTop = 3;
constexpr int kPanelWidth = 535;
constexpr int kPanelHeight = 326;
constexpr int kBarLeft = 4;
constexpr int kBarTop = 158;
constexpr int kBarWidth = 531;
constexpr int kBarHeight = 16;
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
bool IsWhite(const Rgb& p) {
  return p.r > 230 && p.g > 230 && p.b > 230;
}
// The bar's filled part: a saturated blue.
bool IsBarFill(const Rgb& p) {
  return p.b > 80 && p.r < 60 && p.g < 60;
}

// "OpenGL - N FPS | <values>" with exactly these values and, with `needFrames`, N > 0.
bool TickedTitle(const std::string& title, const std::string& values, bool needFrames) {
  const std::string prefix = "OpenGL - ";
  const std::string middle = " FPS | ";
  if (title.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string::size_type middleAt = title.find(middle, prefix.size());
  if (middleAt == std::string::npos || middleAt == prefix.size()) return false;
  const std::string count = title.substr(prefix.size(), middleAt - prefix.size());
  if (count.find_first_not_of("0123456789") != std::string::npos) return false;
  if (title.substr(middleAt + middle.size()) != values) return false;
  return !needFrames || std::stol(count) > 0;
}

class ViewerWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quadview_window_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    server_ = std::make_unique<XvfbServer>(kScreenWidth, kScreenHeight);
    ASSERT_FALSE(server_->DisplayName().empty()) << "Xvfb did not start";
    client_ = std::make_unique<XClient>(server_->DisplayName());
    ASSERT_TRUE(client_->Connected());
  }

  void TearDown() override {
    viewer_.reset();
    client_.reset();
    server_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path WriteScene(const std::string& name, const std::string& quads, bool withTextures) {
    const fs::path map = dir_ / (name + ".map");
    std::ofstream(map, std::ios::binary) << quads;
    if (withTextures) {
      fs::create_directories(dir_ / name);
      WriteTga(dir_ / name / "000.tga", {{255, 0, 0}, {0, 255, 0}}, 2, 1);
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
        (dir_ / "stderr.txt").string());
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

  bool WaitForTitle(Window window, const std::string& values, bool needFrames = true) {
    return PollUntil([&] { return TickedTitle(client_->Title(window), values, needFrames); },
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

  void CloseAndExpectCleanExit(Window window) {
    client_->RequestClose(window);
    int status = -1;
    ASSERT_TRUE(viewer_->WaitForExit(kExitTimeout, status)) << "viewer did not exit";
    ASSERT_TRUE(WIFEXITED(status)) << "viewer ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  fs::path dir_;
  std::unique_ptr<XvfbServer> server_;
  std::unique_ptr<XClient> client_;
  std::unique_ptr<ChildProcess> viewer_;
};

TEST_F(ViewerWindow, TitleStartsAsOpenGLThenShowsRateAndCameraOverTheDrawnScene) {
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

TEST_F(ViewerWindow, DragsPanAndTurnAndTheWheelMovesTheCamera) {
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
  const WindowRect rect = client_->Rect(window);
  client_->MovePointer(rect.x + 300, rect.y + 100);
  client_->Button(Button4, true);
  client_->Button(Button4, false);
  EXPECT_TRUE(WaitForTitle(window, "-0.99 0.00 -1.28")) << client_->Title(window);

  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

TEST_F(ViewerWindow, WithoutArgumentTheBarStaysOverABlackViewAndNoBoxComes) {
  StartViewer({});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  EXPECT_TRUE(IsBlack(PanelPixel(window, 100, 50)));
  EXPECT_TRUE(IsBlack(PanelPixel(window, kPanelWidth / 2, kPanelHeight - 40)));
  // The empty bar: its white trough across the view's middle.
  const WindowRect rect = client_->Rect(window);
  EXPECT_TRUE(IsWhite(
      client_->RootPixel(rect.x + kBarLeft + kBarWidth / 2, rect.y + kBarTop + kBarHeight / 2)));
  EXPECT_TRUE(client_->FindWindows([](const std::string& t) { return t == "quadview"; }).empty());

  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

TEST_F(ViewerWindow, MissingFirstImageShowsTheErrorBoxAndTheViewerGoesOn) {
  const fs::path map = WriteScene("bare", TwoQuadScene(), false);
  StartViewer({map.string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  Window box = 0;
  ASSERT_TRUE(PollUntil(
      [&] {
        auto boxes = client_->FindWindows([](const std::string& t) { return t == "quadview"; });
        if (boxes.empty()) return false;
        box = boxes.front();
        return true;
      },
      kWindowTimeout));
  const std::string image = (dir_ / "bare" / "000.tga").string();
  EXPECT_EQ(viewer_->StderrText(), image + ": Cannot open file " + image + "\n");

  client_->Focus(box);
  client_->Key(XK_Return);
  ASSERT_TRUE(PollUntil([&] { return !client_->Exists(box); }, kWindowTimeout));
  // Frames are drawn again after the box; no quad was read, so the view stays black, and the
  // bar stays where it was.
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  EXPECT_TRUE(IsBlack(ScenePixel(window, Camera(), -0.5, 0.2)));
  const WindowRect rect = client_->Rect(window);
  EXPECT_TRUE(IsWhite(
      client_->RootPixel(rect.x + kBarLeft + kBarWidth / 2, rect.y + kBarTop + kBarHeight / 2)));

  CloseAndExpectCleanExit(window);
}

TEST_F(ViewerWindow, ResizingTheWindowResizesTheViewAndThePictureFollows) {
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

TEST_F(ViewerWindow, ClosingDuringALongLoadExitsCleanly) {
  // Enough quads that the read takes a while; the bar shows how far it got.
  const std::string quad = QuadText(0.25, -1, -0.5, 0, 0.5);
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
  // Close while the bar is filled somewhere at its start but not yet at a quarter.
  ASSERT_TRUE(PollUntil(
      [&] {
        return IsBarFill(client_->RootPixel(rect.x + kBarLeft + 4, barY)) &&
               !IsBarFill(client_->RootPixel(rect.x + kBarLeft + kBarWidth / 4, barY));
      },
      kWindowTimeout))
      << "the load was not seen in progress";
  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

}  // namespace
