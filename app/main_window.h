// The viewer's one window, wnd_careditor: the GL view Panel1, ProgressBar1 above it, the
// one-second Timer1, the frame loop, and the three scene tables the other modules share.
// Relies on FLTK 1.3 (Fl_Gl_Window on GLX) and on render/ for every GL call.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Gl_Window.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Window.H>
#include <X11/Xlib.h>

#include <cstdint>
#include <string>

#include "scene/scene_types.h"

// What the command line asks of the viewer.
struct ViewerOptions {
  const char* programPath = "quadview";
  const char* scenePath = nullptr;  // none: a black view under the empty bar
  bool watch = false;               // reload when the scene's files change
  CameraState camera;               // the start camera, which r and Home bring back
  bool fit = false;                 // after the first load, the camera that shows it all
  int64_t record = 0;               // after the first load, go to this record (from 1)
};

// The GL view. Mouse presses, moves and releases over it drive the navigation; it never takes
// the keyboard focus: keys go to the whole window (KeyDown).
class TPanel1 : public Fl_Gl_Window {
 public:
  TPanel1(int x, int y, int width, int height);
  int handle(int event) override;
  void resize(int x, int y, int width, int height) override;

 protected:
  // Repaints after an expose; not counted as a frame of the frame loop.
  void draw() override;
};

class Twnd_careditor : public Fl_Window {
 public:
  Twnd_careditor();
  void resize(int x, int y, int width, int height) override;

  TPanel1* Panel1 = nullptr;
  // A GL window covers the drawing of its sibling widgets, so the bar lives in a child
  // window of its own, created after Panel1 and therefore stacked above it.
  Fl_Window* progressHolder = nullptr;
  Fl_Progress* ProgressBar1 = nullptr;
  // The line along the view's bottom edge (the picked record, the number being typed after
  // g), in a child window of its own for the same reason; hidden while it has nothing to say.
  Fl_Window* statusHolder = nullptr;
  Fl_Box* StatusLine1 = nullptr;

  void FormCreate();
  void FormDestroy();
  // The first activation: runs the scene load once per run, also when it fails.
  void FormActivate();
  void Panel1Resize();
  void Timer1Timer();
  // A key pressed while the window has the focus; true when it was one of the viewer's.
  bool KeyDown(int key, int modifiers);
  // F5 and --watch: the start's load again into emptied tables; the camera stays.
  void ReloadScene();
  // Ctrl+O and a drop: the scene at `path` loaded as at the start, with the start camera; F5,
  // --watch, c and e follow it from then on.
  void OpenScene(const std::string& path);
  // A still click at (x, y) of the view: picks the record drawn there, or clears the pick.
  void PickAtPixel(int x, int y);
  // Frames record `number` (from 1) and picks it; one stderr line when there is none such.
  void GoToRecord(int64_t number);
  // The pick line, the typed number or nothing along the bottom edge.
  void ShowStatus();
};

extern Twnd_careditor* wnd_careditor;

// Hands `display` to the toolkit (its one connection to the X server), creates and shows the
// window, runs the scene load once it is visible and then the frame loop until the window is
// closed. Returns the exit status.
int RunViewer(Display* display, const ViewerOptions& options);
