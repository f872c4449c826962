#include "app/workerthreads.h"

#include "archive/taskarchive.h"
#include "engine/socketlist.h"
#include "engine/tthreaddownload.h"
#include "parse/tthreadparse.h"
#include "schedule/tthreadschedule.h"

WorkerThreads::WorkerThreads() = default;

WorkerThreads::~WorkerThreads() { Free(); }

void WorkerThreads::Create(bool withSchedule) {
  parse_ = std::make_unique<TThreadParse>();
  ThreadParse = parse_.get();
  download_ = std::make_unique<TThreadDownload>(SocketList());
  ThreadDownload = download_.get();
  zip_ = std::make_unique<TZipTimer>();
  ThreadZip = zip_.get();
  if (withSchedule) schedule_ = std::make_unique<TThreadSchedule>();
  ThreadSchedule = schedule_.get();
}

void WorkerThreads::EndSchedule() {
  ThreadSchedule = nullptr;
  schedule_.reset();
}

void WorkerThreads::Free() {
  EndSchedule();
  ThreadZip = nullptr;
  zip_.reset();
  ThreadDownload = nullptr;
  download_.reset();
  ThreadParse = nullptr;
  parse_.reset();
  SocketList().StopAllSlots();
  SocketList().SetSlotCount(0);
}
