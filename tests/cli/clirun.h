#pragma once
// Runs harvix-cli with arguments in a sandbox environment and captures what
// it printed and its exit code.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

class TempDir;

struct CliResult {
  int Code = -1;
  std::string Out, Err;
};

CliResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env);

// A harvix-cli left running, for tests that signal or race it.
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& env);
  ~CliProcess();
  pid_t Pid() const { return pid_; }
  void Signal(int signal);
  // Waits for the end; the exit code is -signal when a signal ended it.
  CliResult Wait();
  std::string ErrSoFar() const;

 private:
  std::unique_ptr<TempDir> dir_;
  pid_t pid_ = -1;
  bool waited_ = false;
};
