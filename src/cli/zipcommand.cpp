// harvix-cli zip: the zip manager's commands for a terminal. Every command
// reports through the same result classes as the window: exit 0 success,
// 1 warning, 2 error.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>

#include "app/frontend.h"
#include "archive/zipmanager.h"
#include "cli/commands.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kZipHelp =
    "Usage: harvix-cli zip COMMAND ARCHIVE [ARGS]\n\n"
    "  list ARCHIVE                       entries with size, packed size, ratio, date and comment\n"
    "  test ARCHIVE                       read every entry and check its CRC\n"
    "  extract ARCHIVE [DIR] [--overwrite] [--no-paths]\n"
    "                                     extract into DIR (default: the current folder);\n"
    "                                     existing files are kept unless --overwrite\n"
    "  add ARCHIVE FILE... [--level N] [--no-paths] [--recurse] [--freshen|--update]\n"
    "                                     add files or folders (created when missing)\n"
    "  delete ARCHIVE ENTRY...            remove entries (names or masks such as dir/*.*)\n"
    "  rename ARCHIVE NEWNAME             rename the archive within its folder\n"
    "  fix ARCHIVE                        rebuild an archive whose end was lost; the damaged\n"
    "                                     file is kept as ARCHIVE.damaged\n\n"
    "Exit status: 0 success, 1 warning (some files skipped, empty archive), 2 error.\n";

// Only what the user needs on a terminal: skipped files and the result
// messages; the per-file status lines of the window are left out.
class ZipTerminal : public Frontend {
 public:
  void ShowStatus(const std::string& text, int) override {
    if (text.rfind("Skipped ", 0) == 0) std::cerr << text << "\n";
  }
  void ShowWarning(const std::string& text) override { std::cerr << "harvix-cli zip: " << text << "\n"; }
  void ShowMessage(const std::string& text) override { std::cerr << "harvix-cli zip: " << text << "\n"; }
  void ShowError(const std::string& text) override { std::cerr << "harvix-cli zip: error: " << text << "\n"; }
};

int Usage(const std::string& error) {
  std::cerr << "harvix-cli zip: " << error << "\n" << kZipHelp;
  return 2;
}

std::string Date(std::time_t t) {
  char buf[32] = "";
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

int List(TZipManager& zip) {
  std::uint64_t size = 0, packed = 0;
  long long count = 0;
  std::printf("%12s %12s %6s  %-19s  %s\n", "Size", "Packed", "Ratio", "Modified", "Name");
  zip.Zip.OnListing = [&](const ZipFileStats& s) {
    std::printf("%12llu %12llu %5d%%  %-19s  %s", static_cast<unsigned long long>(s.Size),
                static_cast<unsigned long long>(s.Packed), s.Ratio, Date(s.Modified).c_str(), s.Name.c_str());
    if (!s.Comment.empty()) std::printf("   (%s)", s.Comment.c_str());
    std::printf("\n");
    size += s.Size;
    packed += s.Packed;
    ++count;
  };
  zip.Zip.FilesToProcess = {"*.*"};
  const int code = zip.Zip.List();
  const int saving = size > 0 ? static_cast<int>(100.0 - static_cast<double>(packed) * 100.0 / size + 0.5) : 0;
  std::printf("Total: %lld files  %llu / %llu bytes (%d%%)\n", count, static_cast<unsigned long long>(size),
              static_cast<unsigned long long>(packed), saving);
  std::fflush(stdout);
  return zip.CheckZipResult(code, "listing");
}

}  // namespace

int ZipCommand(const Args& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    (args.empty() ? std::cerr : std::cout) << kZipHelp;
    return args.empty() ? 2 : 0;
  }
  const std::string command = args[0];
  std::vector<std::string> words;
  bool overwrite = false, noPaths = false, recurse = false;
  std::optional<int> level;
  ZipAddMode mode = ZipAddMode::AddReplace;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--overwrite") overwrite = true;
    else if (a == "--no-paths") noPaths = true;
    else if (a == "--recurse") recurse = true;
    else if (a == "--freshen") mode = ZipAddMode::Freshen;
    else if (a == "--update") mode = ZipAddMode::Update;
    else if (a == "--level") {
      if (i + 1 >= args.size() || args[i + 1].size() != 1 || args[i + 1][0] < '0' || args[i + 1][0] > '9')
        return Usage("--level takes 0 to 9");
      level = args[++i][0] - '0';
    } else if (a.rfind("--", 0) == 0) {
      return Usage("unknown option " + a);
    } else {
      words.push_back(a);
    }
  }
  if (words.empty()) return Usage("no archive given");
  const std::string archive = fs::absolute(words[0]).lexically_normal().string();
  const std::vector<std::string> rest(words.begin() + 1, words.end());

  ZipTerminal terminal;
  Frontend& previous = UI();
  SetFrontend(&terminal);
  struct Restore {
    Frontend* f;
    ~Restore() { SetFrontend(f); }
  } restore{&previous};

  TZipManager zip;
  TZipComponent& c = zip.Zip;
  c.ZipFileName = archive;
  if (command == "list") {
    if (!rest.empty()) return Usage("list takes one archive");
    return List(zip);
  }
  if (command == "test") {
    if (!rest.empty()) return Usage("test takes one archive");
    const int result = zip.CheckZipResult(c.Test(), "testing");
    if (result == 0) std::cout << "No errors in " << archive << "\n";
    return result;
  }
  if (command == "extract") {
    if (rest.size() > 1) return Usage("extract takes an archive and at most one folder");
    c.ExtractDirectory = rest.empty() ? fs::current_path().string() : fs::absolute(rest[0]).string();
    c.UsePaths = !noPaths;
    c.Overwrite = overwrite ? ZipOverwrite::xowAlways : ZipOverwrite::xowNever;
    c.FilesToProcess = {"*.*"};
    return zip.CheckZipResult(c.Extract(), "extracting");
  }
  if (command == "add") {
    if (rest.empty()) return Usage("add needs files to add");
    c.BaseFolder = fs::current_path().string();
    c.UsePaths = !noPaths;
    c.Recurse = recurse;
    if (level) c.Compression = *level;
    c.FilesToProcess = rest;
    return zip.CheckZipResult(c.Add(mode), "adding");
  }
  if (command == "delete") {
    if (rest.empty()) return Usage("delete needs entries to delete");
    c.FilesToProcess = rest;
    return zip.CheckZipResult(c.Delete(), "deleting");
  }
  if (command == "fix") {
    if (!rest.empty()) return Usage("fix takes one archive");
    const int result = zip.CheckZipResult(c.Fix(), "fixing");
    if (result != 2) std::cout << "Fixed " << archive << " (" << c.EntryCount() << " entries)\n";
    return result;
  }
  if (command == "rename") {
    if (rest.size() != 1) return Usage("rename takes an archive and a new name");
    if (!fs::is_regular_file(archive)) return zip.CheckZipResult(zrNotFound, "renaming");
    ZipTreeNode* node = zip.OpenArchive(archive);
    if (!zip.RenameArchive(node, rest[0])) return 2;
    std::cout << node->Data->FileName << "\n";
    return 0;
  }
  return Usage("unknown zip command \"" + command + "\"");
}
