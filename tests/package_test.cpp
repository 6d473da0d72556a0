// What `cmake --install` and the Debian package hold: the package built from this build with
// cpack under a Debian 13 user's umask, its contents, modes and metadata read back with
// dpkg-deb and judged by lintian and appstreamcli, quadscene's bash completion, and the man
// pages, which hold every command and option and fit 80 columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/command_runner.h"
#include "tests/test_files.h"

namespace {

TEST(Package, DebianPackageHoldsTheProgramsPagesAndDesktopEntryWithComputedDepends) {
  TempDir dir;
  ASSERT_EQ(std::system(("umask 002 && cpack -G DEB --config " QUADVIEW_BINARY_DIR
                         "/CPackConfig.cmake -B " +
                         dir.path() + " >" + dir.File("cpack.log") + " 2>&1")
                            .c_str()),
            0)
      << ReadFile(dir.File("cpack.log"));
  const std::string deb = dir.File("quadview_" QUADVIEW_VERSION "_amd64.deb");
  const std::string contents = Shell("dpkg-deb -c " + deb);
  for (const char* file :
       {"./usr/bin/quadview", "./usr/bin/quadscene", "./usr/share/man/man1/quadview.1.gz",
        "./usr/share/man/man1/quadscene.1.gz", "./usr/share/applications/quadview.desktop",
        "./usr/share/icons/hicolor/scalable/apps/quadview.svg",
        "./usr/share/icons/hicolor/64x64/apps/quadview.png",
        "./usr/share/metainfo/invalid.quadview.quadview.metainfo.xml",
        "./usr/share/bash-completion/completions/quadscene", "./usr/share/doc/quadview/README.md",
        "./usr/share/doc/quadview/copyright", "./usr/share/doc/quadview/changelog.gz",
        // the Blender add-on where Blender 3.4 and Blender 4.2 and later look for it
        "./usr/share/blender/scripts/addons/io_scene_quadview/__init__.py",
        "./usr/share/blender/extensions/system/io_scene_quadview/__init__.py",
        "./usr/share/blender/extensions/system/io_scene_quadview/blender_manifest.toml"}) {
    EXPECT_NE(contents.find(std::string(" ") + file + "\n"), std::string::npos) << file;
  }
  // Fixed modes whatever the umask: folders 0755, files 0644, the two programs 0755.
  std::istringstream entries(contents);
  for (std::string entry; std::getline(entries, entry);) {
    const bool program = entry.find("./usr/bin/quad") != std::string::npos;
    const std::string mode = entry.substr(0, 10);
    EXPECT_TRUE(mode == "drwxr-xr-x" || mode == (program ? "-rwxr-xr-x" : "-rw-r--r--")) << entry;
  }
  const std::string info = Shell("dpkg-deb -I " + deb);
  EXPECT_NE(info.find(" Package: quadview\n"), std::string::npos) << info;
  EXPECT_NE(info.find(" Version: " QUADVIEW_VERSION "\n"), std::string::npos) << info;
  EXPECT_NE(info.find(" Maintainer: "), std::string::npos) << info;
  EXPECT_NE(info.find(" Description: viewer for 3D scenes made of textured quadrilaterals\n"),
            std::string::npos)
      << info;
  // Depends comes from the libraries the programs link, not from a hand-written list.
  for (const char* library : {"libfltk1.3", "libfltk-gl1.3", "libassimp5", "libegl1", "libc6"}) {
    EXPECT_NE(info.find(library), std::string::npos) << library << "\n" << info;
  }
  // Debian's own judge of packages finds no error and no warning (a copyright file, a
  // changelog, hardened programs among what it checks).
  EXPECT_EQ(Shell("lintian --tag-display-limit 0 " + deb + " 2>/dev/null | grep -E '^[EW]: '"), "");
  const std::string desktop = Shell("dpkg-deb --fsys-tarfile " + deb +
                                    " | tar -xO ./usr/share/applications/quadview.desktop");
  EXPECT_NE(desktop.find("\nExec=quadview %f\n"), std::string::npos) << desktop;
  EXPECT_NE(desktop.find("\nCategories=Graphics;3DGraphics;Viewer;\n"), std::string::npos);
  EXPECT_NE(desktop.find("\nStartupWMClass=Quadview\n"), std::string::npos);
  const std::string metainfo = dir.File("quadview.metainfo.xml");
  ASSERT_EQ(
      std::system(("dpkg-deb --fsys-tarfile " + deb +
                   " | tar -xO ./usr/share/metainfo/invalid.quadview.quadview.metainfo.xml >" +
                   metainfo)
                      .c_str()),
      0);
  EXPECT_EQ(Shell("appstreamcli validate --no-net " + metainfo + " | grep -E '^[EW]: '"), "");
}

// quadscene's completion, as bash runs it: commands, each command's options (every option its
// --help names), and files by the extensions the command takes.
TEST(Package, BashCompletionCompletesCommandsOptionsAndFiles) {
  TempDir dir;
  for (const char* file : {"a.map", "b.tga", "c.glb", "notes.txt"}) WriteFile(dir.File(file), "");
  // (complete.sh, below, is one more file that no command takes.)
  const std::string script = QUADVIEW_SOURCE_DIR "/docs/package/quadscene.bash-completion";
  // Completes the last of the words it is given; prints the completions sorted, on one line.
  WriteFile(dir.File("complete.sh"),
            ". /usr/share/bash-completion/bash_completion\n. " + script +
                "\nCOMP_WORDS=(\"$@\")\nCOMP_CWORD=$(($# - 1))\n_quadscene\n"
                "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | tr '\\n' ' '\n");
  const auto complete = [&](const std::string& words) {
    return Shell("cd " + dir.path() + " && bash complete.sh " + words);
  };
  const std::pair<std::string, std::string> cases[] = {
      {"quadscene ''",
       "--help --version check demo diff dump export import info pick render texture "},
      {"quadscene re", "render "},
      {"quadscene render --t", "--tilt "},
      {"quadscene check ''", "a.map "},
      {"quadscene texture ''", "b.tga "},
      {"quadscene export a.map -o ''", "c.glb "},
      {"quadscene import --order ''", "auto far-first file "},
      {"quadscene diff --as ''", "miami.map nyc.map sanb.map "},
  };
  for (const auto& [words, expected] : cases) {
    // Folders are offered beside files; the test's folder has none.
    EXPECT_EQ(complete(words), expected) << words;
  }
  const std::string completion = ReadFile(script);
  for (const char* command :
       {"demo", "dump", "info", "texture", "render", "export", "import", "pick", "check", "diff"}) {
    std::istringstream help(RunQuadscene(std::string(command) + " --help", dir).out);
    for (std::string line; std::getline(help, line);) {
      const size_t dashes = line.find("--");
      if (line.rfind("  -", 0) != 0 || dashes == std::string::npos) continue;
      const std::string option = line.substr(dashes, line.find_first_of(" ,", dashes) - dashes);
      EXPECT_NE(completion.find(option), std::string::npos) << command << " " << option;
    }
  }
}

// The man page is generated from the program's own help: every command and option is in it.
TEST(Package, ManPageNamesEveryCommandAndOption) {
  TempDir dir;
  const std::string page = ReadFile(QUADVIEW_BINARY_DIR "/docs/package/man/quadscene.1");
  ASSERT_FALSE(page.empty());
  EXPECT_NE(page.find("quadscene " QUADVIEW_VERSION), std::string::npos);
  const std::string help = RunQuadscene("--help", dir).out;
  std::istringstream lines(help.substr(help.find("Subcommands:")));
  std::string line;
  std::vector<std::string> commands;
  while (std::getline(lines, line)) {
    if (line.size() > 2 && line[0] == ' ' && line[2] != ' ') {
      commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
  }
  ASSERT_GE(commands.size(), 9u);
  for (const std::string& command : commands) {
    EXPECT_NE(page.find(".SS " + command + "\n"), std::string::npos) << command;
    std::istringstream options(RunQuadscene(command + " --help", dir).out);
    while (std::getline(options, line)) {
      const size_t dashes = line.find("--");
      if (line.rfind("  -", 0) != 0 || dashes == std::string::npos) continue;
      const std::string option = line.substr(dashes, line.find_first_of(" ,", dashes) - dashes);
      std::string escaped;
      for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
      EXPECT_NE(page.find(escaped), std::string::npos) << command << " " << option;
    }
  }
  const std::string viewerPage = ReadFile(QUADVIEW_BINARY_DIR "/docs/package/man/quadview.1");
  EXPECT_NE(viewerPage.find("quadview " QUADVIEW_VERSION), std::string::npos);
  // Width in characters: under a UTF-8 locale groff breaks words with a three-byte hyphen.
  for (const char* name : {"quadscene.1", "quadview.1"}) {
    std::istringstream shown(
        Shell(std::string("MANWIDTH=80 man -l " QUADVIEW_BINARY_DIR "/docs/package/man/") + name +
              " 2>&1"));
    while (std::getline(shown, line)) {
      const auto characters = std::count_if(line.begin(), line.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;  // not a UTF-8 continuation
      });
      EXPECT_LE(characters, 80) << name << ": " << line;
    }
  }
}

}  // namespace
