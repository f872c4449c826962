#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/settingsstore.h"
#include "app/thxapp.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "harvix-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void WriteTextFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

HarvixSandbox::HarvixSandbox() {
  if (const char* h = getenv("HOME")) oldHome_ = h;
  fs::create_directories(HomeDir());
  setenv("HARVIX_CONFIG_DIR", ConfigDir().c_str(), 1);
  setenv("HARVIX_HOME", ProgramDir().c_str(), 1);
  setenv("HOME", HomeDir().c_str(), 1);
  Restart();
}

void HarvixSandbox::Restart() {
  delete HXApp;
  OpenRegistry(ConfigDir() + "registry.reg");
  HXApp = new THXApp();
}

HarvixSandbox::~HarvixSandbox() {
  delete HXApp;
  HXApp = nullptr;
  OpenRegistry("");
  unsetenv("HARVIX_CONFIG_DIR");
  unsetenv("HARVIX_HOME");
  if (!oldHome_.empty()) setenv("HOME", oldHome_.c_str(), 1);
}
