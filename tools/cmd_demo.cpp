// quadscene demo (not yet written).
#include "tools/commands.h"

void RegisterDemoCommand(CLI::App& app, int& exitStatus) {
  (void)app;
  (void)exitStatus;
}
