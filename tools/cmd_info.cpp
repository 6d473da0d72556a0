// quadscene info (not yet written).
#include "tools/commands.h"

void RegisterInfoCommand(CLI::App& app, int& exitStatus) {
  (void)app;
  (void)exitStatus;
}
