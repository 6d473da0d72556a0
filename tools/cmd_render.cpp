// quadscene render (not yet written).
#include "tools/commands.h"

void RegisterRenderCommand(CLI::App& app, int& exitStatus) {
  (void)app;
  (void)exitStatus;
}
