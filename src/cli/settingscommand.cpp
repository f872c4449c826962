#include <iostream>
#include <memory>

#include "app/settingstable.h"
#include "app/thxapp.h"
#include "cli/commands.h"

namespace {

constexpr const char* kHelp =
    "Usage: harvix-cli settings [NAME [VALUE]]\n\n"
    "  settings              list every setting as NAME=VALUE\n"
    "  settings NAME         print the value of one setting\n"
    "  settings NAME VALUE   change one setting (names ignore letter case;\n"
    "                        quote names with spaces: \"Max URL History\")\n\n"
    "Flags take 0 or 1. \"User Agent\" takes Harvix, \"Internet Explorer 4.01\",\n"
    "\"Netscape Navigator 4.05\", Anonymous (no header) or any text of your own.\n"
    "Settings live in $HARVIX_CONFIG_DIR (default ~/.config/Harvix/registry.reg).\n";

}  // namespace

int SettingsCommand(const Args& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kHelp;
    return 0;
  }
  if (args.size() > 2) {
    std::cerr << "harvix-cli settings: too many arguments (quote names with spaces)\n" << kHelp;
    return 2;
  }
  auto app = std::make_unique<THXApp>();
  HXApp = app.get();
  int code = 0;
  if (args.empty()) {
    for (const auto& info : AllSettings()) std::cout << info.Name << "=" << CurrentSettingText(info) << "\n";
  } else if (const SettingInfo* info = FindSetting(args[0]); !info) {
    std::cerr << "harvix-cli settings: unknown setting \"" << args[0] << "\"\n";
    code = 2;
  } else if (args.size() == 1) {
    std::cout << CurrentSettingText(*info) << "\n";
  } else if (auto error = SetSettingFromText(*info, args[1])) {
    std::cerr << "harvix-cli settings: " << *error << "\n";
    code = 2;
  } else {
    std::cout << info->Name << "=" << CurrentSettingText(*info) << "\n";
  }
  HXApp = nullptr;
  return code;
}
