// quadscene: the command-line companion of the viewer. Parses the command line with CLI11
// and hands over to one subcommand; maps usage errors to exit status 2.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "scene/file_access.h"
#include "tools/commands.h"

namespace {

// Ctrl+C, Ctrl+\\, a kill or a closed pipe ends the run as the signal would, without leaving
// the temporary and half-written files of an output behind.
void EndRunOnSignal(int signalNumber) {
  RemoveUnfinishedFiles();
  // Ctrl+\ ends the run as Ctrl+C does: without a core file of what it was reading.
  if (signalNumber == SIGQUIT) {
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
  }
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

}  // namespace

int main(int argc, char** argv) {
  // A write cut short by a file-size limit then fails with EFBIG and is reported like any
  // other failed write, instead of killing the program half-way through a file.
  std::signal(SIGXFSZ, SIG_IGN);
  for (int signalNumber : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) {
    std::signal(signalNumber, EndRunOnSignal);
  }
  CLI::App app{"Inspect, validate, convert and render quadview scenes.", "quadscene"};
  UsePlainHelp(app);
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("quadscene ") + QUADVIEW_VERSION);
  int exitStatus = kExitOk;
  RegisterDemoCommand(app, exitStatus);
  RegisterDumpCommand(app, exitStatus);
  RegisterInfoCommand(app, exitStatus);
  RegisterTextureCommand(app, exitStatus);
  RegisterRenderCommand(app, exitStatus);
  RegisterExportCommand(app, exitStatus);
  RegisterImportCommand(app, exitStatus);
  RegisterPickCommand(app, exitStatus);
  RegisterCheckCommand(app, exitStatus);
  RegisterDiffCommand(app, exitStatus);
  const bool knownCommand =
      argc < 2 || argv[1][0] == '-' ||
      !app.get_subcommands([&argv](CLI::App* command) { return command->check_name(argv[1]); })
           .empty();
  if (!knownCommand) {
    std::fprintf(stderr, "quadscene: unknown command '%s'\nRun with --help for more information.\n",
                 argv[1]);
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e) == 0 ? kExitOk : kExitBadFile;
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e) == 0 ? kExitOk : kExitBadFile;
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e) == 0 ? kExitOk : kExitBadFile;
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  return exitStatus;
}
