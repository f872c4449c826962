// harvix-cli get, run, schedule, tasks and daemon: the task commands of the
// main window for a terminal, run through the same schedule thread.
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>

#include "app/frontend.h"
#include "app/runcontrol.h"
#include "app/thxapp.h"
#include "archive/zipmanager.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "schedule/schedule.h"
#include "tasks/commatext.h"
#include "tasks/thxtask.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kGetHelp =
    "Usage: harvix-cli get URL [OPTIONS]\n\n"
    "Creates a download task for URL (as the window's GO does) and runs it to the\n"
    "end, showing progress. Ctrl+C stops it (resume later with 'run --resume').\n\n"
    "  --profile NAME          use the named profile's rules\n"
    "  --intranet | --zip      save into the personal intranet (default) or into a zip\n"
    "                          archive in the downloads folder, named after the start\n"
    "                          page's title when the download ends\n"
    "  --add-to ARCHIVE        zip mode, adding to this archive (never renamed)\n"
    "  --category NAME         task category (default: the last one used)\n"
    "  --user U --password P   credentials for the start site\n"
    "  --connections N         parallel transfers for this run, 1 to 16\n"
    "  --pace MS               engine pace for this run (0: as fast as possible)\n"
    "  --priority N            0 pages first ... 10 media first, for this run\n"
    "Rules when no profile is given (defaults as a profile without the key):\n"
    "  --levels N              link levels to follow, -1 all (default -1)\n"
    "  --pages-within dir|site|anywhere   (default site)\n"
    "  --media-within dir|site|anywhere   (default anywhere)\n"
    "  --types .htm,.gif,...   file types to fetch (default all)\n"
    "  --exclude PATTERN       URL filter, repeatable; [AL]/[PL]/[ML] markers\n"
    "  --include PATTERN       URL filter, repeatable\n"
    "  --aggressive 0|1|2      off, SCRIPT tags only, entire page (default 1)\n"
    "  --convert-followed 0|1  (default 1)\n"
    "  --convert-unfollowed 0|1|2  (default 1)\n"
    "  --save-profile NAME     also save these rules as a named profile\n"
    "  --no-title-rename       do not rename a zip after the start page's title\n\n"
    "Exit status: 0 finished without errors, 1 finished with errors, 2 bad usage\n"
    "or input, 3 stopped.\n";

constexpr const char* kRunHelp =
    "Usage: harvix-cli run TASK [--restart|--resume|--update|--recover]\n\n"
    "Asks to run a task (a .hxt path, or Category/Name below the tasks folder) and\n"
    "waits for the run to end. A task that ran before resumes unless told otherwise.\n"
    "Exit status as for get.\n";

constexpr const char* kScheduleHelp =
    "Usage: harvix-cli schedule TASK --now | --once \"MM/DD/YY HH:MM:SS\" | --every H:M |\n"
    "                                --daily HH:MM:SS | --weekly Mon,Wed,... HH:MM:SS | --off\n\n"
    "Sets when a task runs; 'harvix-cli daemon' (or the window) starts it then.\n";

constexpr const char* kTasksHelp =
    "Usage: harvix-cli tasks [CATEGORY]\n\n"
    "One line per task: category, name, status, schedule, next run, pages saved/total,\n"
    "media saved/total, errors.\n";

constexpr const char* kDaemonHelp =
    "Usage: harvix-cli daemon\n\n"
    "Runs scheduled tasks unattended, one after another, until SIGINT or SIGTERM,\n"
    "with a line per start and end.\n";

bool IsHelp(const Args& args) { return !args.empty() && (args[0] == "--help" || args[0] == "-h"); }

int Usage(const char* command, const std::string& error, const char* help) {
  std::cerr << "harvix-cli " << command << ": " << error << "\n" << help;
  return 2;
}

std::optional<int> Number(const std::string& text, int lo, int hi) {
  try {
    std::size_t used = 0;
    const int v = std::stoi(text, &used);
    if (used == text.size() && v >= lo && v <= hi) return v;
  } catch (...) {
  }
  return std::nullopt;
}

std::optional<int> Location(const std::string& text) {
  static const std::map<std::string, int> names = {{"dir", 0}, {"site", 1}, {"anywhere", 2}};
  const auto it = names.find(text);
  return it == names.end() ? std::nullopt : std::optional<int>(it->second);
}

// The rules of a task without a named profile, as the task editor sets them.
struct GetOptions {
  std::string Url, Profile, Category, User, Password, SaveProfile, AddTo;
  bool Intranet = true, HasPassword = false;
  int Connections = -1, Pace = -1, Priority = -1;
  THXProfile Rules;
};

std::string ParseGet(const Args& args, GetOptions& o) {
  THXProfile& r = o.Rules;
  r.SetReadDefaults();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    auto number = [&](int lo, int hi, int& out) -> bool {
      const auto v = value();
      const auto n = v ? Number(*v, lo, hi) : std::nullopt;
      if (n) out = *n;
      return n.has_value();
    };
    int n = 0;
    if (a == "--intranet") o.Intranet = true;
    else if (a == "--zip") o.Intranet = false;
    else if (a == "--no-title-rename") r.UseStartPageTitle = false;
    else if (a == "--add-to") {
      const auto v = value();
      if (!v || v->empty()) return "--add-to needs an archive";
      o.AddTo = fs::absolute(*v).lexically_normal().string();
      o.Intranet = false;
      // A shared archive keeps its name.
      r.UseStartPageTitle = false;
    }
    else if (a == "--profile" || a == "--category" || a == "--user" || a == "--password" || a == "--save-profile" ||
             a == "--types" || a == "--exclude" || a == "--include") {
      const auto v = value();
      if (!v) return a + " needs a value";
      if (a == "--profile") o.Profile = *v;
      else if (a == "--category") o.Category = *v;
      else if (a == "--user") o.User = *v;
      else if (a == "--password") o.Password = *v, o.HasPassword = true;
      else if (a == "--save-profile") o.SaveProfile = *v;
      else if (a == "--types") r.FileTypes = FromCommaText(*v);
      else if (a == "--exclude") r.UrlFiltersExclude.push_back(*v);
      else r.UrlFiltersInclude.push_back(*v);
    } else if (a == "--pages-within" || a == "--media-within") {
      const auto v = value();
      const auto loc = v ? Location(*v) : std::nullopt;
      if (!loc) return a + " takes dir, site or anywhere";
      (a == "--pages-within" ? r.PageLocation : r.ResourceLocation) = static_cast<std::uint8_t>(*loc);
    } else if (a == "--levels") {
      if (!number(-1, 1000000, r.Depth)) return "--levels takes -1 (all) or a number of levels";
    } else if (a == "--aggressive" || a == "--convert-followed" || a == "--convert-unfollowed") {
      const int hi = a == "--convert-followed" ? 1 : 2;
      if (!number(0, hi, n)) return a + " takes 0 to " + std::to_string(hi);
      (a == "--aggressive" ? r.AggressiveParser : a == "--convert-followed" ? r.ConvertFollowedLinks : r.ConvertUnfollowedLinks) =
          static_cast<std::uint8_t>(n);
    } else if (a == "--connections") {
      if (!number(1, 16, o.Connections)) return "--connections takes 1 to 16";
    } else if (a == "--pace") {
      if (!number(0, 60000, o.Pace)) return "--pace takes 0 to 60000 ms";
    } else if (a == "--priority") {
      if (!number(0, 10, o.Priority)) return "--priority takes 0 to 10";
    } else if (a.rfind("--", 0) == 0) {
      return "unknown option " + a;
    } else if (o.Url.empty()) {
      o.Url = a;
    } else {
      return "one URL only";
    }
  }
  if (o.Url.empty()) return "no URL given";
  if (!o.User.empty() && !o.HasPassword) return "--user needs --password";
  return "";
}

// The terminal stands in for the task editor and the run dialog.
class CliFrontend : public Frontend {
 public:
  GetOptions* Get = nullptr;
  std::optional<int> Method;
  // The status line changes with every page ("Loading Page: ...", "Saving
  // Changes: ..."); a terminal shows the one progress line instead, and the
  // run's start and end are told by the command itself.
  void ShowStatus(const std::string&, int) override {}
  void ShowWarning(const std::string& text) override { std::cerr << "harvix-cli: " << text << "\n"; }
  void ShowMessage(const std::string& text) override { std::cerr << "harvix-cli: " << text << "\n"; }
  MsgAnswer AskUser(const std::string& text, MsgButtons, MsgAnswer safe) override {
    std::cerr << "harvix-cli: " << text << "\n";
    return safe;
  }
  std::optional<int> ChooseRunMethod(const THXTask&) override { return Method.value_or(rmResume); }
  bool EditNewTask(THXTask& task) override {
    if (!Get) return false;
    const std::string file = task.Profile.FileName;
    task.Profile = Get->Rules;
    task.Profile.FileName = file;
    if (!Get->SaveProfile.empty()) {
      THXProfile named = Get->Rules;
      named.Name = Get->SaveProfile;
      named.FileName = HXApp->ProfilesFolder + Get->SaveProfile + ".hxp";
      named.SaveToFile();
      task.Profile.Name = Get->SaveProfile;
    }
    task.Schedule = "Now";
    task.Status = tsScheduled;
    task.SaveToFile();
    return true;
  }
};

void ApplyRunOverrides(const GetOptions& o) {
  if (o.Pace >= 0) HXApp->EnginePace = o.Pace;
  if (o.Priority >= 0) HXApp->Priority = o.Priority;
  if (o.Connections > 0) HXApp->Connections = o.Connections;
}

// Where a zip-mode run's archive ended up (it may have been renamed).
void ReportArchive(const std::string& file) {
  const auto task = THXTask::LoadTask(file);
  if (!task->IntranetMode && fs::exists(task->Destination)) std::cerr << "Archive " << task->Destination << "\n";
}

struct FrontendScope {
  explicit FrontendScope(Frontend* f) { SetFrontend(f); }
  ~FrontendScope() { SetFrontend(nullptr); }
};

}  // namespace

int GetCommand(const Args& args) {
  if (IsHelp(args)) return std::cout << kGetHelp, 0;
  GetOptions o;
  if (const std::string error = ParseGet(args, o); !error.empty()) return Usage("get", error, kGetHelp);
  CliFrontend ui;
  ui.Get = &o;
  FrontendScope scope(&ui);
  Session session;
  std::string error;
  if (!session.Start(error)) return Usage("get", error, "");
  ApplyRunOverrides(o);
  if (!o.Profile.empty() && o.Profile != "Custom" && !fs::exists(HXApp->ProfilesFolder + o.Profile + ".hxp"))
    return Usage("get", "no profile named \"" + o.Profile + "\" in " + HXApp->ProfilesFolder, "");
  if (!o.Category.empty()) HXApp->LastCategory = o.Category;
  std::string url = o.Url;
  if (!CheckStartUrl(url)) return 2;
  if (!o.AddTo.empty()) {
    // As the window's "Add To Current Zip" with that archive selected.
    ZipManager().OpenArchive(o.AddTo);
    HXApp->AddToSelectedZip = true;
  }
  const std::string file = NewTask(url, o.Profile, false, o.Intranet);
  if (file.empty()) return 2;
  if (!o.User.empty()) {
    auto task = THXTask::LoadTask(file);
    task->UserName = o.User;
    task->Password = o.Password;
    task->SaveToFile();
  }
  std::cerr << "Task " << file << "\n";
  const int code = WaitForRun(session, file);
  ReportArchive(file);
  return code;
}

int RunCommand(const Args& args) {
  if (IsHelp(args)) return std::cout << kRunHelp, 0;
  std::string name;
  CliFrontend ui;
  for (const auto& a : args) {
    if (a == "--restart") ui.Method = rmRestart;
    else if (a == "--resume") ui.Method = rmResume;
    else if (a == "--update") ui.Method = rmSmartUpdate;
    else if (a == "--recover") ui.Method = rmSmartRecovery;
    else if (a.rfind("--", 0) == 0) return Usage("run", "unknown option " + a, kRunHelp);
    else if (name.empty()) name = a;
    else return Usage("run", "one task only", kRunHelp);
  }
  if (name.empty()) return Usage("run", "no task given", kRunHelp);
  FrontendScope scope(&ui);
  Session session;
  std::string error;
  if (!session.Start(error)) return Usage("run", error, "");
  const std::string file = ResolveTaskFile(name);
  if (file.empty()) return Usage("run", "no task \"" + name + "\"", "");
  auto task = THXTask::LoadTask(file);
  if (!task->RequestRun()) return 2;
  task.reset();
  const int code = WaitForRun(session, file);
  ReportArchive(file);
  return code;
}

int ScheduleCommand(const Args& args) {
  if (IsHelp(args)) return std::cout << kScheduleHelp, 0;
  if (args.size() < 2) return Usage("schedule", "a task and a schedule are needed", kScheduleHelp);
  THXApp app;
  HXApp = &app;
  const std::string file = ResolveTaskFile(args[0]);
  int code = 0;
  if (file.empty()) {
    code = Usage("schedule", "no task \"" + args[0] + "\"", "");
  } else {
    const ScheduleRequest request = ScheduleFromOptions(Args(args.begin() + 1, args.end()));
    auto task = THXTask::LoadTask(file);
    if (!request.Error.empty()) code = Usage("schedule", request.Error, kScheduleHelp);
    else if (!ApplyScheduleRequest(*task, request)) code = (std::cerr << "harvix-cli schedule: cannot save " << file << "\n", 1);
    else
      std::cout << task->Name << ": " << (task->Schedule.empty() ? "not scheduled" : task->Schedule)
                << (task->NextRun != 0 ? ", next run " + FormatTaskDateTime(task->NextRun) : "") << "\n";
  }
  HXApp = nullptr;
  return code;
}

int TasksCommand(const Args& args) {
  if (IsHelp(args)) return std::cout << kTasksHelp, 0;
  if (args.size() > 1) return Usage("tasks", "one category at most", kTasksHelp);
  THXApp app;
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& category : fs::directory_iterator(app.TasksFolder, ec)) {
    if (!category.is_directory(ec) || (!args.empty() && category.path().filename() != args[0])) continue;
    for (const auto& f : fs::directory_iterator(category.path(), ec))
      if (f.path().extension() == ".hxt") files.push_back(f.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    const auto t = THXTask::LoadTask(f.string());
    std::cout << f.parent_path().filename().string() << "\t" << t->Name << "\t" << TaskStatusName(t->Status) << "\t"
              << t->Schedule << "\t" << (t->NextRun != 0 ? FormatTaskDateTime(t->NextRun) : "") << "\t"
              << t->PagesSaved << "/" << t->TotalPages << "\t" << t->ResourcesSaved << "/" << t->TotalResources << "\t"
              << t->PageErrors + t->ResourceErrors << "\n";
  }
  return 0;
}

int DaemonCommand(const Args& args) {
  if (IsHelp(args)) return std::cout << kDaemonHelp, 0;
  if (!args.empty()) return Usage("daemon", "no arguments expected", kDaemonHelp);
  CliFrontend ui;
  FrontendScope scope(&ui);
  Session session;
  std::string error;
  if (!session.Start(error)) return Usage("daemon", error, "");
  std::cerr << "harvix-cli daemon: running scheduled tasks; Ctrl+C ends\n";
  std::string running;
  session.PumpUntil([&] {
    THXTask* t = HXApp->CurrentTask.get();
    const std::string now = t && t->IsActive() ? t->FileName : std::string();
    if (now != running) {
      if (!running.empty()) {
        const auto ended = THXTask::LoadTask(running);
        std::cerr << "ended " << ended->Name << ": " << TaskStatusName(ended->Status) << ", "
                  << ended->PageErrors + ended->ResourceErrors << " errors\n";
      }
      if (!now.empty()) std::cerr << "started " << t->Name << " (" << t->FileName << ")\n";
      running = now;
    }
    return false;
  });
  std::cerr << "harvix-cli daemon: stopping\n";
  return 0;
}
