#include <filesystem>
#include <iostream>

#include "app/thxapp.h"
#include "cli/commands.h"
#include "tasks/commatext.h"

namespace {

constexpr const char* kHelp =
    "Usage: harvix-cli task show FILE.hxt\n\n"
    "Prints every member of the task file and of its profile, one per line.\n";

std::string Date(TDateTime t) { return t != 0 ? FormatTaskDateTime(t) : ""; }

void Show(const THXTask& t) {
  auto line = [](const char* name, const std::string& value) { std::cout << name << ": " << value << "\n"; };
  line("Name", t.Name);
  line("File Name", t.FileName);
  line("Category", t.Category);
  line("URL", t.Url);
  for (std::size_t i = 0; i < t.Urls.size(); ++i) line(("URL" + std::to_string(i)).c_str(), t.Urls[i]);
  line("Start Page Title", t.StartPageTitle);
  line("Server", t.Server);
  line("Can Update", t.CanUpdate ? "1" : "0");
  line("User Name", t.UserName);
  line("Password", t.Password.empty() ? "" : "(set)");
  line("Comment", t.Comment);
  line("Destination", t.Destination);
  line("Intranet Mode", t.IntranetMode ? "1" : "0");
  line("Status", std::to_string(t.Status) + " " + TaskStatusName(t.Status));
  line("Schedule", t.Schedule);
  line("Run Method", std::to_string(t.RunMethod));
  line("Total Bytes", std::to_string(t.TotalBytes));
  line("Total Pages", std::to_string(t.TotalPages));
  line("Total Resources", std::to_string(t.TotalResources));
  line("Pages Saved", std::to_string(t.PagesSaved));
  line("Resources Saved", std::to_string(t.ResourcesSaved));
  line("Page Errors", std::to_string(t.PageErrors));
  line("Resource Errors", std::to_string(t.ResourceErrors));
  line("Elapsed Time", Date(t.ElapsedTime));
  line("Last Run", Date(t.LastRun));
  line("Next Run", Date(t.NextRun));
  const THXProfile& p = t.Profile;
  line("Profile Name", p.Name);
  line("File Types", ToCommaText(p.FileTypes));
  line("Page Location", std::to_string(p.PageLocation) + " " + LocationText(p.PageLocation));
  line("Resource Location", std::to_string(p.ResourceLocation) + " " + LocationText(p.ResourceLocation));
  line("Depth", std::to_string(p.Depth));
  line("Aggressive Parser", std::to_string(p.AggressiveParser) + " " + AggressiveParserText(p.AggressiveParser));
  line("Convert Followed Links", std::to_string(p.ConvertFollowedLinks));
  line("Convert Unfollowed Links", std::to_string(p.ConvertUnfollowedLinks));
  line("Use Start Page Title", p.UseStartPageTitle ? "1" : "0");
  line("URL Filters Exclude", ToCommaText(p.UrlFiltersExclude));
  line("URL Filters Include", ToCommaText(p.UrlFiltersInclude));
  line("Page File Size Min", std::to_string(p.PageFileSizeMin));
  line("Page File Size Max", std::to_string(p.PageFileSizeMax));
  line("Resource File Size Min", std::to_string(p.ResourceFileSizeMin));
  line("Resource File Size Max", std::to_string(p.ResourceFileSizeMax));
}

}  // namespace

int TaskCommand(const Args& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kHelp;
    return 0;
  }
  if (args.size() != 2 || args[0] != "show") {
    std::cerr << kHelp;
    return 2;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(args[1], ec)) {
    std::cerr << "harvix-cli task show: no task file \"" << args[1] << "\"\n";
    return 1;
  }
  Show(*THXTask::LoadTask(args[1]));
  return 0;
}
