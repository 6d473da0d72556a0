// What the viewer adds beside the mouse: its keys, the reload and --watch, the view command
// that redraws the window's pixels headless, its lines for paths that are not scenes, and
// start-ups on a server that resets when its last client leaves.
#include <limits.h>
#include <stb/stb_image.h>
#include <sys/inotify.h>

#include "tests/viewer_window_fixture.h"

namespace {

using namespace viewer_test;
namespace fs = std::filesystem;

const Rgb kBlue{0, 0, 255};

bool IsBlue(const Rgb& p) {
  return p.b > 200 && p.r < 50 && p.g < 50;
}

class ViewerKeys : public ViewerWindow {
 protected:
  // Focuses the viewer's window and waits until the keyboard goes there.
  Window StartFocused(const std::vector<std::string>& args, const std::string& startValues) {
    StartViewer(args);
    const Window window = FindMainWindow();
    if (window == 0 || !WaitForTitle(window, startValues)) return 0;
    client_->Focus(window);
    return PollUntil([&] { return client_->Focused(window); }, kWindowTimeout) ? window : 0;
  }

  void ExpectExitAfterKey(unsigned long keysym, unsigned long modifier) {
    client_->Key(keysym, modifier);
    int status = -1;
    ASSERT_TRUE(viewer_->WaitForExit(kExitTimeout, status)) << "viewer did not exit";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
};

INSTANTIATE_TEST_SUITE_P(BareServer, ViewerKeys, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(WindowManager, ViewerKeys, ::testing::Values(true));

// r and Home bring back the camera the command line started with; F5 reloads an edited
// texture where the camera is.
TEST_P(ViewerKeys, ResetKeysBringBackTheStartCameraAndF5ReloadsInPlace) {
  const fs::path map = WriteScene("pair", TwoQuadScene(), true);
  const Window window = StartFocused({"--pan", "0.5", "0", "--", map.string()}, "0.50 0.00 -2.48");
  ASSERT_NE(window, 0u);
  for (const unsigned long key : {XK_r, XK_Home}) {
    Drag(window, Button1, 200, 100, 250, 100);
    ASSERT_TRUE(WaitForTitle(window, "-0.50 0.00 -2.48")) << client_->Title(window);
    client_->Key(key);
    EXPECT_TRUE(WaitForTitle(window, "0.50 0.00 -2.48")) << client_->Title(window);
  }

  Drag(window, Button1, 200, 100, 250, 100);
  ASSERT_TRUE(WaitForTitle(window, "-0.50 0.00 -2.48"));
  Camera camera;
  camera.panX = -0.5;
  ASSERT_TRUE(IsRed(ScenePixel(window, camera, -0.5, 0.0)));
  WriteTga(fs::path(dir_.path()) / "pair" / "000.tga", {kBlue, {0, 255, 0}}, 2, 1);
  client_->Key(XK_F5);
  EXPECT_TRUE(
      PollUntil([&] { return IsBlue(ScenePixel(window, camera, -0.5, 0.0)); }, kTitleTimeout));
  EXPECT_TRUE(IsGreen(ScenePixel(window, camera, 0.5, 0.0)));
  EXPECT_TRUE(WaitForTitle(window, "-0.50 0.00 -2.48"));
  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), "");
}

// F11 fills the screen and Esc gives the window its size back; F1 lists the controls in a box;
// Ctrl+Q and Ctrl+W close.
TEST_P(ViewerKeys, FullscreenTheControlsBoxAndTheClosingKeys) {
  for (const unsigned long closeKey : {XK_q, XK_w}) {
    SCOPED_TRACE(closeKey == XK_q ? "Ctrl+Q" : "Ctrl+W");
    const Window window = StartFocused({}, "0.01 0.00 -2.48");
    ASSERT_NE(window, 0u);
    // Without a window manager the toolkit makes a new window to cover the screen, which
    // nobody focuses: fullscreen is for desktops.
    if (GetParam()) {
      client_->Key(XK_F11);
      EXPECT_TRUE(PollUntil(
          [&] {
            const WindowRect rect = client_->Rect(window);
            return rect.width == kScreenWidth && rect.height == kScreenHeight;
          },
          kWindowTimeout));
      client_->Key(XK_Escape);
      EXPECT_TRUE(PollUntil(
          [&] {
            const WindowRect rect = client_->Rect(window);
            return rect.width == 548 && rect.height == 358;
          },
          kWindowTimeout));
    }

    client_->Key(XK_F1);
    Window box = 0;
    ASSERT_TRUE(PollUntil(
        [&] {
          const auto boxes = client_->FindWindows(
              [](const std::string& title) { return title == "quadview: mouse and keys"; });
          box = boxes.empty() ? 0 : boxes.front();
          return box != 0;
        },
        kWindowTimeout));
    DismissBox(box);
    client_->Focus(window);
    ASSERT_TRUE(PollUntil([&] { return client_->Focused(window); }, kWindowTimeout));
    ExpectExitAfterKey(closeKey, XK_Control_L);
    EXPECT_EQ(viewer_->StderrText(), "");
  }
}

// The c key's command, run as printed, draws the pixels the window shows, for a view that
// was panned, turned, tilted (here from the command line: the drags have tests of their own)
// and resized.
TEST_P(ViewerKeys, TheViewCommandDrawsTheWindowsPixels) {
  const fs::path map = WriteScene("pair", TwoQuadScene(), true);
  const Window window =
      StartFocused({"--pan", "-0.59", "0.2", "--tilt", "1.5", "--spin", "-2.25", map.string()},
                   "-0.59 0.20 -2.48");
  ASSERT_NE(window, 0u);
  const int width = 700 - kPanelWidthMargin, height = 420 - kPanelHeightMargin;
  client_->Resize(window, 700, 420);
  ASSERT_TRUE(PollUntil([&] { return client_->Rect(window).width == 700; }, kWindowTimeout));
  client_->Key(XK_c);
  std::string command;
  ASSERT_TRUE(PollUntil(
      [&] {
        command = viewer_->StdoutText();
        return !command.empty() && command.back() == '\n';
      },
      kTitleTimeout));
  const std::string ending =
      " --size " + std::to_string(width) + "x" + std::to_string(height) + " -o view.png\n";
  EXPECT_EQ(command, "quadscene render " + map.string() +
                         " --pan -0.59 0.2 --distance -2.48 --tilt 1.5 --spin -2.25" + ending);

  const std::string run = "cd " + dir_.path() + " && " + QUADVIEW_BINARY_DIR + "/tools/" + command;
  ASSERT_EQ(std::system(run.c_str()), 0);
  int pngWidth = 0, pngHeight = 0, channels = 0;
  std::unique_ptr<uint8_t, void (*)(void*)> png(
      stbi_load(dir_.File("view.png").c_str(), &pngWidth, &pngHeight, &channels, 3),
      stbi_image_free);
  ASSERT_NE(png, nullptr);
  ASSERT_EQ(pngWidth, width);
  ASSERT_EQ(pngHeight, height);
  // The frame loop redraws at the new size soon after the resize: from then on, every pixel.
  int differing = 0, coloured = 0;
  PollUntil(
      [&] {
        const WindowRect rect = client_->Rect(window);
        const std::vector<Rgb> shown =
            client_->RootPixels(rect.x + kPanelLeft, rect.y + kPanelTop, width, height);
        if (shown.size() != static_cast<size_t>(width * height)) return false;
        differing = coloured = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
          const uint8_t* drawn = png.get() + i * 3;
          differing += shown[i].r != drawn[0] || shown[i].g != drawn[1] || shown[i].b != drawn[2];
          coloured += !IsBlack(shown[i]);
        }
        return differing == 0;
      },
      kTitleTimeout);
  EXPECT_EQ(differing, 0);
  EXPECT_GT(coloured, width * height / 10);
  CloseAndExpectCleanExit(window);
}

// --watch reloads a texture and then a quad list rewritten on disk, once they are still.
TEST_P(ViewerKeys, WatchReloadsARewrittenTextureAndQuadList) {
  const fs::path map = WriteScene("pair", TwoQuadScene(), true);
  StartViewer({"--watch", map.string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  const Camera start;
  ASSERT_TRUE(IsRed(ScenePixel(window, start, -0.5, 0.0)));

  WriteTga(fs::path(dir_.path()) / "pair" / "000.tga", {kBlue, {0, 255, 0}}, 2, 1);
  EXPECT_TRUE(
      PollUntil([&] { return IsBlue(ScenePixel(window, start, -0.5, 0.0)); }, kTitleTimeout));
  // The quads swap their texels: the left one samples green, the right one blue.
  WriteFile(map.string(), QuadText(0.75, -1, -0.5, 0, 0.5) + QuadText(0.25, 0, -0.5, 1, 0.5));
  EXPECT_TRUE(PollUntil(
      [&] {
        return IsGreen(ScenePixel(window, start, -0.5, 0.0)) &&
               IsBlue(ScenePixel(window, start, 0.5, 0.0));
      },
      kTitleTimeout));
  // A scene file that goes away is no scene to load: a line says so and the picture stays.
  const std::string gone = "quadview: " + map.string() + ": no such file\n";
  fs::remove(map);
  EXPECT_TRUE(PollUntil([&] { return viewer_->StderrText() == gone; }, kTitleTimeout));
  EXPECT_TRUE(IsGreen(ScenePixel(window, start, -0.5, 0.0)));
  CloseAndExpectCleanExit(window);
  EXPECT_EQ(viewer_->StderrText(), gone);
}

// --watch survives its folder deleted and made again, follows links to the quad list and a
// texture, and shows a failed reload in the view instead of a box, then takes the next save.
TEST_P(ViewerKeys, WatchFollowsAFolderMadeAgainLinksAndFailures) {
  const fs::path out = fs::path(dir_.path()) / "out";
  const auto makeScene = [&](const fs::path& folder, const Rgb& left) {
    fs::create_directories(folder / "pair");
    WriteFile((folder / "pair.map").string(), TwoQuadScene());
    WriteTga(folder / "pair" / "000.tga", {left, {0, 255, 0}}, 2, 1);
  };
  makeScene(out, {255, 0, 0});
  StartViewer({"--watch", (out / "pair.map").string()});
  const Window window = FindMainWindow();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  const Camera start;
  const auto leftIs = [&](bool (*colour)(const Rgb&)) {
    return PollUntil([&] { return colour(ScenePixel(window, start, -0.5, 0.0)); }, kTitleTimeout);
  };
  ASSERT_TRUE(leftIs(IsRed));
  fs::remove_all(out);
  makeScene(out, kBlue);
  EXPECT_TRUE(leftIs(IsBlue));

  // The texture becomes a link; then the file it leads to changes.
  const fs::path real = fs::path(dir_.path()) / "real";
  makeScene(real, {255, 0, 0});
  fs::remove(out / "pair" / "000.tga");
  fs::create_symlink(real / "pair" / "000.tga", out / "pair" / "000.tga");
  EXPECT_TRUE(leftIs(IsRed));
  WriteTga(real / "pair" / "000.tga", {{0, 255, 0}, {0, 255, 0}}, 2, 1);
  EXPECT_TRUE(leftIs(IsGreen));

  // A broken save: its message on stderr and along the view's bottom, no box; then a good one.
  WriteFile((out / "pair.map").string(), "0 x\r\n");
  const std::string failure =
      (out / "pair.map").string() + ":1: 'x' is not a valid integer value\n";
  EXPECT_TRUE(PollUntil([&] { return viewer_->StderrText().find(failure) != std::string::npos; },
                        kTitleTimeout))
      << viewer_->StderrText();
  EXPECT_TRUE(client_->FindWindows(IsBoxTitle).empty());
  WriteFile((out / "pair.map").string(), TwoQuadScene());
  EXPECT_TRUE(leftIs(IsGreen));
  CloseAndExpectCleanExit(window);
}

// A path that is no scene file: a line that says why, over the black view and the empty bar.
TEST_P(ViewerKeys, APathThatIsNoFileSaysWhy) {
  const struct {
    std::string path;
    std::string why;
  } cases[] = {{dir_.File("nope.map"), "no such file"}, {dir_.path(), "a folder"}};
  for (const auto& c : cases) {
    StartViewer({c.path});
    const Window window = FindMainWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
    EXPECT_TRUE(BarShowsEmpty(window));
    CloseAndExpectCleanExit(window);
    EXPECT_EQ(viewer_->StderrText(), "quadview: " + c.path + ": " + c.why + "\n");
  }
}

}  // namespace

// xvfb-run's server resets when its last client leaves: a viewer that connected twice could
// meet the reset between its connections and die. The viewer reads its scene only once its
// window is up, so the open of the quad list (seen through inotify, without connecting to the
// server) shows it got there.
TEST(ViewerStart, StartsTwentyTimesOnAServerWithNoOtherClient) {
  XvfbServer server(640, 480, true);
  ASSERT_FALSE(server.DisplayName().empty());
  TempDir dir;
  WriteFile(dir.File("pair.map"), TwoQuadScene());
  fs::create_directories(dir.File("pair"));
  WriteTga(dir.File("pair/000.tga"), {{255, 0, 0}, {0, 255, 0}}, 2, 1);
  for (int start = 0; start < 20; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    const int notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(notify, dir.File("pair.map").c_str(), IN_OPEN), 0);
    ChildProcess viewer({ViewerBinary(), dir.File("pair.map")},
                        {"DISPLAY=" + server.DisplayName(), "LC_ALL=C"}, dir.File("stderr.txt"));
    bool opened = false;
    PollUntil(
        [&] {
          char event[sizeof(inotify_event) + NAME_MAX + 1];
          opened = read(notify, event, sizeof event) > 0;
          return opened || !viewer.Running();
        },
        kWindowTimeout);
    close(notify);
    EXPECT_TRUE(opened) << viewer.StderrText();
  }
}
