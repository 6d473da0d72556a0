// The viewer's texts: the title caption, the application title and the error box text.
#include "app/title.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <limits>

namespace {

TEST(Caption, ShowsFrameCountAndCameraWithTwoDecimals) {
  EXPECT_EQ(FormatCaption(60, 0.01f, 0.0f, -2.48f, '.'), "OpenGL - 60 FPS | 0.01 0.00 -2.48");
  EXPECT_EQ(FormatCaption(0, -0.99f, 1.0f, -1.28f, '.'), "OpenGL - 0 FPS | -0.99 1.00 -1.28");
  EXPECT_EQ(FormatCaption(12345, 1234.567f, -0.126f, 100.0f, '.'),
            "OpenGL - 12345 FPS | 1234.57 -0.13 100.00");
}

TEST(Caption, UsesTheGivenDecimalSeparator) {
  EXPECT_EQ(FormatCaption(7, 0.01f, 0.0f, -2.48f, ','), "OpenGL - 7 FPS | 0,01 0,00 -2,48");
}

TEST(Caption, ValuesRoundingToZeroNeverShowAMinus) {
  EXPECT_EQ(FormatFixed2(-0.0, '.'), "0.00");
  EXPECT_EQ(FormatFixed2(-0.004, '.'), "0.00");
  EXPECT_EQ(FormatFixed2(-0.0049, ','), "0,00");
  EXPECT_EQ(FormatFixed2(-0.006, '.'), "-0.01");
  EXPECT_EQ(FormatFixed2(-10.001, '.'), "-10.00");
  // A float sum that misses zero: 0.01 - 0.02 + 0.01 in float is a tiny nonzero value.
  const float nearZero = 0.01f - 0.02f + 0.01f - 1e-9f;
  EXPECT_EQ(FormatFixed2(nearZero, '.'), "0.00");
}

TEST(Caption, EnvironmentWithoutANumericLocaleGivesAPoint) {
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(EnvironmentDecimalSeparator(), '.');
  setenv("LC_ALL", "no_SUCH_locale.UTF-8", 1);
  EXPECT_EQ(EnvironmentDecimalSeparator(), '.');
  unsetenv("LC_ALL");
}

TEST(ApplicationTitle, IsTheFileNameCutAtTheFirstDotWithTheRestLowerCase) {
  EXPECT_EQ(ApplicationTitle("/work/build/app/quadview"), "quadview");
  EXPECT_EQ(ApplicationTitle("QuadView"), "Quadview");
  EXPECT_EQ(ApplicationTitle("./bin/QUADVIEW.exe"), "Quadview");
  EXPECT_EQ(ApplicationTitle("/opt/x.y/qv.tar.gz"), "qv");
  EXPECT_EQ(ApplicationTitle("/opt/.hidden"), "");
  EXPECT_EQ(ApplicationTitle("qUAD-ÄB"), "quad-Äb");
}

TEST(ErrorBoxText, GetsAFullStopOnlyAfterCharactersSortingAfterThePoint) {
  EXPECT_EQ(ErrorBoxText("Cannot open file a/000.tga"), "Cannot open file a/000.tga.");
  EXPECT_EQ(ErrorBoxText("'x' is not a valid integer value"), "'x' is not a valid integer value.");
  EXPECT_EQ(ErrorBoxText("value 7"), "value 7.");
  EXPECT_EQ(ErrorBoxText("why?"), "why?.");
  EXPECT_EQ(ErrorBoxText("a/"), "a/.");
  EXPECT_EQ(ErrorBoxText("done."), "done.");
  EXPECT_EQ(ErrorBoxText("stop!"), "stop!");
  EXPECT_EQ(ErrorBoxText("(inner)"), "(inner)");
  EXPECT_EQ(ErrorBoxText("list,"), "list,");
  EXPECT_EQ(ErrorBoxText("'"), "'");
  EXPECT_EQ(ErrorBoxText(""), "");
  EXPECT_EQ(ErrorBoxText("caf\xc3\xa9"), "caf\xc3\xa9.");
}

}  // namespace

// The c key's command: the shortest text of each float, and the path as one shell word.
TEST(ViewCommand, QuotesThePathForTheShellAndWritesEachValueExactly) {
  const struct {
    std::string path;
    std::string file;
  } cases[] = {
      {"/maps/nyc.map", "/maps/nyc.map"},
      {"/my maps/it's.map", "'/my maps/it'\\''s.map'"},
      {"/m/$(rm -rf ~).map", "'/m/$(rm -rf ~).map'"},
      {"/m/a\nb\x1b]0;x\a'\\\xc2\x9b.map", "$'/m/a\\x0ab\\x1b]0;x\\x07\\'\\\\\\xc2\\x9b.map'"},
      {"", "FILE.map"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ViewCommand(c.path, 0.01f, -1e-7f, -2.48f, 1.5f, -360.25f, 535, 326),
              "quadscene render " + c.file +
                  " --pan 0.01 -1e-07 --distance -2.48 --tilt 1.5 --spin -360.25 --size 535x326 "
                  "-o view.png");
  }
}

// e's script (the file and line go to it as arguments) and F12's file name.
TEST(ViewActions, EditorScriptAndPictureName) {
  EXPECT_EQ(EditorScript("code --wait", "vim"), "code --wait \"$@\"");
  EXPECT_EQ(EditorScript("", "vim -u NONE"), "x-terminal-emulator -e vim -u NONE \"$@\"");
  EXPECT_EQ(EditorScript("", ""), "x-terminal-emulator -e sensible-editor \"$@\"");
  std::tm when{};
  when.tm_year = 2026 - 1900, when.tm_mon = 11, when.tm_mday = 9;
  when.tm_hour = 5, when.tm_min = 4, when.tm_sec = 50;
  EXPECT_EQ(PictureName(".", "/maps/nyc.map", when, 1), "./nyc-20261209-050450.png");
  EXPECT_EQ(PictureName("/home/u/", "a.b.map", when, 3), "/home/u/a.b-20261209-050450-3.png");
  EXPECT_EQ(PictureName("/home/u", "", when, 1), "/home/u/quadview-20261209-050450.png");
}

// What a drop on the view opens.
TEST(ViewActions, ADropOpensOneMapFile) {
  const struct {
    std::string text;
    std::string path;
    std::string why;
  } cases[] = {
      {"file:///my%20maps/nyc.MAP\r\n", "/my maps/nyc.MAP", ""},
      {"file://host/m/a%2.map\n", "/m/a%2.map", ""},
      {"/m/nyc.map", "/m/nyc.map", ""},
      {"file:///m/a.map\r\nfile:///m/b.map\r\n", "", "drop one .map file"},
      {"file:///m/model.obj", "", "drop one .map file"},
      {"https://example.invalid/nyc.map", "", "only local files open"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(DroppedScenePath(c.text, why), c.path) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
  }
}
