#pragma once
// A throw-away program folder and settings file for a benchmark run, and
// URLs shaped like those of real sites.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "app/settingsstore.h"
#include "app/thxapp.h"
#include "tasks/filetypes.h"

class BenchSandbox {
 public:
  BenchSandbox() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "harvix-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl + "/";
    setenv("HARVIX_HOME", (dir_ + "program/").c_str(), 1);
    setenv("HOME", (dir_ + "home/").c_str(), 1);
    OpenRegistry(dir_ + "registry.reg");
    WriteFileTypeGroup("HTML", ".htm;.html;.php;.asp;");
    WriteFileTypeGroup("Images", ".gif;.jpg;.png;");
    HXApp = new THXApp();
  }
  ~BenchSandbox() {
    delete HXApp;
    HXApp = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

// Item n of a site: pages and images in nested sections, some with queries.
inline std::string RealisticUrl(std::size_t n) {
  static const char* const sections[] = {"news", "products", "support/articles", "blog/2026", "docs/api/v2"};
  const std::string base = "https://www.example-shop.com/" + std::string(sections[n % 5]) + "/";
  switch (n % 4) {
    case 0: return base + "item-" + std::to_string(n) + ".html";
    case 1: return base + "images/photo_" + std::to_string(n) + ".jpg";
    case 2: return base + "view.php?id=" + std::to_string(n) + "&lang=en";
    default: return base + "page" + std::to_string(n / 7) + "/index-" + std::to_string(n) + ".htm";
  }
}
