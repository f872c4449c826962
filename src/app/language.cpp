#include "app/language.h"

#include <memory>

#include "app/folders.h"
#include "app/thxapp.h"
#include "tasks/inifile.h"

namespace {
struct Loaded {
  std::string Name;
  std::unique_ptr<IniFile> File;
};
Loaded& Current() {
  static Loaded loaded;
  return loaded;
}
}  // namespace

void ReloadLanguage() { Current() = Loaded{}; }

std::string LanguageString(int number) {
  const std::string name = HXApp ? HXApp->Language : "Native";
  Loaded& cur = Current();
  if (!cur.File || cur.Name != name) {
    const std::string folder = HXApp ? HXApp->ProgramFolder : ProgramFolder();
    std::string path = folder + name + ".lng";
    if (!ReadWholeFile(path)) path = ResourcesFolder() + name + ".lng";
    cur = Loaded{name, std::make_unique<IniFile>(path)};
  }
  std::string text = cur.File->ReadString("Strings", std::to_string(number), "");
  // A language file installed by an older version lacks newer messages; the
  // shipped file of the same name may have them.
  if (text.empty()) text = IniFile(ResourcesFolder() + name + ".lng").ReadString("Strings", std::to_string(number), "");
  return text.empty() ? "undefined language string" : text;
}
