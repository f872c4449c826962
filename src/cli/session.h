#pragma once
// A headless front end that runs tasks: the task-run lock, the application
// object, the connection slots, the dispatcher and the schedule thread, and
// a loop that pumps the main-thread queue until a condition holds or the
// user interrupts (SIGINT, SIGTERM).
#include <functional>
#include <memory>
#include <string>

class THXApp;
class WorkerThreads;
class THXTask;

class Session {
 public:
  Session();
  ~Session();
  // False with a message when another front end runs tasks.
  bool Start(std::string& error);
  // Pumps until done() holds (true) or the user interrupts (false).
  bool PumpUntil(const std::function<bool()>& done);
  // One line of progress on a terminal.
  void ShowProgress(const THXTask& task, bool final);
  static bool Interrupted();

 private:
  std::unique_ptr<THXApp> app_;
  std::unique_ptr<WorkerThreads> threads_;
  bool terminal_ = false;
};

// The one progress line of a run: rewritten in place on a terminal, a plain
// line elsewhere (only the final one is shown there).
void ShowRunProgress(const THXTask& task, bool terminal, bool final);

// Waits until the task of the file has been run by the schedule thread and
// its run has ended; returns the exit code: 0 no errors, 1 errors, 3 stopped.
int WaitForRun(Session& session, const std::string& fileName);
// A task named by its file path, or by "Category/Name" below the tasks folder.
std::string ResolveTaskFile(const std::string& name);
