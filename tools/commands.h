// The quadscene subcommands. Each Register* adds one subcommand to the CLI11 app; its
// callback runs the command and stores the process exit status in `exitStatus` (kExitOk,
// kExitBadFile, or diff's own, which are diff(1)'s; bad usage, kExitUsage, is decided by the
// parser in quadscene.cpp).
#pragma once

#include "tools/cli.h"

void RegisterDemoCommand(CLI::App& app, int& exitStatus);
void RegisterDumpCommand(CLI::App& app, int& exitStatus);
void RegisterInfoCommand(CLI::App& app, int& exitStatus);
void RegisterTextureCommand(CLI::App& app, int& exitStatus);
void RegisterRenderCommand(CLI::App& app, int& exitStatus);
void RegisterExportCommand(CLI::App& app, int& exitStatus);
void RegisterImportCommand(CLI::App& app, int& exitStatus);
void RegisterPickCommand(CLI::App& app, int& exitStatus);
void RegisterCheckCommand(CLI::App& app, int& exitStatus);
void RegisterDiffCommand(CLI::App& app, int& exitStatus);
