// Xvfb, child process and X client helpers for the viewer window tests.
// Relies on Xvfb's -displayfd option to choose a free display without guessing numbers.
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

XvfbServer::XvfbServer(int width, int height) {
  int fds[2];
  if (pipe(fds) != 0) return;
  std::vector<std::string> args = {"Xvfb",
                                   "-displayfd",
                                   std::to_string(fds[1]),
                                   "-nolisten",
                                   "tcp",
                                   "-screen",
                                   "0",
                                   std::to_string(width) + "x" + std::to_string(height) + "x24",
                                   "-noreset"};
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

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnv, const std::string& stderrPath)
    : stderrPath_(stderrPath) {
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
    dup2(devNull, 0);
    dup2(devNull, 1);
    dup2(errFile, 2);
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

XClient::XClient(const std::string& displayName) {
  XSetErrorHandler(IgnoreXError);
  if (!displayName.empty()) display_ = XOpenDisplay(displayName.c_str());
}

XClient::~XClient() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

std::vector<Window> XClient::FindWindows(const std::function<bool(const std::string&)>& match) {
  std::vector<Window> found;
  Window root = DefaultRootWindow(display_);
  Window rootReturn = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display_, root, &rootReturn, &parent, &children, &count) == 0) return found;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, children[i], &attributes) == 0) continue;
    if (attributes.map_state != IsViewable) continue;
    if (match(Title(children[i]))) found.push_back(children[i]);
  }
  if (children != nullptr) XFree(children);
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

void XClient::Key(unsigned long keysym) {
  const KeyCode code = XKeysymToKeycode(display_, keysym);
  XTestFakeKeyEvent(display_, code, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, False, CurrentTime);
  XSync(display_, False);
}

void XClient::Focus(Window window) {
  XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
  XSync(display_, False);
}

void XClient::Resize(Window window, int width, int height) {
  XResizeWindow(display_, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XSync(display_, False);
}

void XClient::RequestClose(Window window) {
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
