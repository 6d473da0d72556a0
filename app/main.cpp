// quadview: opens the viewer window on the quad-list file named by the first argument.
#include "app/main_window.h"

int main(int argc, char** argv) {
  return RunViewer(argc, argv);
}
