// wnd_careditor and its run loop. Frames are drawn only by RunMessageLoop below: FLTK calls
// idle callbacks from every Fl::check()/Fl::wait(), including those inside the scene load, the
// timer and the modal boxes, so the frame step is this loop's own code instead of an idle
// callback, and the nested event processing elsewhere never draws a frame.
#include "app/main_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/gl.h>
#include <FL/x.H>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/error_box.h"
#include "app/navigation.h"
#include "app/record_focus.h"
#include "app/scene_load.h"
#include "app/scene_watch.h"
#include "app/title.h"
#include "app/view_actions.h"
#include "app/window_icon.h"
#include "render/camera_fit.h"
#include "render/frame_renderer.h"
#include "render/texture_set.h"
#include "render/view_setup.h"
#include "scene/record_place.h"
#include "scene/scene_types.h"
#include "scene/text_parser.h"

Twnd_careditor* wnd_careditor = nullptr;

namespace {

// Stored layout, in pixels; the view panel's size is the one headless drawing uses too.
constexpr int kWindowLeft = 313;
constexpr int kWindowTop = 106;
constexpr int kWindowWidth = 548;
constexpr int kWindowHeight = 358;
constexpr int kPanelLeft = 2;
constexpr int kPanelTop = 3;
constexpr int kProgressLeft = 4;
constexpr int kProgressTop = 158;
constexpr int kProgressWidth = 531;
constexpr int kProgressHeight = 16;
constexpr double kProgressStartMax = 100.0;
constexpr int kStatusHeight = 18;
constexpr int kStatusFontSize = 12;
// g's number: at most this many digits, more than any table holds.
constexpr size_t kMaxRecordDigits = 10;
// A record gone to takes about this share of the view.
constexpr double kGoToViewShare = 0.5;

constexpr double kTimerIntervalSeconds = 1.0;
// FLTK reports one wheel notch as event_dy() = -1 (away from the user) or +1; the navigation
// takes the delta in 1/120 of a notch, positive away from the user.
constexpr int kWheelDeltaPerNotch = 120;

// The scene tables, alive for the whole run. The scene load writes the quads and textures,
// the navigation writes the camera, the renderer reads all three.
CameraState sceneCamera;
QuadTable sceneQuads;
TextureTable sceneTextures{};

CameraState startCamera;
ViewerOptions viewerOptions;

// The line along the bottom edge: the picked record's, and while g is typed, its number.
std::string pickLine;
// Under --watch, a reload's failure stays in view until the next good load.
std::string reloadFailure;
bool typingRecord = false;
std::string typedDigits;

// A still click: a left press with no other button, released at the same pixel.
bool stillClick = false;
int pressX = 0, pressY = 0;

int frameCount = 0;  // frames drawn since the last title update
char captionDecimalSeparator = '.';
const char* sceneArgument = nullptr;
std::string openedScene;  // a scene opened after the start (Ctrl+O, a drop): sceneArgument's text
bool closeRequested = false;
bool sceneLoadStarted = false;
// Set by F5 and the watch, from inside whatever handler; the frame loop reloads, so a reload
// never starts inside another load's event processing.
bool reloadRequested = false;
// Set by Ctrl+O and a drop, for the frame loop too: the dialog, and the load after a drop,
// run there rather than inside the key's or the drop's event handling.
bool openDialogRequested = false;
std::string openRequested;

// The window class: the desktop groups the viewer's windows by it and finds its icon and
// desktop entry. FLTK writes it into WM_CLASS as the instance "quadview" and the class
// "Quadview", which the desktop entry's StartupWMClass names.
constexpr const char* kWindowClass = "quadview";
constexpr const char* kControlsBoxTitle = "quadview: mouse and keys";

MouseButton ButtonOf(int fltkButton, bool& known) {
  known = true;
  switch (fltkButton) {
    case FL_LEFT_MOUSE:
      return MouseButton::kLeft;
    case FL_RIGHT_MOUSE:
      return MouseButton::kRight;
    case FL_MIDDLE_MOUSE:
      return MouseButton::kMiddle;
    default:
      known = false;
      return MouseButton::kLeft;
  }
}

// Every event passes here before FLTK routes it, so the wheel acts wherever the pointer is
// over the window, the GL view and the progress bar included, without being consumed, and the
// keys act wherever the focus is inside the window. Not while a box is up: the main window
// then takes no input.
int DispatchEvent(int event, Fl_Window* window) {
  const bool ours = window != nullptr && wnd_careditor != nullptr &&
                    (window == wnd_careditor || window->top_window() == wnd_careditor) &&
                    Fl::modal() == nullptr;
  if (ours && event == FL_MOUSEWHEEL && Fl::event_dy() != 0) {
    GuardHandler([] { FormMouseWheel(sceneCamera, -Fl::event_dy() * kWheelDeltaPerNotch); });
  }
  if (ours && event == FL_KEYDOWN) {
    bool taken = false;
    GuardHandler([&] { taken = wnd_careditor->KeyDown(Fl::event_key(), Fl::event_state()); });
    if (taken) return 1;
  }
  return Fl::handle_(event, window);
}

void WindowCallback(Fl_Widget*, void*) {
  // FLTK also calls the window callback for the Escape key, which KeyDown handles; only the
  // close request of the window manager (FL_CLOSE) closes.
  if (Fl::event() == FL_CLOSE) closeRequested = true;
}

// The watch's files have been still since their last change.
void SceneFilesSettled() {
  RewatchScene();
  reloadRequested = true;
}

void Timer1Tick(void*) {
  // Re-armed first: the processing of pending events inside the handler must not find it due.
  Fl::repeat_timeout(kTimerIntervalSeconds, Timer1Tick);
  if (wnd_careditor != nullptr) GuardHandler([] { wnd_careditor->Timer1Timer(); });
}

// The window as the scene load sees it. Only the first load raises the window; a reload
// brings back the bar where the window is.
class LoadWindow : public SceneLoadWindow {
 public:
  explicit LoadWindow(bool raise) : raise_(raise) {}
  void ShowAndRaise() override {
    if (raise_) wnd_careditor->show();
    wnd_careditor->ProgressBar1->maximum(static_cast<float>(kProgressStartMax));
    wnd_careditor->ProgressBar1->value(0.0f);
    wnd_careditor->progressHolder->show();
  }
  void MakeViewCurrent() override { wnd_careditor->Panel1->make_current(); }
  void SetBarMaximum(int32_t blocks) override {
    maximum_ = blocks;
    wnd_careditor->ProgressBar1->maximum(static_cast<float>(blocks));
  }
  void SetBarPosition(int32_t blocks) override {
    // The bar is redrawn only when its filled part changes by a pixel.
    const int64_t filled = maximum_ > 0 ? int64_t{blocks} * kProgressWidth / maximum_ : 0;
    if (filled == shownFill_) return;
    shownFill_ = filled;
    wnd_careditor->ProgressBar1->value(static_cast<float>(blocks));
  }
  void HideBar() override { wnd_careditor->progressHolder->hide(); }
  bool ProcessPendingEvents() override {
    Fl::check();
    return closeRequested;
  }

 private:
  bool raise_ = true;
  int32_t maximum_ = 0;
  int64_t shownFill_ = -1;
};

// True while the view can be seen: not iconified, not unmapped.
bool ViewShowing() {
  return wnd_careditor->shown() && wnd_careditor->visible() && wnd_careditor->Panel1->visible_r();
}

void OnIdleFrame() {
  TPanel1* panel = wnd_careditor->Panel1;
  panel->make_current();
  RenderFrame(sceneCamera, DrawnRecords(sceneQuads), sceneTextures);
  DrawPickMark(sceneCamera, sceneQuads);
  frameCount += 1;
  panel->swap_buffers();
}

// Waits until the window is mapped and viewable, so the bar can be seen during the load.
// A window started iconic gets there at its first restore.
bool WaitUntilVisible() {
  while (!closeRequested) {
    XWindowAttributes attributes;
    if (wnd_careditor->shown() &&
        XGetWindowAttributes(fl_display, fl_xid(wnd_careditor), &attributes) != 0 &&
        attributes.map_state == IsViewable) {
      Fl::check();  // the expose that follows the map paints the window and the bar
      return true;
    }
    Fl::wait();  // the map arrives as an event (MapNotify)
  }
  return false;
}

// The picked record's line to stdout and the status line, its FILE:LINE to the clipboard.
void AnnouncePick() {
  pickLine = PickedRecordLine(sceneArgument != nullptr ? sceneArgument : "", sceneQuads);
  std::printf("%s\n", Printable(pickLine).c_str());
  std::fflush(stdout);
  const std::string place = pickLine.substr(0, pickLine.find(": record "));
  Fl::copy(place.c_str(), static_cast<int>(place.size()), 1);  // the clipboard
}

// Ctrl+O's dialog: the toolkit's file chooser (the desktop's own where it has one).
void AskForScene() {
  Fl_Native_File_Chooser chooser;
  chooser.title("Open a quadview scene");
  chooser.type(Fl_Native_File_Chooser::BROWSE_FILE);
  chooser.filter("quadview scenes\t*.map");
  if (chooser.show() == 0 && chooser.filename() != nullptr) openRequested = chooser.filename();
}

void RunMessageLoop() {
  while (!closeRequested) {
    if (openDialogRequested) {
      openDialogRequested = false;
      GuardHandler(AskForScene);
      continue;
    }
    if (!openRequested.empty()) {
      const std::string path = openRequested;
      openRequested.clear();
      GuardHandler([&path] { wnd_careditor->OpenScene(path); });
      continue;
    }
    if (reloadRequested) {
      reloadRequested = false;
      GuardHandler([] {
        if (!viewerOptions.watch) {
          wnd_careditor->ReloadScene();
          return;
        }
        // No modal box under --watch: it would stop the frames and hold back the next save.
        try {
          wnd_careditor->ReloadScene();
          reloadFailure.clear();
        } catch (const SceneError& error) {
          reloadFailure = FormatDiagnostic(error);
          std::fprintf(stderr, "%s\n", Printable(reloadFailure).c_str());
        }
        wnd_careditor->ShowStatus();
      });
      continue;
    }
    if (!ViewShowing()) {
      // Nobody sees frames now: wait for events (a restore, the timer) instead of drawing.
      Fl::wait();
      continue;
    }
    // Handles whatever is pending, timers included, without blocking: the loop draws frames
    // continuously, as fast as it can.
    Fl::wait(0.0);
    if (closeRequested || !ViewShowing()) continue;
    GuardHandler(OnIdleFrame);
  }
}

}  // namespace

TPanel1::TPanel1(int x, int y, int width, int height) : Fl_Gl_Window(x, y, width, height) {
  // Double-buffered RGBA, no depth, stencil or accumulation buffer: the renderer needs none.
  mode(FL_RGB | FL_DOUBLE);
}

int TPanel1::handle(int event) {
  bool known = false;
  switch (event) {
    case FL_PUSH: {
      stillClick = Fl::event_button() == FL_LEFT_MOUSE && Fl::event_buttons() == FL_BUTTON1;
      pressX = Fl::event_x();
      pressY = Fl::event_y();
      const MouseButton button = ButtonOf(Fl::event_button(), known);
      if (known) GuardHandler([&] { FormMouseDown(button, Fl::event_x(), Fl::event_y()); });
      return 1;  // taking the press makes FLTK send the drags and the release here
    }
    case FL_DRAG:
    case FL_MOVE:
      if (Fl::event_x() != pressX || Fl::event_y() != pressY) stillClick = false;
      GuardHandler([] { FormMouseMove(sceneCamera, Fl::event_x(), Fl::event_y()); });
      return 1;
    case FL_RELEASE: {
      // FLTK merges pointer motion and delivers it later; motion just before a release
      // arrives after it, as a plain move. The release position ends the drag's movement.
      const MouseButton button = ButtonOf(Fl::event_button(), known);
      const bool picks = stillClick && Fl::event_button() == FL_LEFT_MOUSE &&
                         Fl::event_x() == pressX && Fl::event_y() == pressY;
      stillClick = false;
      GuardHandler([&] {
        FormMouseMove(sceneCamera, Fl::event_x(), Fl::event_y());
        FormMouseUp(button, Fl::event_x(), Fl::event_y());
        if (picks && !SceneLoadRunning()) wnd_careditor->PickAtPixel(pressX, pressY);
      });
      return 1;
    }
    case FL_ENTER:
    case FL_LEAVE:
      return 1;  // FL_ENTER taken, so plain moves are reported too
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_LEAVE:
    case FL_DND_RELEASE:
      return 1;  // a drop is welcome: FLTK then hands its text over as FL_PASTE
    case FL_PASTE: {
      std::string why;
      const std::string path = DroppedScenePath(
          std::string(Fl::event_text(), static_cast<size_t>(Fl::event_length())), why);
      if (path.empty()) {
        std::fprintf(stderr, "quadview: %s\n", why.c_str());
      } else {
        openRequested = path;
      }
      return 1;
    }
    case FL_FOCUS:
    case FL_UNFOCUS:
    case FL_KEYBOARD:
    case FL_KEYUP:
    case FL_SHORTCUT:
      return 0;
    default:
      return Fl_Gl_Window::handle(event);
  }
}

void TPanel1::resize(int x, int y, int width, int height) {
  Fl_Gl_Window::resize(x, y, width, height);
  if (wnd_careditor != nullptr && wnd_careditor->Panel1 == this) {
    GuardHandler([] { wnd_careditor->Panel1Resize(); });
  }
}

void TPanel1::draw() {
  GuardHandler([] {
    if (SceneLoadRunning()) {
      // No frame before the load has returned: the view stays black meanwhile.
      glClear(GL_COLOR_BUFFER_BIT);
    } else {
      RenderFrame(sceneCamera, DrawnRecords(sceneQuads), sceneTextures);
      DrawPickMark(sceneCamera, sceneQuads);
    }
  });
}

Twnd_careditor::Twnd_careditor()
    : Fl_Window(kWindowLeft, kWindowTop, kWindowWidth, kWindowHeight, "OpenGL") {
  Panel1 = new TPanel1(kPanelLeft, kPanelTop, kViewWidth, kViewHeight);
  Panel1->end();
  progressHolder = new Fl_Window(kProgressLeft, kProgressTop, kProgressWidth, kProgressHeight);
  ProgressBar1 = new Fl_Progress(0, 0, kProgressWidth, kProgressHeight);
  ProgressBar1->minimum(0.0f);
  ProgressBar1->maximum(static_cast<float>(kProgressStartMax));
  ProgressBar1->value(0.0f);
  ProgressBar1->selection_color(FL_SELECTION_COLOR);
  progressHolder->end();
  statusHolder =
      new Fl_Window(kPanelLeft, kPanelTop + kViewHeight - kStatusHeight, kViewWidth, kStatusHeight);
  StatusLine1 = new Fl_Box(0, 0, kViewWidth, kStatusHeight);
  StatusLine1->box(FL_FLAT_BOX);
  StatusLine1->color(FL_BLACK);
  StatusLine1->labelcolor(FL_WHITE);
  StatusLine1->labelsize(kStatusFontSize);
  StatusLine1->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  statusHolder->end();
  statusHolder->hide();
  end();
  resizable(Panel1);
  callback(WindowCallback);
}

void Twnd_careditor::resize(int x, int y, int width, int height) {
  Fl_Window::resize(x, y, width, height);
  // The group's resize scales every child lying within the resizable's range; the bar is
  // anchored to the top-left corner with a fixed size, so it is put back.
  progressHolder->resize(kProgressLeft, kProgressTop, kProgressWidth, kProgressHeight);
  // The status line keeps to the view's bottom edge, across its width.
  statusHolder->resize(Panel1->x(), Panel1->y() + Panel1->h() - kStatusHeight, Panel1->w(),
                       kStatusHeight);
  StatusLine1->resize(0, 0, Panel1->w(), kStatusHeight);
}

void Twnd_careditor::FormCreate() {
  // The window is shown, so Panel1 has its X window with the GL visual; make_current creates
  // the one context of the run.
  Panel1->make_current();
  InitGLState();
  Panel1Resize();
  Fl::add_timeout(kTimerIntervalSeconds, Timer1Tick);
}

void Twnd_careditor::FormDestroy() {
  Fl::remove_timeout(Timer1Tick);
  // Hiding the GL window deletes its context after making none current.
  Panel1->hide();
}

void Twnd_careditor::FormActivate() {
  if (sceneLoadStarted) return;  // once per run, also after a failed load
  sceneLoadStarted = true;
  LoadWindow window(true);
  LoadScene(sceneArgument, sceneQuads, sceneTextures, window);
  if (viewerOptions.fit) sceneCamera = FitCamera(sceneCamera, sceneQuads, Panel1->w(), Panel1->h());
  if (viewerOptions.record > 0) GoToRecord(viewerOptions.record);
}

void Twnd_careditor::ReloadScene() {
  // A scene file that is gone, or not a regular file now (a checkout in progress, a half-done
  // rename), is no scene to load: the one drawn stays.
  if (sceneArgument == nullptr || !SceneFileIsThere(sceneArgument)) return;
  // The old scene goes first: its textures from the view's context, its records from the
  // table (the reader empties it too, and reuses its storage).
  Panel1->make_current();
  ReleaseTextureSet(sceneTextures);
  sceneQuads.count = 0;
  LoadWindow window(false);
  struct FocusKept {  // also after a load that failed part-way
    ~FocusKept() {
      KeepFocusAfterLoad(sceneQuads);
      pickLine = PickedRecordLine(sceneArgument, sceneQuads);
      wnd_careditor->ShowStatus();
    }
  } focusKept;
  LoadScene(sceneArgument, sceneQuads, sceneTextures, window);
}

void Twnd_careditor::OpenScene(const std::string& path) {
  // As at the start: the start camera, nothing picked, the new file's texture set and records.
  openedScene = path;
  sceneArgument = openedScene.c_str();
  sceneCamera = startCamera;
  ClearPick();
  if (Isolated()) ToggleIsolation(sceneQuads);
  pickLine.clear();
  reloadFailure.clear();
  ShowStatus();
  if (viewerOptions.watch) WatchScene(openedScene, SceneFilesSettled);
  Panel1->make_current();
  ReleaseTextureSet(sceneTextures);
  sceneQuads.count = 0;
  LoadWindow window(false);
  LoadScene(sceneArgument, sceneQuads, sceneTextures, window);
}

void Twnd_careditor::ShowStatus() {
  const std::string text = typingRecord             ? "Go to record: " + typedDigits + "_"
                           : !reloadFailure.empty() ? reloadFailure
                                                    : pickLine;
  if (text.empty()) {
    statusHolder->hide();
    return;
  }
  StatusLine1->copy_label((" " + Printable(text)).c_str());
  statusHolder->show();
  StatusLine1->redraw();
}

void Twnd_careditor::PickAtPixel(int x, int y) {
  Panel1->make_current();
  pickLine.clear();
  if (PickAt(sceneCamera, sceneQuads, Panel1->h(), x, y)) AnnouncePick();
  ShowStatus();
}

void Twnd_careditor::GoToRecord(int64_t number) {
  const int64_t count = static_cast<int64_t>(DrawnQuadCount(sceneQuads));
  if (number < 1 || number > count) {
    std::fprintf(stderr, "quadview: no record %lld: the scene has %s\n",
                 static_cast<long long>(number),
                 count == 1 ? "1 record" : (std::to_string(count) + " records").c_str());
    return;
  }
  const int32_t index = static_cast<int32_t>(number - 1);
  sceneCamera = FitCamera(sceneCamera, &sceneQuads.records[static_cast<size_t>(index)], 1,
                          Panel1->w(), Panel1->h(), kGoToViewShare);
  PickRecord(sceneQuads, index);
  AnnouncePick();
  ShowStatus();
}

bool Twnd_careditor::KeyDown(int key, int modifiers) {
  const bool control = (modifiers & FL_CTRL) != 0;
  const bool plain = (modifiers & (FL_CTRL | FL_ALT | FL_META)) == 0;
  if (typingRecord && plain) {
    // g's number: digits, Backspace, Enter to go, Esc to give up; other keys do nothing meanwhile.
    const bool digit = (key >= '0' && key <= '9') || (key >= FL_KP + '0' && key <= FL_KP + '9');
    if (digit) {
      if (typedDigits.size() < kMaxRecordDigits) {
        typedDigits += static_cast<char>(key >= FL_KP ? key - FL_KP : key);
      }
    } else if (key == FL_BackSpace) {
      if (!typedDigits.empty()) typedDigits.pop_back();
    } else if (key == FL_Enter || key == FL_KP_Enter || key == FL_Escape) {
      typingRecord = false;
      const std::string digits = typedDigits;
      typedDigits.clear();
      ShowStatus();
      if (key != FL_Escape && !digits.empty()) GoToRecord(std::stoll(digits));
      return true;
    }
    ShowStatus();
    return true;
  }
  if (control && (key == 'q' || key == 'w')) {
    closeRequested = true;
  } else if (control && key == 'o') {
    openDialogRequested = true;
  } else if (!plain) {
    return false;
  } else if (key == 'r' || key == FL_Home) {
    sceneCamera = startCamera;
  } else if (key == 'c') {
    const std::string command = ViewCommand(
        sceneArgument != nullptr ? sceneArgument : "", sceneCamera.panX, sceneCamera.panY,
        sceneCamera.distance, sceneCamera.tilt, sceneCamera.spin, Panel1->w(), Panel1->h());
    std::printf("%s\n", command.c_str());
    std::fflush(stdout);
    Fl::copy(command.c_str(), static_cast<int>(command.size()), 1);  // the clipboard
    if (Isolated()) {
      std::fprintf(stderr,
                   "quadview: c: the command draws the whole scene; the view shows slot %d "
                   "alone (i shows all)\n",
                   IsolatedSlot());
    }
  } else if (key == 'f') {
    sceneCamera = FitCamera(sceneCamera, sceneQuads, Panel1->w(), Panel1->h());
  } else if (key == 'g') {
    typingRecord = true;
    typedDigits.clear();
    ShowStatus();
  } else if (key == 'i') {
    if (!ToggleIsolation(sceneQuads)) {
      std::fprintf(stderr, "quadview: i: no record is picked; click one first\n");
    }
  } else if (key == 'e') {
    if (PickedRecord() < 0 || sceneArgument == nullptr) {
      std::fprintf(stderr, "quadview: e: no record is picked; click one first\n");
    } else {
      OpenInEditor(sceneArgument, HeaderLine(PickedRecord()));
    }
  } else if (key == FL_F + 12) {
    // The frame again into the back buffer, without the mark: what the view draws of the scene.
    Panel1->make_current();
    RenderFrame(sceneCamera, DrawnRecords(sceneQuads), sceneTextures);
    const std::string path =
        SaveViewPicture(sceneArgument != nullptr ? sceneArgument : "", Panel1->w(), Panel1->h(),
                        ReadViewPixels(Panel1->w(), Panel1->h()));
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
  } else if (key == FL_F + 5) {
    reloadRequested = true;
  } else if (key == FL_F + 11) {
    if (fullscreen_active()) {
      fullscreen_off();
    } else {
      fullscreen();
    }
  } else if (key == FL_Escape && fullscreen_active()) {
    fullscreen_off();
  } else if (key == FL_F + 1) {
    std::string scene = "Scene: none\n\n";
    if (sceneArgument != nullptr) {
      const int images = CountTextureImages(sceneArgument);
      const size_t records = DrawnQuadCount(sceneQuads);
      scene = "Scene: " + Printable(sceneArgument) + "\n  " + std::to_string(records) +
              (records == 1 ? " record, " : " records, ") + std::to_string(images) +
              (images == 1 ? " image\n\n" : " images\n\n");
    }
    ShowTableBox(kControlsBoxTitle, scene + ControlsText());
  } else {
    return false;
  }
  return true;
}

void Twnd_careditor::Panel1Resize() {
  // FLTK resizes the panel before its window or context exist; the projection is set once
  // the context is created (FormCreate).
  if (!Panel1->shown() || Panel1->context() == nullptr) return;
  Panel1->make_current();
  ResizeView(Panel1->w(), Panel1->h());
}

void Twnd_careditor::Timer1Timer() {
  copy_label(FormatCaption(frameCount, sceneCamera.panX, sceneCamera.panY, sceneCamera.distance,
                           captionDecimalSeparator)
                 .c_str());
  frameCount = 0;
  Fl::check();
}

int RunViewer(Display* display, const ViewerOptions& options) {
  // The toolkit takes over this connection instead of opening a second one: an X server
  // with no other client resets when its last connection closes, and a second open could
  // meet the reset.
  fl_open_display(display);
  sceneArgument = options.scenePath;
  viewerOptions = options;
  startCamera = options.camera;
  sceneCamera = startCamera;
  captionDecimalSeparator = EnvironmentDecimalSeparator();
  SetApplicationTitle(ApplicationTitle(options.programPath));
  SetParserMessageSink(ShowParserMessageBox);
  Fl::event_dispatch(DispatchEvent);

  Fl_Window::default_xclass(kWindowClass);  // the boxes' class too
  wnd_careditor = new Twnd_careditor();
  SetWindowIcon(*wnd_careditor);
  if (options.watch && options.scenePath != nullptr)
    WatchScene(options.scenePath, SceneFilesSettled);
  wnd_careditor->show();
  GuardHandler([] { wnd_careditor->FormCreate(); });
  if (WaitUntilVisible()) {
    Fl::flush();
    GuardHandler([] { wnd_careditor->FormActivate(); });
  }
  RunMessageLoop();
  wnd_careditor->FormDestroy();
  wnd_careditor->hide();
  delete wnd_careditor;
  wnd_careditor = nullptr;
  Fl::event_dispatch(nullptr);
  return 0;
}
