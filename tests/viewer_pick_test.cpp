// Finding a record in the viewer: the still click and its mark, g and --record, f and --fit,
// i, e with a stand-in editor, and F12's picture, judged by the window's pixels and lines.
#include <stb/stb_image.h>

#include "scene/scene_error.h"
#include "tests/viewer_window_fixture.h"

namespace {

using namespace viewer_test;
namespace fs = std::filesystem;

bool IsMark(const Rgb& p) {
  return p.r > 200 && p.g < 60 && p.b > 200;
}

class ViewerPick : public ViewerWindow {
 protected:
  // nyc.map: a red quad (slot 0) left of a green one (slot 1), both in the plane z = 0.
  fs::path WriteTwoSlotScene() {
    const fs::path map = fs::path(dir_.path()) / "nyc.map";
    std::string text = QuadText(0.25, -1, -0.5, 0, 0.5) + QuadText(0.25, 0, -0.5, 1, 0.5);
    text.replace(text.find("0 0\r\n"), 3, "3 0");
    text.replace(text.find("0 0\r\nCW"), 3, "4 0");
    WriteFile(map.string(), text);
    fs::create_directories(fs::path(dir_.path()) / "nyc");
    WriteTga(fs::path(dir_.path()) / "nyc" / "000.tga", {{255, 0, 0}}, 1, 1);
    WriteTga(fs::path(dir_.path()) / "nyc" / "001.tga", {{0, 255, 0}}, 1, 1);
    return map;
  }

  Window StartFocused(const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}) {
    StartViewer(args, env, true);
    const Window window = FindMainWindow();
    const auto ticked = [&] { return client_->Title(window).find(" FPS | ") != std::string::npos; };
    if (window == 0 || !PollUntil(ticked, kTitleTimeout)) return 0;
    client_->Focus(window);
    return PollUntil([&] { return client_->Focused(window); }, kWindowTimeout) ? window : 0;
  }

  void Click(Window window, int x, int y) {
    const WindowRect rect = client_->Rect(window);
    client_->MovePointer(rect.x + kPanelLeft + x, rect.y + kPanelTop + y);
    client_->Button(Button1, true);
    client_->Button(Button1, false);
  }

  bool WaitForStdout(const std::string& text) {
    const bool seen = PollUntil([&] { return viewer_->StdoutText() == text; }, kTitleTimeout);
    if (!seen)
      ADD_FAILURE() << "stdout: " << viewer_->StdoutText() << "stderr: " << viewer_->StderrText();
    return seen;
  }

  // The view's pixels above the status line, row by row.
  std::vector<Rgb> View(Window window) {
    const WindowRect rect = client_->Rect(window);
    return client_->RootPixels(rect.x + kPanelLeft, rect.y + kPanelTop, kPanelWidth,
                               kPanelHeight - 20);
  }

  std::string Line(const fs::path& map, int number) {
    const std::string slot = std::to_string(number - 1);
    return Printable(map.string() + ":" + std::to_string(6 * number - 5) + ": record " +
                     std::to_string(number) + ": slot " + slot + " (" +
                     (map.parent_path() / "nyc/00").string() + slot +
                     ".tga), blend 0 (opaque), CW") +
           "\n";
  }
};

INSTANTIATE_TEST_SUITE_P(WindowManager, ViewerPick, ::testing::Values(true));

// A still click prints the record's line and outlines that record only; a drag picks nothing;
// a click on nothing clears the mark; g and --record frame a record and pick it.
TEST_P(ViewerPick, AStillClickPicksAndMarksTheRecordDrawnThere) {
  const fs::path map = WriteTwoSlotScene();
  const Window window = StartFocused({map.string()});
  ASSERT_NE(window, 0u);
  const Camera start;
  double px = 0, py = 0;
  ProjectToPanel(start, 0.5, 0.0, kPanelWidth, kPanelHeight, px, py);
  // A drag pans and picks nothing; r brings the start camera back.
  Drag(window, Button1, static_cast<int>(px), static_cast<int>(py), static_cast<int>(px) + 30,
       static_cast<int>(py));
  ASSERT_TRUE(WaitForTitle(window, "-0.59 0.00 -2.48"));
  client_->Key(XK_r);
  ASSERT_TRUE(WaitForTitle(window, "0.01 0.00 -2.48"));
  EXPECT_EQ(viewer_->StdoutText(), "");
  Click(window, static_cast<int>(px), static_cast<int>(py));
  ASSERT_TRUE(WaitForStdout(Line(map, 2))) << viewer_->StdoutText();
  // The mark: the green quad's outline, which runs from x 0 to 1 and y -0.5 to 0.5.
  double left = 0, top = 0, right = 0, bottom = 0;
  ProjectToPanel(start, -0.01, 0.5, kPanelWidth, kPanelHeight, left, top);
  ProjectToPanel(start, 0.99, -0.5, kPanelWidth, kPanelHeight, right, bottom);
  int marked = 0, astray = 0;
  ASSERT_TRUE(PollUntil(
      [&] {
        const std::vector<Rgb> view = View(window);
        marked = astray = 0;
        for (size_t i = 0; i < view.size(); ++i) {
          if (!IsMark(view[i])) continue;
          const int x = static_cast<int>(i % kPanelWidth), y = static_cast<int>(i / kPanelWidth);
          const bool nearEdge = x > left - 3 && x < right + 3 && y > top - 3 && y < bottom + 3 &&
                                (std::abs(x - left) < 3 || std::abs(x - right) < 3 ||
                                 std::abs(y - top) < 3 || std::abs(y - bottom) < 3);
          ++(nearEdge ? marked : astray);
        }
        return marked > 200;
      },
      kTitleTimeout))
      << marked << " marked";
  EXPECT_EQ(astray, 0);
  Click(window, 5, 5);  // nothing is drawn there
  EXPECT_TRUE(PollUntil(
      [&] {
        const std::vector<Rgb> view = View(window);
        return std::none_of(view.begin(), view.end(), IsMark);
      },
      kTitleTimeout));

  // g 1 Enter: the red quad centred, about half the view's height, and its line.
  client_->Key(XK_g);
  client_->Key(XK_1);
  client_->Key(XK_Return);
  ASSERT_TRUE(WaitForStdout(Line(map, 2) + Line(map, 1)));
  EXPECT_TRUE(PollUntil(
      [&] {
        return IsRed(PanelPixel(window, kPanelWidth / 2, kPanelHeight / 2)) &&
               IsBlack(PanelPixel(window, kPanelWidth / 2, kPanelHeight / 8));
      },
      kTitleTimeout));
  client_->Key(XK_g);
  client_->Key(XK_9);
  client_->Key(XK_Return);
  EXPECT_TRUE(PollUntil(
      [&] { return viewer_->StderrText() == "quadview: no record 9: the scene has 2 records\n"; },
      kTitleTimeout))
      << viewer_->StderrText();
  CloseAndExpectCleanExit(window);

  const Window again = StartFocused({"--record", "2", map.string()});
  ASSERT_NE(again, 0u);
  EXPECT_TRUE(WaitForStdout(Line(map, 2)));
  EXPECT_TRUE(
      PollUntil([&] { return IsGreen(PanelPixel(again, kPanelWidth / 2, kPanelHeight / 2)); },
                kTitleTimeout));
  CloseAndExpectCleanExit(again);
}

// f and --fit show the whole scene, however far the start camera is; i shows the picked
// slot alone and then all again; F12 writes the view as a PNG beside the viewer.
TEST_P(ViewerPick, FitIsolateAndThePicture) {
  const fs::path map = WriteTwoSlotScene();
  const Window window = StartFocused({"--distance", "-60", "--pan", "30", "0", map.string()});
  ASSERT_NE(window, 0u);
  const auto whole = [&] {
    const std::vector<Rgb> view = View(window);
    int red = 0, green = 0, edge = 0;
    for (size_t i = 0; i < view.size(); ++i) {
      red += IsRed(view[i]);
      green += IsGreen(view[i]);
      const size_t x = i % kPanelWidth;
      edge += (x == 0 || x == kPanelWidth - 1 || i < kPanelWidth) && !IsBlack(view[i]);
    }
    return red > 5000 && green > 5000 && edge == 0;
  };
  EXPECT_FALSE(whole());
  client_->Key(XK_f);
  EXPECT_TRUE(PollUntil(whole, kTitleTimeout));

  // The red quad picked, then i: the green one is gone, then back.
  Click(window, kPanelWidth / 4, kPanelHeight / 2);
  ASSERT_TRUE(WaitForStdout(Line(map, 1))) << viewer_->StdoutText();
  client_->Key(XK_i);
  EXPECT_TRUE(PollUntil(
      [&] {
        const std::vector<Rgb> view = View(window);
        return std::none_of(view.begin(), view.end(), IsGreen);
      },
      kTitleTimeout));
  client_->Key(XK_i);
  EXPECT_TRUE(PollUntil(whole, kTitleTimeout));

  // F12 without the mark: the picture is the view, pixel for pixel.
  Click(window, 2, 2);
  ASSERT_TRUE(PollUntil(
      [&] {
        const std::vector<Rgb> view = View(window);
        return std::none_of(view.begin(), view.end(), IsMark);
      },
      kTitleTimeout));
  client_->Key(XK_F12);
  std::string path;
  ASSERT_TRUE(PollUntil(
      [&] {
        const std::string out = viewer_->StdoutText();
        const size_t last = out.rfind('\n', out.size() - 2);
        path = out.substr(last + 1);
        return path.size() > 5 && path.compare(path.size() - 5, 5, ".png\n") == 0;
      },
      kTitleTimeout));
  path.pop_back();
  EXPECT_EQ(fs::path(path).parent_path(), fs::path(dir_.path()).lexically_normal());
  EXPECT_EQ(fs::path(path).filename().string().rfind("nyc-", 0), 0u) << path;
  int width = 0, height = 0, channels = 0;
  std::unique_ptr<uint8_t, void (*)(void*)> png(
      stbi_load(path.c_str(), &width, &height, &channels, 3), stbi_image_free);
  ASSERT_NE(png, nullptr);
  ASSERT_EQ(width, kPanelWidth);
  ASSERT_EQ(height, kPanelHeight);
  int differing = 0;
  PollUntil(
      [&] {
        const std::vector<Rgb> view = View(window);
        differing = 0;
        for (size_t i = 0; i < view.size(); ++i) {
          const uint8_t* p = png.get() + i * 3;
          differing += view[i].r != p[0] || view[i].g != p[1] || view[i].b != p[2];
        }
        return differing == 0;
      },
      kTitleTimeout);
  EXPECT_EQ(differing, 0);
  CloseAndExpectCleanExit(window);

  const Window fitted = StartFocused({"--fit", "--distance", "-60", map.string()});
  ASSERT_NE(fitted, 0u);
  EXPECT_TRUE(PollUntil(
      [&] { return IsRed(PanelPixel(fitted, kPanelWidth / 4, kPanelHeight / 2)); }, kTitleTimeout));
  CloseAndExpectCleanExit(fitted);
}

// e runs the editor with +LINE FILE and does not wait for it: the viewer answers a click
// while the editor still runs. Without a pick, one line says so.
TEST_P(ViewerPick, EOpensThePickedRecordInTheEditor) {
  // In a folder whose name a shell would run as a command, were it part of one.
  const fs::path hostile = fs::path(dir_.path()) / "a\t';touch INJ #";
  fs::create_directories(hostile);
  fs::rename(WriteTwoSlotScene(), hostile / "nyc.map");
  fs::rename(fs::path(dir_.path()) / "nyc", hostile / "nyc");
  const fs::path map = hostile / "nyc.map";
  const std::string editor = dir_.File("editor.sh");
  WriteFile(editor, "#!/bin/sh\necho \"$@\" > " + dir_.File("opened.txt") + "\nsleep 5\n");
  fs::permissions(editor, fs::perms::owner_all);
  const Window window = StartFocused({map.string()}, {"VISUAL=" + editor});
  ASSERT_NE(window, 0u);
  client_->Key(XK_e);
  EXPECT_TRUE(PollUntil(
      [&] {
        return viewer_->StderrText() == "quadview: e: no record is picked; click one first\n";
      },
      kTitleTimeout));
  const Camera start;
  double px = 0, py = 0;
  ProjectToPanel(start, 0.5, 0.0, kPanelWidth, kPanelHeight, px, py);
  Click(window, static_cast<int>(px), static_cast<int>(py));
  ASSERT_TRUE(WaitForStdout(Line(map, 2)));
  client_->Key(XK_e);
  EXPECT_TRUE(
      PollUntil([&] { return ReadFile(dir_.File("opened.txt")) == "+7 " + map.string() + "\n"; },
                kTitleTimeout));
  EXPECT_FALSE(fs::exists(dir_.File("INJ")));
  ProjectToPanel(start, -0.5, 0.0, kPanelWidth, kPanelHeight, px, py);
  Click(window, static_cast<int>(px), static_cast<int>(py));
  EXPECT_TRUE(WaitForStdout(Line(map, 2) + Line(map, 1)));
  CloseAndExpectCleanExit(window);
}

}  // namespace
