// Xvfb, openbox, child process and X client helpers for the viewer window tests.
// Relies on Xvfb's -displayfd option to choose a free display without guessing numbers, and on
// the EWMH messages openbox implements (_NET_ACTIVE_WINDOW, _NET_CLOSE_WINDOW).
#include "x_test_harness.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(5);
constexpr auto kServerStartTimeout = std::chrono::seconds(20);

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Windows come and go while the tests look at them (a box closing between XQueryTree and
// XGetWindowAttributes); Xlib's default handler would end the test process on BadWindow.
// The failing call returns 0 and its caller treats the window as gone.
int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

// A test process that ends abruptly (a failed assertion in a fatal handler, a signal) must
// not leave the server or the viewer running.
void DieWithParent() {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
}

void KillAndReap(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollStep);
  }
}

XvfbServer::XvfbServer(int width, int height, bool resetWhenIdle) {
  int fds[2];
  if (pipe(fds) != 0) return;
  std::vector<std::string> args = {"Xvfb",
                                   "-displayfd",
                                   std::to_string(fds[1]),
                                   "-nolisten",
                                   "tcp",
                                   "-screen",
                                   "0",
                                   std::to_string(width) + "x" + std::to_string(height) + "x24"};
  if (!resetWhenIdle) args.push_back("-noreset");
  pid_ = fork();
  if (pid_ == 0) {
    DieWithParent();
    close(fds[0]);
    int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, 0);
    dup2(devNull, 1);
    dup2(devNull, 2);
    std::vector<char*> argv = CStrings(args);
    execvp("Xvfb", argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + kServerStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd readable = {fds[0], POLLIN, 0};
    const int remainingMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 deadline - std::chrono::steady_clock::now())
                                                 .count());
    if (poll(&readable, 1, remainingMs > 0 ? remainingMs : 0) <= 0) break;
    char c = 0;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) return;
  const std::string name = ":" + number;
  // The number is written once the server listens; still poll until a client gets in.
  const bool accepting = PollUntil(
      [&] {
        Display* probe = XOpenDisplay(name.c_str());
        if (probe == nullptr) return false;
        XCloseDisplay(probe);
        return true;
      },
      std::chrono::seconds(10));
  if (accepting) displayName_ = name;
}

XvfbServer::~XvfbServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  const bool ended =
      PollUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, std::chrono::seconds(5));
  if (!ended) KillAndReap(pid_);
}

WindowManager::WindowManager(const std::string& displayName, const std::string& configFolder,
                             const std::string& applicationRules) {
  const std::string config = configFolder + "/rc.xml";
  std::ofstream(config) << "<?xml version=\"1.0\"?>\n"
                           "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">\n"
                           "<focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>\n"
                           "<applications>"
                        << applicationRules << "</applications>\n</openbox_config>\n";
  pid_ = fork();
  if (pid_ == 0) {
    DieWithParent();
    int devNull = open("/dev/null", O_RDWR);
    int log = open((configFolder + "/openbox.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(devNull, 0);
    dup2(log, 1);
    dup2(log, 2);
    setenv("DISPLAY", displayName.c_str(), 1);
    execlp("openbox", "openbox", "--config-file", config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Ready once it manages new windows: a probe window mapped now gets reparented into a frame.
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) return;
  const Window root = DefaultRootWindow(display);
  const Window probe = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
  XStoreName(display, probe, "window manager probe");
  XMapWindow(display, probe);
  XSync(display, False);
  running_ = PollUntil(
      [&] {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, probe, &rootReturn, &parent, &children, &count) == 0) return false;
        if (children != nullptr) XFree(children);
        return parent != root;
      },
      std::chrono::seconds(20));
  XDestroyWindow(display, probe);
  XCloseDisplay(display);
}

WindowManager::~WindowManager() {
  KillAndReap(pid_);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnv, const std::string& stderrPath,
                           const std::string& stdoutPath, const std::string& workingFolder)
    : stderrPath_(stderrPath), stdoutPath_(stdoutPath) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& extra : extraEnv) {
      const std::string key = extra.substr(0, extra.find('=') + 1);
      if (entry.compare(0, key.size(), key) == 0) replaced = true;
    }
    if (!replaced) env.push_back(entry);
  }
  for (const std::string& extra : extraEnv) env.push_back(extra);
  pid_ = fork();
  if (pid_ == 0) {
    DieWithParent();
    int devNull = open("/dev/null", O_RDWR);
    int errFile = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int outFile =
        stdoutPath.empty() ? devNull : open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(devNull, 0);
    dup2(outFile, 1);
    dup2(errFile, 2);
    if (!workingFolder.empty() && chdir(workingFolder.c_str()) != 0) _exit(126);
    std::vector<char*> argvPointers = CStrings(args);
    std::vector<char*> envPointers = CStrings(env);
    execve(argvPointers[0], argvPointers.data(), envPointers.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (!reaped_) KillAndReap(pid_);
}

bool ChildProcess::Running() {
  if (reaped_ || pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
    return false;
  }
  return true;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout, int& status) {
  if (reaped_ || pid_ <= 0) return false;
  const bool ended = PollUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
  if (ended) reaped_ = true;
  return ended;
}

std::string ChildProcess::StderrText() const {
  std::ifstream file(stderrPath_);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string ChildProcess::StdoutText() const {
  std::ifstream file(stdoutPath_);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

XClient::XClient(const std::string& displayName, bool managed) : managed_(managed) {
  XSetErrorHandler(IgnoreXError);
  if (!displayName.empty()) display_ = XOpenDisplay(displayName.c_str());
}

XClient::~XClient() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

void XClient::CollectWindows(Window parent, bool viewableOnly,
                             const std::function<bool(const std::string&)>& match,
                             std::vector<Window>& found) {
  Window rootReturn = 0;
  Window parentReturn = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display_, parent, &rootReturn, &parentReturn, &children, &count) == 0) return;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, children[i], &attributes) == 0) continue;
    char* name = nullptr;
    const bool named = XFetchName(display_, children[i], &name) != 0 && name != nullptr;
    if (name != nullptr) XFree(name);
    if (named) {
      // A client window: the viewer's own child windows carry no name.
      if ((!viewableOnly || attributes.map_state == IsViewable) && match(Title(children[i]))) {
        found.push_back(children[i]);
      }
    } else {
      CollectWindows(children[i], viewableOnly, match, found);  // a window manager's frame
    }
  }
  if (children != nullptr) XFree(children);
}

std::vector<Window> XClient::FindWindows(const std::function<bool(const std::string&)>& match) {
  std::vector<Window> found;
  CollectWindows(DefaultRootWindow(display_), true, match, found);
  return found;
}

std::vector<Window> XClient::FindAnyWindows(const std::function<bool(const std::string&)>& match) {
  std::vector<Window> found;
  CollectWindows(DefaultRootWindow(display_), false, match, found);
  return found;
}

std::string XClient::Title(Window window) {
  char* name = nullptr;
  std::string title;
  if (XFetchName(display_, window, &name) != 0 && name != nullptr) {
    title = name;
    XFree(name);
  }
  return title;
}

WindowRect XClient::Rect(Window window) {
  WindowRect rect;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display_, window, &attributes) == 0) return rect;
  Window child = 0;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &rect.x, &rect.y,
                        &child);
  rect.width = attributes.width;
  rect.height = attributes.height;
  return rect;
}

bool XClient::Exists(Window window) {
  bool exists = false;
  for (Window w : FindWindows([](const std::string&) { return true; })) {
    if (w == window) exists = true;
  }
  return exists;
}

std::vector<Rgb> XClient::RootPixels(int x, int y, int width, int height) {
  std::vector<Rgb> pixels;
  XImage* image =
      XGetImage(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return pixels;
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      const unsigned long pixel = XGetPixel(image, column, row);
      pixels.push_back(Rgb{static_cast<int>((pixel & image->red_mask) >> 16),
                           static_cast<int>((pixel & image->green_mask) >> 8),
                           static_cast<int>(pixel & image->blue_mask)});
    }
  }
  XDestroyImage(image);
  return pixels;
}

std::string XClient::WindowClass(Window window) {
  XClassHint hint{};
  if (XGetClassHint(display_, window, &hint) == 0) return "";
  const std::string name = std::string(hint.res_name != nullptr ? hint.res_name : "") + "." +
                           (hint.res_class != nullptr ? hint.res_class : "");
  XFree(hint.res_name);
  XFree(hint.res_class);
  return name;
}

bool XClient::HasIcon(Window window) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  const Atom icon = XInternAtom(display_, "_NET_WM_ICON", False);
  const bool found = XGetWindowProperty(display_, window, icon, 0, 2, False, AnyPropertyType, &type,
                                        &format, &items, &after, &data) == Success &&
                     type != None && items == 2;
  if (data != nullptr) XFree(data);
  return found;
}

Rgb XClient::RootPixel(int x, int y) {
  Rgb rgb;
  XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return rgb;
  const unsigned long pixel = XGetPixel(image, 0, 0);
  rgb.r = static_cast<int>((pixel & image->red_mask) >> 16);
  rgb.g = static_cast<int>((pixel & image->green_mask) >> 8);
  rgb.b = static_cast<int>(pixel & image->blue_mask);
  XDestroyImage(image);
  return rgb;
}

void XClient::MovePointer(int x, int y) {
  XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
  XSync(display_, False);
}

void XClient::Button(unsigned button, bool press) {
  XTestFakeButtonEvent(display_, button, press ? True : False, CurrentTime);
  XSync(display_, False);
}

void XClient::Key(unsigned long keysym, unsigned long modifier) {
  const KeyCode code = XKeysymToKeycode(display_, keysym);
  const KeyCode held = modifier != 0 ? XKeysymToKeycode(display_, modifier) : 0;
  if (held != 0) XTestFakeKeyEvent(display_, held, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, False, CurrentTime);
  if (held != 0) XTestFakeKeyEvent(display_, held, False, CurrentTime);
  XSync(display_, False);
}

void XClient::SendToRoot(const char* messageType, Window window, long first, long second) {
  XEvent event;
  std::memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, messageType, False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = first;
  event.xclient.data.l[1] = second;
  XSendEvent(display_, DefaultRootWindow(display_), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XSync(display_, False);
}

void XClient::Focus(Window window) {
  constexpr long kFromPager = 2;  // EWMH source indication: a user's request
  if (managed_) {
    SendToRoot("_NET_ACTIVE_WINDOW", window, kFromPager, CurrentTime);
    return;
  }
  XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
  XSync(display_, False);
}

bool XClient::Focused(Window window) {
  Window focus = None;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);
  while (focus != None && focus != PointerRoot) {
    if (focus == window) return true;
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display_, focus, &root, &parent, &children, &count) == 0) return false;
    if (children != nullptr) XFree(children);
    focus = parent == root ? None : parent;
  }
  return false;
}

void XClient::Resize(Window window, int width, int height) {
  XResizeWindow(display_, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XSync(display_, False);
}

void XClient::RequestClose(Window window) {
  constexpr long kFromPager = 2;
  if (managed_) {
    SendToRoot("_NET_CLOSE_WINDOW", window, CurrentTime, kFromPager);
    return;
  }
  XEvent event;
  std::memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XSync(display_, False);
}

void XClient::Minimise(Window window) {
  if (managed_) {
    XIconifyWindow(display_, window, DefaultScreen(display_));
  } else {
    XUnmapWindow(display_, window);
  }
  XSync(display_, False);
}

void XClient::Restore(Window window) {
  // A map request from the client's side: a window manager shows an iconified window again.
  XMapRaised(display_, window);
  XSync(display_, False);
  if (managed_) Focus(window);
}

bool XClient::Iconic(Window window) {
  constexpr long kIconicState = 3;
  const Atom wmState = XInternAtom(display_, "WM_STATE", False);
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  bool iconic = false;
  if (XGetWindowProperty(display_, window, wmState, 0, 2, False, wmState, &type, &format, &items,
                         &after, &data) == Success &&
      data != nullptr && items >= 1) {
    iconic = reinterpret_cast<long*>(data)[0] == kIconicState;
  }
  if (data != nullptr) XFree(data);
  return iconic;
}

Window XClient::TransientFor(Window window) {
  Window owner = 0;
  return XGetTransientForHint(display_, window, &owner) != 0 ? owner : 0;
}

Window XClient::CreateOtherWindow() {
  const Window other =
      XCreateSimpleWindow(display_, DefaultRootWindow(display_), 700, 500, 200, 150, 0, 0,
                          WhitePixel(display_, DefaultScreen(display_)));
  XStoreName(display_, other, "other");
  XMapRaised(display_, other);
  XSync(display_, False);
  PollUntil([&] { return !FindWindows([](const std::string& t) { return t == "other"; }).empty(); },
            std::chrono::seconds(10));
  Focus(other);
  return other;
}
