#pragma once
// Runs harvix-cli with arguments in a sandbox environment and captures what
// it printed and its exit code.
#include <string>
#include <vector>

struct CliResult {
  int Code = -1;
  std::string Out, Err;
};

CliResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env);
