// quadscene texture (not yet written).
#include "tools/commands.h"

void RegisterTextureCommand(CLI::App& app, int& exitStatus) {
  (void)app;
  (void)exitStatus;
}
