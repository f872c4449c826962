#pragma once
// What every fuzz target needs: a broken invariant ends the run with its
// name, and a scratch folder of the process's own for files the target
// writes.
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

inline void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Made at the first call, ending in "/".
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "harvix-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    return tmpl + "/";
  }();
  return folder;
}
