#include "cli/clirun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/tempdir.h"

CliProcess::CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& env)
    : dir_(std::make_unique<TempDir>()) {
  const std::string outFile = dir_->File("out"), errFile = dir_->File("err");
  pid_ = fork();
  if (pid_ == 0) {
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    const int o = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> argv{const_cast<char*>(HARVIX_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(HARVIX_CLI, argv.data());
    _exit(127);
  }
}

CliProcess::~CliProcess() {
  if (pid_ > 0 && !waited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void CliProcess::Signal(int signal) { kill(pid_, signal); }

std::string CliProcess::ErrSoFar() const { return ReadTextFile(dir_->File("err")); }

CliResult CliProcess::Wait() {
  int status = 0;
  waitpid(pid_, &status, 0);
  waited_ = true;
  CliResult r;
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
  r.Out = ReadTextFile(dir_->File("out"));
  r.Err = ReadTextFile(dir_->File("err"));
  return r;
}

CliResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  return CliProcess(args, env).Wait();
}
