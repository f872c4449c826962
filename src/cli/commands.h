#pragma once
// harvix-cli commands. Each returns the process exit code: 0 done, 1 failed,
// 2 bad usage (unknown name, bad value, missing argument).
#include <string>
#include <vector>

using Args = std::vector<std::string>;

int SettingsCommand(const Args& args);
int TaskCommand(const Args& args);
int FetchCommand(const Args& args);
int GetCommand(const Args& args);
int RunCommand(const Args& args);
int ScheduleCommand(const Args& args);
int TasksCommand(const Args& args);
int DaemonCommand(const Args& args);
int ZipCommand(const Args& args);
