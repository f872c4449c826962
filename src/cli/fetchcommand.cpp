// harvix-cli fetch: the download engine alone over a list of start URLs.
// The task it runs is stored like any other (".hxt" and ".dwn" in the
// "General" category, named after the first host), so a later run can
// resume or update it.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>

#include "app/folders.h"
#include "app/mainqueue.h"
#include "app/startup.h"
#include "app/thxapp.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "engine/socketlist.h"
#include "engine/tthreaddownload.h"
#include "url/localfile.h"
#include "url/tbwurl.h"

namespace {

constexpr const char* kHelp =
    "Usage: harvix-cli fetch URL... [--out DIR] [--connections N] [--pace MS]\n\n"
    "Fetches the URLs (no links are followed) into the personal intranet, or\n"
    "into DIR, and keeps the task as General/<host>.hxt for later runs.\n\n"
    "  --out DIR          folder to store into (default: the intranet folder)\n"
    "  --connections N    parallel transfers, 1 to 16 (default: the setting)\n"
    "  --pace MS          engine pace in ms; 0 runs as fast as it can\n"
    "                     (default: the \"Engine Pace\" setting, 1000)\n\n"
    "Exit status: 0 when every URL was saved, 1 when any failed, 2 on bad usage.\n"
    "HARVIX_CA_FILE names extra trusted certificates (PEM) for HTTPS.\n";

volatile std::sig_atomic_t interrupted = 0;

struct FetchOptions {
  std::vector<std::string> Urls;
  std::string Out;
  int Connections = -1;
  int Pace = -1;
};

bool ParseNumber(const std::string& text, int lo, int hi, int& out) {
  try {
    std::size_t used = 0;
    const int v = std::stoi(text, &used);
    if (used != text.size() || v < lo || v > hi) return false;
    out = v;
    return true;
  } catch (...) {
    return false;
  }
}

// Returns an error text, or empty when the options are good.
std::string Parse(const Args& args, FetchOptions& o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--out" && hasValue) o.Out = args[++i];
    else if (a == "--connections" && hasValue) {
      if (!ParseNumber(args[++i], 1, 16, o.Connections)) return "--connections takes a number from 1 to 16";
    } else if (a == "--pace" && hasValue) {
      if (!ParseNumber(args[++i], 0, 60000, o.Pace)) return "--pace takes milliseconds from 0 to 60000";
    } else if (a.rfind("--", 0) == 0) {
      return "unknown or incomplete option " + a;
    } else {
      std::string url = a;
      if (!NormalizeURL(url)) return "not a usable URL: " + a;
      o.Urls.push_back(url);
    }
  }
  return o.Urls.empty() ? "no URL given" : "";
}

std::unique_ptr<THXTask> PrepareTask(const FetchOptions& o) {
  const std::string name = ReplaceIllegalChars(URLHost(o.Urls.front()), '_');
  auto task = THXTask::LoadTask(HXApp->TasksFolder + "General/" + (name.empty() ? "fetch" : name) + ".hxt");
  task->Name = name.empty() ? "fetch" : name;
  task->Category = "General";
  task->Url = o.Urls.size() == 1 ? o.Urls.front() : std::string();
  task->Urls = o.Urls.size() == 1 ? std::vector<std::string>{} : o.Urls;
  task->IntranetMode = true;
  task->Destination = IncludeTrailingSlash(o.Out.empty() ? HXApp->IntranetFolder() : o.Out);
  task->RunMethod = rmRestart;
  return task;
}

// fetch follows no links: a fetched page is taken as parsed with none in it.
void TakeFetchedPages(THXTask& task) {
  while (auto page = task.NextPageToParse()) {
    page->State = isParsed;
    page->Store();
  }
}

}  // namespace

int FetchCommand(const Args& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kHelp;
    return 0;
  }
  FetchOptions options;
  if (const std::string error = Parse(args, options); !error.empty()) {
    std::cerr << "harvix-cli fetch: " << error << "\n" << kHelp;
    return 2;
  }
  auto app = std::make_unique<THXApp>();
  HXApp = app.get();
  if (!AcquireTaskRunLock(HXApp->TasksFolder)) {
    std::cerr << "harvix-cli fetch: another Harvix is running tasks; try again when it has finished\n";
    HXApp = nullptr;
    return 1;
  }
  FirstRunSetup();
  DetectWorkOffline();
  if (options.Pace >= 0) HXApp->EnginePace = options.Pace;
  ConfigureSlotsFromSettings();
  std::signal(SIGINT, [](int) { interrupted = 1; });
  std::signal(SIGTERM, [](int) { interrupted = 1; });

  const auto started = std::chrono::steady_clock::now();
  HXApp->SetCurrentTask(PrepareTask(options));
  THXTask& task = *HXApp->CurrentTask;
  task.BeginRun();
  SocketList().SetSlotCount(static_cast<std::size_t>(options.Connections > 0 ? options.Connections : HXApp->Connections));
  const bool terminal = isatty(2);
  int code = 0;
  {
    TThreadDownload dispatcher(SocketList());
    dispatcher.Resume();
    auto lastShown = started;
    while (!(task.Status == tsDownloadComplete && dispatcher.Stopped())) {
      if (interrupted) break;
      MainThread().waitForWork(std::chrono::milliseconds(50));
      MainThread().processPending();
      if (task.NextPageToParse()) {
        TakeFetchedPages(task);
        dispatcher.Wake();
      }
      if (terminal && std::chrono::steady_clock::now() - lastShown > std::chrono::milliseconds(200)) {
        ShowRunProgress(task, true, false);
        lastShown = std::chrono::steady_clock::now();
      }
    }
    dispatcher.Stop();
    SocketList().StopAllSlots();
    task.ResetInProgressItems();
    if (interrupted) {
      task.Status = tsStopped;
      code = 130;
    }
    // Completion saved the list and the task already.
    if (interrupted || task.Modified) task.SaveDownloads();
  }
  SocketList().SetSlotCount(0);
  if (terminal) ShowRunProgress(task, true, true);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const int errors = task.PageErrors + task.ResourceErrors;
  std::cerr << "Saved " << task.PagesSaved + task.ResourcesSaved << " of "
            << task.TotalPages + task.TotalResources << " items (" << task.TotalBytes << " bytes) in " << seconds
            << " s into " << task.OutputFolder() << "; " << errors << " failed\n";
  if (code == 0) code = errors ? 1 : 0;
  HXApp->DropCurrentTask();
  HXApp = nullptr;
  ReleaseTaskRunLock();
  return code;
}
