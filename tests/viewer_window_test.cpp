// The real quadview program in a real window: every case run twice, on the bare server and
// under the openbox window manager; the pointer driven through XTest, the title and the
// screen's pixels read back through Xlib.
#include "tests/viewer_window_fixture.h"

namespace {

using namespace viewer_test;
namespace fs = std::filesystem;
using std::chrono::milliseconds;

INSTANTIATE_TEST_SUITE_P(BareServer, ViewerWindow, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(WindowManager, ViewerWindow, ::testing::Values(true));

TEST_P(ViewerWindow, TitleStartsAsOpenGLThenShowsRateAndCameraOverTheDrawnScene) {
  const fs::path map = WriteScene("pair", TwoQuadScene(), true);
  StartViewer({map.string()});
  std::string firstTitle;
  const Window window = FindMainWindow(&firstTitle);
  ASSERT_NE(window, 0u);
  EXPECT_EQ(firstTitle, "OpenGL");
  EXPECT_EQ(client_->WindowClass(window), "quadview.Quadview");
  EXPECT_TRUE(client_->HasIcon(window));
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
  EXPECT_EQ(viewer_->StderrText(), "quadview: " + pipe.string() + ": not a regular file\n");

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
      {"env -u DISPLAY", "--help", 0, "Usage: quadview [OPTIONS] [--] [FILE.map]", ""},
      {"env -u DISPLAY", "scene.map --help", 0, "Usage: quadview [OPTIONS] [--] [FILE.map]", ""},
      {"env -u DISPLAY", "--version", 0, "quadview " QUADVIEW_VERSION, ""},
      {"env -u DISPLAY", "scene.map", 1, "",
       "quadview: DISPLAY is not set; quadview needs a graphical session\n"},
      {"env DISPLAY=", "--watch --pan 1 -2e3 --tilt -5 -- --help", 1, "",
       "quadview: DISPLAY is not set; quadview needs a graphical session\n"},
      {"env DISPLAY=:4093", "./--help", 1, "", "quadview: cannot open the display \":4093\"\n"},
      {"env -u DISPLAY", "--bogus scene.map", 2, "",
       "quadview: unknown option '--bogus'; usage: quadview [OPTIONS] [--] [FILE.map]\n"},
      {"env -u DISPLAY", "--pan 1", 2, "",
       "quadview: --pan: expected a number between -3.4e38 and 3.4e38; usage: quadview "
       "[OPTIONS] [--] [FILE.map]\n"},
      {"env -u DISPLAY", "--spin 0x10 scene.map", 2, "",
       "quadview: --spin: expected a number between -3.4e38 and 3.4e38; usage: quadview "
       "[OPTIONS] [--] [FILE.map]\n"},
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
