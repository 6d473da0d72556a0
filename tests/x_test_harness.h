// Test harness for the viewer's real window: a private Xvfb server, the quadview process with
// its stderr captured, and an Xlib/XTest client to find windows, read titles and pixels and
// drive the pointer. Every wait polls with a deadline; nothing sleeps to let time pass.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Polls `condition` every few milliseconds until it holds or `timeout` has passed.
bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// An Xvfb server on a display number it picks itself (-displayfd), killed on destruction.
class XvfbServer {
 public:
  XvfbServer(int width, int height);
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", or empty when the server did not come up.
  const std::string& DisplayName() const { return displayName_; }

 private:
  pid_t pid_ = -1;
  std::string displayName_;
};

// A child process with DISPLAY set and stderr written to a file; killed and reaped on
// destruction if it is still running.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
               const std::string& stderrPath);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Running();
  // Waits for the exit; true with the raw wait status when it came before the timeout.
  bool WaitForExit(std::chrono::milliseconds timeout, int& status);
  std::string StderrText() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string stderrPath_;
};

struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
};

struct WindowRect {
  int x = 0;  // root coordinates of the top-left corner of the window's inside
  int y = 0;
  int width = 0;
  int height = 0;
};

// An X client connection to the test server.
class XClient {
 public:
  explicit XClient(const std::string& displayName);
  ~XClient();
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  bool Connected() const { return display_ != nullptr; }

  // Mapped top-level windows whose WM_NAME satisfies `match`.
  std::vector<Window> FindWindows(const std::function<bool(const std::string&)>& match);
  std::string Title(Window window);
  WindowRect Rect(Window window);
  bool Exists(Window window);

  Rgb RootPixel(int x, int y);

  void MovePointer(int x, int y);
  void Button(unsigned button, bool press);
  void Key(unsigned long keysym);
  void Focus(Window window);
  void Resize(Window window, int width, int height);
  // Sends WM_DELETE_WINDOW as a window manager would (there is none on the test server).
  void RequestClose(Window window);

 private:
  Display* display_ = nullptr;
};
