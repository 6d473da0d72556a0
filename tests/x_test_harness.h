// Test harness for the viewer's real window: a private Xvfb server, optionally the openbox
// window manager on it, the quadview process with its stderr captured, and an Xlib/XTest
// client to find windows, read titles and pixels, drive the pointer and ask for what a user
// asks a window manager for (focus, minimise, restore, close). Every wait polls with a
// deadline; nothing sleeps to let time pass.
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
// With `resetWhenIdle` it resets whenever its last client leaves, as a server started by
// xvfb-run does; otherwise it never resets.
class XvfbServer {
 public:
  XvfbServer(int width, int height, bool resetWhenIdle = false);
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", or empty when the server did not come up.
  const std::string& DisplayName() const { return displayName_; }

 private:
  pid_t pid_ = -1;
  std::string displayName_;
};

// The openbox window manager on `displayName`, with an rc.xml holding `applicationRules`
// (openbox <application> elements); killed on destruction. Running() once it manages the
// screen.
class WindowManager {
 public:
  WindowManager(const std::string& displayName, const std::string& configFolder,
                const std::string& applicationRules);
  ~WindowManager();
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  bool Running() const { return running_; }

 private:
  pid_t pid_ = -1;
  bool running_ = false;
};

// A child process with DISPLAY set and stderr (and, given a path, stdout) written to a file,
// run in `workingFolder` when one is given; killed and reaped on destruction if it is still
// running.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
               const std::string& stderrPath, const std::string& stdoutPath = "",
               const std::string& workingFolder = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Running();
  // Waits for the exit; true with the raw wait status when it came before the timeout.
  bool WaitForExit(std::chrono::milliseconds timeout, int& status);
  std::string StderrText() const;
  std::string StdoutText() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string stderrPath_;
  std::string stdoutPath_;
};

struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
};

// Where the viewer's view panel (Panel1) and progress bar (ProgressBar1) sit inside its
// window, from the window's layout, and the colours of the bar: its white trough and its
// saturated blue fill.
constexpr int kPanelLeft = 2;
constexpr int kPanelTop = 3;
constexpr int kPanelWidth = 535;
constexpr int kPanelHeight = 326;
constexpr int kBarLeft = 4;
constexpr int kBarTop = 158;
constexpr int kBarWidth = 531;
constexpr int kBarHeight = 16;
inline bool IsWhite(const Rgb& p) {
  return p.r > 230 && p.g > 230 && p.b > 230;
}
inline bool IsBarFill(const Rgb& p) {
  return p.b > 80 && p.r < 60 && p.g < 60;
}

struct WindowRect {
  int x = 0;  // root coordinates of the top-left corner of the window's inside
  int y = 0;
  int width = 0;
  int height = 0;
};

// An X client connection to the test server.
class XClient {
 public:
  // `managed`: a window manager runs on the server, so focus, minimising and closing go
  // through it as a user's would.
  XClient(const std::string& displayName, bool managed);
  ~XClient();
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  bool Connected() const { return display_ != nullptr; }

  // Viewable client windows (top-level, also when a window manager has reparented them into
  // a frame) whose WM_NAME satisfies `match`.
  std::vector<Window> FindWindows(const std::function<bool(const std::string&)>& match);
  // Client windows in any map state, minimised ones included.
  std::vector<Window> FindAnyWindows(const std::function<bool(const std::string&)>& match);
  std::string Title(Window window);
  WindowRect Rect(Window window);
  bool Exists(Window window);

  Rgb RootPixel(int x, int y);
  // The pixels of a rectangle of the screen, row by row from its top-left corner.
  std::vector<Rgb> RootPixels(int x, int y, int width, int height);
  // WM_CLASS as "instance.Class", and whether the window offers an icon (_NET_WM_ICON).
  std::string WindowClass(Window window);
  bool HasIcon(Window window);

  void MovePointer(int x, int y);
  void Button(unsigned button, bool press);
  // Presses and releases `keysym`, with `modifier` (a modifier key's keysym, as
  // XK_Control_L) held down around it when given.
  void Key(unsigned long keysym, unsigned long modifier = 0);
  void Focus(Window window);
  // True when the keyboard focus is on `window` or a window inside it.
  bool Focused(Window window);
  void Resize(Window window, int width, int height);
  // Asks to close `window`: through the window manager (_NET_CLOSE_WINDOW) when there is one,
  // else with the WM_DELETE_WINDOW message a window manager would send.
  void RequestClose(Window window);
  // Minimises `window` (iconified by the window manager, unmapped on a bare server) and shows
  // it again.
  void Minimise(Window window);
  void Restore(Window window);
  // True when the window manager has `window` iconified (WM_STATE IconicState).
  bool Iconic(Window window);
  // The window `window` is transient for (WM_TRANSIENT_FOR), or 0.
  Window TransientFor(Window window);
  // A plain window of another program, mapped and focused, to switch to.
  Window CreateOtherWindow();

 private:
  void SendToRoot(const char* messageType, Window window, long first, long second);
  void CollectWindows(Window parent, bool viewableOnly,
                      const std::function<bool(const std::string&)>& match,
                      std::vector<Window>& found);

  Display* display_ = nullptr;
  bool managed_ = false;
};
