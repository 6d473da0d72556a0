// The guard around every toolkit entry point: errors end the handler, are shown in a modal
// error box and, when they know their file, written to stderr as "FILE:LINE: message".
// Also the tokenizer's plain message box. Both boxes wrap their text and never grow wider
// or higher than the screen, whatever a file made the message say.
#pragma once

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "scene/scene_error.h"

// Caption of every error box; set once at start from the executable's path.
void SetApplicationTitle(const std::string& title);

// Modal box with the alert icon, one OK button, the application title as caption and
// ErrorBoxText(message) as text. Returns when the user dismisses it.
void ShowErrorBox(const std::string& message);

// The tokenizer's message sink: a modal box with an empty caption and one OK button.
void ShowParserMessageBox(const std::string& text);

// A modal box with the information icon whose text is laid out in columns (a fixed-width
// font), one OK button.
void ShowTableBox(const std::string& caption, const std::string& text);

// Shows `error` as the window's event handling does: the diagnostic line when the error
// knows its file, then the error box.
void ReportHandlerError(const SceneError& error);

// Runs `handler`; an exception never leaves it into the toolkit, it is reported instead.
template <typename Handler>
void GuardHandler(Handler&& handler) {
  try {
    std::forward<Handler>(handler)();
  } catch (const SceneError& error) {
    ReportHandlerError(error);
  } catch (const std::bad_alloc&) {
    ShowErrorBox("Not enough memory");
  } catch (const std::exception& error) {
    ShowErrorBox(error.what());
  } catch (...) {
    ShowErrorBox("Unexpected error");
  }
}
