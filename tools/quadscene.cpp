// quadscene: the command-line companion of the viewer. Parses the command line with CLI11
// and hands over to one subcommand; maps usage errors to exit status 2.
#include <cstdio>

#include "tools/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Inspect, validate, convert and render quadview scenes.", "quadscene"};
  app.require_subcommand(1);
  int exitStatus = kExitOk;
  RegisterDemoCommand(app, exitStatus);
  RegisterDumpCommand(app, exitStatus);
  RegisterInfoCommand(app, exitStatus);
  RegisterTextureCommand(app, exitStatus);
  RegisterRenderCommand(app, exitStatus);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    app.exit(e);
    return kExitOk;
  } catch (const CLI::CallForAllHelp& e) {
    app.exit(e);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  return exitStatus;
}
