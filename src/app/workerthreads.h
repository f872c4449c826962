#pragma once
// The three long-lived worker threads of a front end that runs tasks: the
// parse thread and the dispatcher (both waiting until a run starts them) and,
// for the holder of the task-run lock, the schedule thread. Ending them stops
// every connection slot as well. Main thread only.
#include <memory>

class TThreadDownload;
class TThreadParse;
class TThreadSchedule;
class TZipTimer;

class WorkerThreads {
 public:
  WorkerThreads();
  ~WorkerThreads();
  // Creates the threads; the schedule thread only when asked for.
  void Create(bool withSchedule);
  // Tells the schedule thread to end (closing: no new run may start).
  void EndSchedule();
  // Frees the threads, the dispatcher before the parse thread.
  void Free();

 private:
  std::unique_ptr<TThreadParse> parse_;
  std::unique_ptr<TThreadDownload> download_;
  std::unique_ptr<TThreadSchedule> schedule_;
  std::unique_ptr<TZipTimer> zip_;
};
