// quadscene dump (not yet written).
#include "tools/commands.h"

void RegisterDumpCommand(CLI::App& app, int& exitStatus) {
  (void)app;
  (void)exitStatus;
}
