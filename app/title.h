// Texts the viewer shows: the once-a-second window caption, the application title of the
// error box and the error box's text. Pure string work, no toolkit, so tests call it directly.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// "OpenGL - %d FPS | %f %f %f" with the three values in fixed point with two decimals,
// `decimalSeparator` in place of the point, and a value that rounds to zero shown as "0.00".
std::string FormatCaption(int frameCount, float panX, float panY, float distance,
                          char decimalSeparator);

// One value as the caption writes it: two decimals, `decimalSeparator`, never "-0.00".
std::string FormatFixed2(double value, char decimalSeparator);

// The decimal separator of the numeric locale named by the environment (LC_ALL, LC_NUMERIC,
// LANG), or '.' when none is set or it cannot be loaded. Leaves the process locale alone.
char EnvironmentDecimalSeparator();

// The executable's file name without its folder, cut at the first dot, every character after
// the first lower-cased (A to Z): "/usr/bin/QuadView.bin" gives "Quadview".
std::string ApplicationTitle(const std::string& programPath);

// The error box text: `message` plus "." when it is not empty and its last character comes
// after '.' in byte order (a letter, a digit or '?' gets one; '.', '!' or ')' does not).
std::string ErrorBoxText(const std::string& message);

// The mouse and the keys, as --help and the F1 box list them.
std::string ControlsText();

// The command that draws the view the window shows: "quadscene render FILE --pan X Y
// --distance D --tilt T --spin S --size WxH -o view.png", each value the shortest text that
// reads back as the same float, FILE made absolute and quoted for the shell where it needs it
// (with no scene, the word FILE.map).
std::string ViewCommand(const std::string& scenePath, float panX, float panY, float distance,
                        float tilt, float spin, int width, int height);

// `text` as one shell word: unchanged when no shell treats any of it specially, else quoted
// ($'...' with \xNN escapes when it holds what a terminal would act on).
std::string ShellWord(const std::string& text);

// The `sh -c` script that opens the file and line it is given as "$1" and "$2" ("+LINE" and
// the file: never part of the script, so no name can be read as shell text) in the user's
// editor: `visual` (a program with its own window) as "VISUAL "$@""; else `editor`, or
// sensible-editor when both are empty, a terminal editor, inside "x-terminal-emulator -e".
// The variables' values are taken as shell text, so that values with words
// ("code --wait") work.
std::string EditorScript(const std::string& visual, const std::string& editor);

// The picture file F12 writes for the scene at `scenePath` (none: "quadview"), in `folder`:
// "STEM-YYYYMMDD-HHMMSS.png" at local time `when`, or with "-2", "-3", ... after the time
// for the `attempt`th name tried (from 1).
std::string PictureName(const std::string& folder, const std::string& scenePath,
                        const std::tm& when, int attempt);

// The one quad-list file a drop names: `text` as the toolkit hands a drop over, a URI list
// ("file:///maps/nyc.map", percent-escapes decoded) or plain paths, a line each. "" with
// `why` set when it is not one file named *.map (case aside).
std::string DroppedScenePath(const std::string& text, std::string& why);
