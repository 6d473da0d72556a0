// The quadscene subcommands. Each Register* adds one subcommand to the CLI11 app; its
// callback runs the command and stores the process exit status in `exitStatus`
// (0 success, 1 bad file; bad usage, 2, is decided by the parser in quadscene.cpp).
#pragma once

#include <CLI/CLI.hpp>

constexpr int kExitOk = 0;
constexpr int kExitBadFile = 1;
constexpr int kExitUsage = 2;

void RegisterDemoCommand(CLI::App& app, int& exitStatus);
void RegisterDumpCommand(CLI::App& app, int& exitStatus);
void RegisterInfoCommand(CLI::App& app, int& exitStatus);
void RegisterTextureCommand(CLI::App& app, int& exitStatus);
void RegisterRenderCommand(CLI::App& app, int& exitStatus);
