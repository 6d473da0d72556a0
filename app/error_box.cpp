// Error and message boxes of the viewer: a small modal FLTK window of our own (fl_alert sizes
// itself to its text and can ask X for a window wider than it allows). The box runs its own
// event loop; the viewer's frame loop is not that loop, so no frame is drawn while a box is up,
// while the title timer keeps ticking.
#include "app/error_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/fl_utf8.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/title.h"

namespace {

constexpr int kMargin = 10;
constexpr int kIconSize = 50;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 25;
constexpr int kMaxTextWidth = 560;  // readable lines; narrower still on a small screen
constexpr int kMinTextWidth = 200;
constexpr Fl_Font kTextFont = FL_HELVETICA;
constexpr Fl_Fontsize kTextSize = 14;
constexpr Fl_Fontsize kIconFontSize = 34;

std::string applicationTitle = "quadview";

// Bytes of the character that starts at `text[i]` (a broken UTF-8 sequence counts as one).
size_t CharBytes(const std::string& text, size_t i) {
  const int length = fl_utf8len(text[i]);
  return std::min(static_cast<size_t>(length > 0 ? length : 1), text.size() - i);
}

// Breaks `text` into lines no wider than `maxWidth` in the current font: at spaces where a
// line has one, inside a word where it has none.
std::vector<std::string> WrapLines(const std::string& text, int maxWidth) {
  std::vector<std::string> lines;
  size_t lineStart = 0;                  // the current line is text[lineStart, i)
  size_t lastSpace = std::string::npos;  // in it
  for (size_t i = 0; i < text.size();) {
    const size_t bytes = CharBytes(text, i);
    if (text[i] == '\n') {
      lines.push_back(text.substr(lineStart, i - lineStart));
      i += bytes;
      lineStart = i;
      lastSpace = std::string::npos;
      continue;
    }
    if (i > lineStart &&
        fl_width(text.data() + lineStart, static_cast<int>(i + bytes - lineStart)) > maxWidth) {
      if (lastSpace != std::string::npos && text[i] != ' ') {
        lines.push_back(text.substr(lineStart, lastSpace - lineStart));
        lineStart = lastSpace + 1;
      } else {
        lines.push_back(text.substr(lineStart, i - lineStart));
        lineStart = i;
      }
      lastSpace = std::string::npos;
      if (text[i] == ' ') {  // a break at a space eats the space
        i += bytes;
        lineStart = i;
        continue;
      }
    }
    if (text[i] == ' ') lastSpace = i;
    i += bytes;
  }
  lines.push_back(text.substr(lineStart));
  return lines;
}

void CloseBox(Fl_Widget* button, void*) {
  button->window()->hide();
}

// A modal box: the icon (or none), the wrapped text, one OK button. Centred on the screen.
void ShowBox(const std::string& caption, const std::string& text, const char* icon,
             Fl_Font font = kTextFont) {
  int screenX = 0, screenY = 0, screenW = 0, screenH = 0;
  Fl::screen_work_area(screenX, screenY, screenW, screenH);
  const int iconSpace = icon != nullptr ? kIconSize + kMargin : 0;
  const int textWidthLimit =
      std::max(kMinTextWidth, std::min(kMaxTextWidth, screenW - iconSpace - 4 * kMargin));
  fl_font(font, kTextSize);
  const std::vector<std::string> lines = WrapLines(text, textWidthLimit);
  std::string label;
  int textWidth = 0;
  for (const std::string& line : lines) {
    textWidth = std::max(textWidth, static_cast<int>(fl_width(line.c_str())));
    if (!label.empty()) label += '\n';
    for (char c : line) {
      if (c == '@') label += '@';  // "@@" shows one '@', not a symbol
      label += c;
    }
  }
  const int lineHeight = fl_height();
  const int maxTextHeight =
      std::max(lineHeight, screenH - kButtonHeight - 6 * kMargin);  // the rest is cut off
  const int textHeight = std::min(maxTextHeight, lineHeight * static_cast<int>(lines.size()));
  const int width = std::max(kMargin + iconSpace + textWidth + kMargin, kButtonWidth + 2 * kMargin);
  const int contentHeight = std::max(icon != nullptr ? kIconSize : 0, textHeight);
  const int height = kMargin + contentHeight + kMargin + kButtonHeight + kMargin;

  Fl_Window box(screenX + (screenW - width) / 2, screenY + (screenH - height) / 2, width, height);
  box.copy_label(caption.c_str());
  if (icon != nullptr) {
    Fl_Box* iconBox = new Fl_Box(kMargin, kMargin, kIconSize, kIconSize, icon);
    iconBox->box(FL_THIN_UP_BOX);
    iconBox->labelfont(FL_TIMES_BOLD);
    iconBox->labelsize(kIconFontSize);
    iconBox->color(FL_WHITE);
    iconBox->labelcolor(FL_BLUE);
  }
  // FLTK draws a left-aligned label 3 pixels inside its box on each side: the box reaches that
  // far into the margins, so the widest line is not clipped.
  constexpr int kLabelInset = 3;
  Fl_Box* message = new Fl_Box(kMargin + iconSpace - kLabelInset, kMargin,
                               textWidth + 2 * kLabelInset, textHeight);
  message->copy_label(label.c_str());
  message->labelfont(font);
  message->labelsize(kTextSize);
  message->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  Fl_Return_Button* ok =
      new Fl_Return_Button(width - kMargin - kButtonWidth, height - kMargin - kButtonHeight,
                           kButtonWidth, kButtonHeight, "OK");
  ok->callback(CloseBox);
  box.end();
  box.callback([](Fl_Widget* window, void*) { window->hide(); });  // its own close button
  // Modal: the other windows take no input while the box is up. FLTK also marks the box as
  // transient for the main window, so a window manager keeps it above.
  box.set_modal();
  box.show();
  while (box.shown()) Fl::wait();
}

}  // namespace

void SetApplicationTitle(const std::string& title) {
  applicationTitle = title;
}

void ShowErrorBox(const std::string& message) {
  ShowBox(applicationTitle, ErrorBoxText(message), "!");
}

void ShowParserMessageBox(const std::string& text) {
  ShowBox("", text, "i");
}

void ShowTableBox(const std::string& caption, const std::string& text) {
  ShowBox(caption, text, "i", FL_COURIER);
}

void ReportHandlerError(const SceneError& error) {
  if (!error.file().empty()) {
    std::fprintf(stderr, "%s\n", Printable(FormatDiagnostic(error)).c_str());
    std::fflush(stderr);
  }
  ShowErrorBox(error.what());
}
