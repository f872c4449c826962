#pragma once
// A private folder for one test, removed afterwards, and an environment in
// which Harvix keeps all of its files there (settings, program folder, home).
#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // With a trailing "/".
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);

// Points HARVIX_CONFIG_DIR, HARVIX_HOME and HOME into the folder, opens a
// fresh settings store there and creates HXApp; undoes all of it at the end.
class HarvixSandbox {
 public:
  HarvixSandbox();
  ~HarvixSandbox();
  const TempDir& Dir() const { return dir_; }
  std::string ConfigDir() const { return dir_.Path() + "config/"; }
  std::string ProgramDir() const { return dir_.Path() + "program/"; }
  std::string HomeDir() const { return dir_.Path() + "home/"; }
  // Recreates HXApp, as a restart of the program would.
  void Restart();

 private:
  TempDir dir_;
  std::string oldHome_;
};
