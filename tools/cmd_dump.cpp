// quadscene dump: every record of a quad-list file, one line each (record_text.h).
#include <cstdio>

#include "scene/quad_list.h"
#include "tools/commands.h"
#include "tools/record_text.h"
#include "tools/terminal_progress.h"

namespace {

constexpr int32_t kRecordsPerOutputCheck = 4096;
std::string path;  // the FILE argument

void PrintRecords(const QuadTable& table) {
  TerminalProgress progress("printing " + path, TerminalProgress::Unit::kRecords);
  progress.SetTotal(table.count);
  for (int32_t i = 0; i < table.count; ++i) {
    progress.SetDone(i);
    const std::string line = DumpLine(i, table.records[static_cast<size_t>(i)]);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::putchar('\n');
    if (i % kRecordsPerOutputCheck == 0) CheckStandardOutput();  // a full disk stops it early
  }
}

}  // namespace

void RegisterDumpCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "dump",
      "Print every record: its number N (from 1), textureIndex, blend, counterClockwise, "
      "then u v x y z "
      "of the four corners (z as stored, i.e. negated against the file)");
  command->add_option("FILE", path, "Quad-list file")->required();
  AddAsOption(command);
  AddQuietOption(command);
  command->callback([&exitStatus]() {
    exitStatus = RunSceneCommand(path, [] {
      QuadTable table;
      TerminalProgress progress("reading " + path, TerminalProgress::Unit::kBytes);
      try {
        ReadQuadList(path, table, progress);
      } catch (...) {
        PrintRecords(table);  // the records before the failure, then the failure
        FlushStandardOutput();
        throw;
      }
      PrintRecords(table);
    });
  });
}
