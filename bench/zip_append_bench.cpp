// Adding files one by one to a growing archive, as the zip-mode pipeline
// does: 2,000 pages of 20 KB, each added by its own TZipComponent::Add call.
// An add must cost about the same at the end as at the start; an archive
// rewritten on every add would make the last adds many times slower.
//
//   bench_zip_append          # 2,000 files
//   bench_zip_append 20000    # another count (at least 200)
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/zipcomponent.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFileSize = 20 * 1024;
constexpr int kWindow = 100;

// A page of the shape sites have: markup, navigation, paragraphs of words.
std::string Page(int n) {
  static const char* const words[] = {"offline", "archive", "mirror",  "gallery", "article", "section", "download",
                                      "contact", "about",   "history", "project", "weather", "service", "library"};
  std::mt19937 random(static_cast<unsigned>(n));
  std::string out = "<!DOCTYPE html>\n<html><head><title>Page " + std::to_string(n) +
                    "</title><link rel=\"stylesheet\" href=\"../style.css\"></head>\n<body><ul class=\"nav\">\n";
  for (int i = 0; i < 12; ++i)
    out += "<li><a href=\"/section-" + std::to_string(random() % 40) + "/page-" + std::to_string(random() % 500) +
           ".html\">" + words[random() % 14] + "</a></li>\n";
  out += "</ul>\n";
  while (out.size() < kFileSize) {
    out += "<p>";
    for (int i = 0; i < 40; ++i) {
      out += words[random() % 14];
      out += i % 9 == 8 ? ". " : " ";
    }
    out += "<img src=\"img/" + std::to_string(random() % 1000) + ".gif\" alt=\"\"></p>\n";
  }
  out.resize(kFileSize);
  return out;
}

double Mean(const std::vector<double>& v, std::size_t from, std::size_t count) {
  double sum = 0;
  for (std::size_t i = from; i < from + count; ++i) sum += v[i];
  return sum / static_cast<double>(count);
}

}  // namespace

int main(int argc, char** argv) {
  const int kFiles = argc > 1 ? std::max(std::atoi(argv[1]), 2 * kWindow) : 2000;
  std::string tmpl = (fs::temp_directory_path() / "harvix-zipbench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 2;
  const fs::path root = tmpl;
  const fs::path site = root / "site";
  std::vector<std::string> names;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "section-" + std::to_string(i % 40) + "/page-" + std::to_string(i) + ".html";
    fs::create_directories((site / name).parent_path());
    std::ofstream(site / name, std::ios::binary) << Page(i);
    names.push_back(name);
  }
  const std::string archive = (root / "site.zip").string();

  std::vector<double> times;
  times.reserve(kFiles);
  int failures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const auto& name : names) {
    const auto t0 = std::chrono::steady_clock::now();
    TZipComponent zip;
    zip.ZipFileName = archive;
    zip.BaseFolder = site.string();
    zip.OnFileComment = [](const std::string& file) { return "http://example.org/" + file; };
    zip.FilesToProcess = {name};
    if (zip.Add() != zrSuccess) ++failures;
    times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const double first = Mean(times, 0, kWindow);
  const double last = Mean(times, times.size() - kWindow, kWindow);
  std::printf("zip append: %d files of %zu bytes, one Add call each\n", kFiles, kFileSize);
  std::printf("  mean per add, first %d: %8.1f us\n", kWindow, first);
  std::printf("  mean per add, last %d:  %8.1f us\n", kWindow, last);
  std::printf("  last / first:           %8.2f (goal <= 2)\n", last / first);
  std::printf("  total:                  %8.3f s\n", total);
  std::printf("  archive size:           %8.1f KB (%ju bytes)\n", fs::file_size(archive) / 1024.0,
              static_cast<std::uintmax_t>(fs::file_size(archive)));

  TZipComponent check;
  check.ZipFileName = archive;
  const auto t0 = std::chrono::steady_clock::now();
  const int tested = check.Test();
  const double testTime = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const long long entries = check.EntryCount();
  std::printf("  Test(): %s, %lld entries, %.3f s\n", tested == zrSuccess ? "passed" : "FAILED", entries, testTime);
  if (failures) std::printf("  %d adds FAILED\n", failures);

  std::error_code ec;
  fs::remove_all(root, ec);
  return tested == zrSuccess && entries == kFiles && failures == 0 ? 0 : 1;
}
