// harvix-cli: the headless front end.
#include <iostream>

#include "app/frontend.h"
#include "app/mainqueue.h"
#include "cli/commands.h"

namespace {

class TerminalFrontend : public Frontend {
 public:
  void ShowStatus(const std::string& text, int) override {
    if (!text.empty()) std::cerr << text << "\n";
  }
  void ShowWarning(const std::string& text) override { std::cerr << "harvix-cli: " << text << "\n"; }
  void ShowMessage(const std::string& text) override { std::cerr << "harvix-cli: " << text << "\n"; }
};

void Usage(std::ostream& out) {
  out << "Usage: harvix-cli COMMAND [ARGS]\n\n"
         "Commands:\n"
         "  settings [NAME [VALUE]]   list, show or change program settings\n"
         "  task show FILE.hxt        show every member of a task and its profile\n"
         "  fetch URL...              download the URLs (no links followed)\n"
         "  get URL [OPTIONS]         create a download task and run it to the end\n"
         "  run TASK [--resume|...]   run an existing task\n"
         "  schedule TASK WHEN        set when a task runs\n"
         "  tasks [CATEGORY]          list the tasks\n"
         "  daemon                    run scheduled tasks unattended\n"
         "  zip COMMAND ARCHIVE ...   list, test, extract, add, delete, rename or fix archives\n\n"
         "Run 'harvix-cli COMMAND --help' for the details of one command.\n";
}

}  // namespace

int main(int argc, char** argv) {
  MainThread().setMainThread();
  TerminalFrontend terminal;
  SetFrontend(&terminal);
  Args args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    Usage(args.empty() ? std::cerr : std::cout);
    return args.empty() ? 2 : 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  int code = 2;
  if (command == "settings") code = SettingsCommand(args);
  else if (command == "task") code = TaskCommand(args);
  else if (command == "fetch") code = FetchCommand(args);
  else if (command == "get") code = GetCommand(args);
  else if (command == "run") code = RunCommand(args);
  else if (command == "schedule") code = ScheduleCommand(args);
  else if (command == "tasks") code = TasksCommand(args);
  else if (command == "daemon") code = DaemonCommand(args);
  else if (command == "zip") code = ZipCommand(args);
  else {
    std::cerr << "harvix-cli: unknown command \"" << command << "\"\n";
    Usage(std::cerr);
  }
  SetFrontend(nullptr);
  return code;
}
