#pragma once
// A current task served by real connection slots against a loopback
// server, with the main-thread queue pumped by the test.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "app/mainqueue.h"
#include "app/thxapp.h"
#include "engine/socketlist.h"
#include "engine/tthreaddownload.h"
#include "support/loopbackserver.h"
#include "support/tempdir.h"
#include "tasks/filetypes.h"

class EngineFixture : public ::testing::Test {
 protected:
  explicit EngineFixture(LoopbackServer::Tls tls = LoopbackServer::Tls::Off) : server(tls) {}

  void SetUp() override {
    // Requests to this machine must not wander off to a proxy of the
    // environment.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(name);
    MainThread().setMainThread();
    WriteFileTypeGroup("HTML", ".htm;.html;");
    WriteFileTypeGroup("Images", ".gif;.jpg;");
    HXApp->EnginePace = 0;
    SlotSettings& s = TThreadSocket::Settings();
    s = SlotSettings{};
    s.PaceMs = 0;
    s.StallSeconds = 2;
    s.ConnectTimeoutSeconds = 5;
    auto task = std::make_unique<THXTask>();
    task->Name = "Site";
    task->FileName = HXApp->TasksFolder + "General/Site.hxt";
    task->IntranetMode = true;
    task->Destination = box.Dir().Path() + "out/";
    HXApp->SetCurrentTask(std::move(task));
  }

  void TearDown() override {
    dispatcher.reset();
    SocketList().StopAllSlots();
    SocketList().SetSlotCount(0);
    HXApp->DropCurrentTask();
  }

  THXTask& Task() { return *HXApp->CurrentTask; }
  std::string Url(const std::string& path) const { return server.BaseUrl() + path; }

  // Pumps the main thread until the condition holds; false on time-out.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      MainThread().waitForWork(std::chrono::milliseconds(10));
      MainThread().processPending();
    }
    return true;
  }

  // Runs the task from its start URLs to completion with n slots. Saved
  // pages are taken as parsed, as no parse pass runs here.
  bool RunTask(std::size_t slots = 3) {
    Task().RunMethod = rmRestart;
    Task().BeginRun();
    SocketList().SetSlotCount(slots);
    dispatcher = std::make_unique<TThreadDownload>(SocketList());
    dispatcher->Resume();
    return PumpUntil([&] {
      while (auto page = Task().NextPageToParse()) {
        page->State = isParsed;
        page->Store();
      }
      return Task().Status == tsDownloadComplete && dispatcher->Stopped();
    });
  }

  std::unique_ptr<THXQItem> ItemOf(const std::string& url) {
    const auto at = Task().Downloads.Find(url);
    return at < 0 ? nullptr : Task().GetItem(static_cast<std::size_t>(at));
  }

  HarvixSandbox box;
  LoopbackServer server;
  std::unique_ptr<TThreadDownload> dispatcher;
};
