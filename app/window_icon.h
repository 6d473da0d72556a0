// The window's icon: the package's 64 x 64 PNG (docs/package/quadview.png, rendered from
// quadview.svg), compiled into the program and decoded with stb_image.
#pragma once

class Fl_Window;

// Gives `window` the icon (_NET_WM_ICON); call before it is shown. A PNG that does not
// decode leaves the window without one.
void SetWindowIcon(Fl_Window& window);
