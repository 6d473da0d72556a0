// What every quadscene command shares: exit statuses, option parsing with range checks and
// plain-words messages, the camera options, the guard that turns every failure into a
// diagnostic and status 1, and checked output to stdout and to PNG files.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "scene/scene_types.h"

constexpr int kExitOk = 0;
constexpr int kExitBadFile = 1;
constexpr int kExitUsage = 2;

constexpr int kMaxViewSidePixels = 16384;

// Help in plain words within 80 columns: each option with its value's name alone (no type,
// validator, count or default of the parser's), descriptions wrapped, "Required." before a
// required option's. Set on the main command before its subcommands are added.
void UsePlainHelp(CLI::App& app);

// A whole-number option; anything outside [minimum, maximum] or not a whole number is a usage
// error naming the option and the range: "--frames: expected a whole number from 1 to 1000000".
void AddWholeNumberOption(CLI::App* command, const std::string& name, int64_t& target,
                          int64_t minimum, int64_t maximum, const std::string& description);

// A finite float32 option, its value named `valueName` in the help: "--tilt: expected a
// number between -3.4e38 and 3.4e38".
void AddFloatOption(CLI::App* command, const std::string& name, float& target,
                    const std::string& description, const std::string& valueName);

// The camera a command draws or exports with: the view size and the CameraState, the start
// camera and the view panel's size by default.
struct ViewOptions {
  int width = 0;
  int height = 0;
  CameraState camera;
  bool fit = false;
  ViewOptions();
};

// --size WxH, --pan X Y, --distance D, --tilt T, --spin S.
void AddViewOptions(CLI::App* command, ViewOptions& options);
// --as NAME: the scene's texture numbers read (and written) as a file named NAME has them
// (ReadTextureNumbersAs), for every command that reads or writes a scene.
void AddAsOption(CLI::App* command);

// --fit, for the commands that draw or pick a scene they have read.
void AddFitOption(CLI::App* command, ViewOptions& options);
// The camera to draw `quads` with: the options' own, or with --fit the one that shows all.
CameraState ViewCamera(const ViewOptions& options, const QuadTable& quads);

// "1 texture", "2 textures": a count with its noun, in the plural but for one.
std::string Counted(int64_t count, const std::string& noun);

// Runs `work` and returns the exit status: 0, or 1 after printing the failure on stderr,
// whatever was thrown: "FILE:LINE: message" for scene errors, "Not enough memory reading
// FILE" when memory ran out (FILE: the command's input).
int RunCommand(const std::string& inputFile, const std::function<void()>& work);

// RunCommand for a command that reads the scene `scenePath`: a missing scene file, or a path
// that is not a regular file, fails as "FILE: Cannot open file FILE" before anything else is
// read, so the message names the scene rather than its first texture.
int RunSceneCommand(const std::string& scenePath, const std::function<void()>& work);

// Ends a command that went on past a failure to report all it could: with two failures,
// prints `earlier` on stderr and raises `last`; with one, raises it; with none, returns.
void RaiseFailures(std::exception_ptr earlier, std::exception_ptr last);

// Flushes stdout; SceneError "Cannot write file standard output: REASON" when the output
// could not be written (a full disk, a closed pipe reader).
void FlushStandardOutput();
// The same check without the flush, for commands that print a lot: stops them early.
void CheckStandardOutput();

// A headless view's RGBA pixels (ReadHeadlessPixels, top row first) written as an RGB
// PNG: the window shows no alpha (the cleared alpha is 0).
void WriteViewPng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);

// EncodePng (scene/png_writer.h) written through a checked OutputFile.
void WritePngFile(const std::string& path, int width, int height, int channels,
                  const uint8_t* pixels, bool bottomRowFirst = false);
