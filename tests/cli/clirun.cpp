#include "cli/clirun.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/tempdir.h"

CliResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  TempDir out;
  const std::string outFile = out.File("out"), errFile = out.File("err");
  const pid_t pid = fork();
  if (pid == 0) {
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
  int status = 0;
  waitpid(pid, &status, 0);
  CliResult r;
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Out = ReadTextFile(outFile);
  r.Err = ReadTextFile(errFile);
  return r;
}
