// Error and message boxes of the viewer, built on FLTK's fl_alert/fl_message. Both are modal
// and run their own event loop; the viewer's frame loop is not that loop, so no frame is
// drawn while a box is up, while the title timer keeps ticking.
#include "app/error_box.h"

#include <FL/fl_ask.H>

#include <cstdio>

#include "app/title.h"

namespace {

std::string applicationTitle = "quadview";

}  // namespace

void SetApplicationTitle(const std::string& title) {
  applicationTitle = title;
}

void ShowErrorBox(const std::string& message) {
  // fl_message_title applies to the next box only, so it is set before every box.
  fl_message_title(applicationTitle.c_str());
  fl_alert("%s", ErrorBoxText(message).c_str());
}

void ShowParserMessageBox(const std::string& text) {
  fl_message_title("");
  fl_message("%s", text.c_str());
}

void ReportHandlerError(const SceneError& error) {
  if (!error.file().empty()) {
    std::fprintf(stderr, "%s\n", FormatDiagnostic(error).c_str());
    std::fflush(stderr);
  }
  ShowErrorBox(error.what());
}

void ReportHandlerError(const std::exception& error) {
  ShowErrorBox(error.what());
}
