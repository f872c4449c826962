#pragma once
// The archive side of a zip-mode run: the run's archive is opened when the
// run starts, the zip timer moves finished files from the task's zip queue
// into it, and the run ends "Zipped!" when the download is complete and the
// queue is empty. Main thread only, except the timer's own thread, which
// only posts ticks.
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "archive/zippack.h"

class THXTask;
struct ZipTreeNode;

// The run's archive is opened (repaired first if an earlier run was killed
// in the middle of an add) and the zip timer is enabled.
void StartZipRun(THXTask& task);
// One tick of the zip timer.
void ZipTimerTick();
// Adds everything left in the zip queue at once, with progress, so that no
// finished file stays behind in the temp folder when a run ends. A file that
// cannot be added has its item set back to None, to be fetched again.
void DrainZipQueue(THXTask& task);
// The run no longer owns its archive node: the user may close it.
void EndZipRun();
// The end of a completed zip-mode run: the archive is renamed after the
// start page's title when the profile asks for it.
void RenameTaskArchive(THXTask& task);
// The archive node of the current zip-mode run, or null.
ZipTreeNode* RunZipNode();
// tmrZip's Enabled: ticks do nothing while it is off.
void SetZipTimerEnabled(bool enabled);
bool ZipTimerEnabled();

// The title of a page made into an archive name: each of \ / : * ? " < > |
// becomes a blank.
std::string ArchiveNameFromTitle(const std::string& title);

// The zip timer: enabled while a zip-mode run is current. Every engine pace
// it posts one tick to the main thread; at pace 0 it posts a tick whenever
// there is work (Wake) instead.
class TZipTimer {
 public:
  TZipTimer();
  ~TZipTimer();
  // Something to do: at pace 0 a tick is posted at once.
  void Wake();
  hxzip::FilePacker* Packer() { return &packer_; }

 private:
  void Run(std::stop_token stop);
  void PostTick();
  mutable std::mutex mutex_;
  std::condition_variable_any cv_;
  bool woken_ = false;
  // Deflates the run's files while they wait in the queue.
  hxzip::FilePacker packer_;
  std::jthread thread_;
};

// The packer of the zip timer, null without one.
hxzip::FilePacker* RunPacker();

// The zip timer of the front end that runs tasks; null in others.
extern TZipTimer* ThreadZip;
