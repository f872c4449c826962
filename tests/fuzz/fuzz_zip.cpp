// An archive can be cut short, damaged or made to attack its reader. Any
// bytes must list, test and extract without a crash and without writing
// outside the target folder, and a repair must leave an archive that reads
// back with exactly the entries it kept.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/zipcomponent.h"
#include "fuzzsupport.h"

namespace fs = std::filesystem;

namespace {

// Every file below the folder (extraction must put nothing elsewhere).
std::size_t FilesBelow(const std::string& folder) {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string root = ScratchFolder();
  std::error_code ec;
  fs::remove_all(root + "out", ec);
  fs::remove(root + "a.zip.damaged", ec);
  const std::string archive = root + "a.zip";
  std::ofstream(archive, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  const std::size_t before = FilesBelow(root);

  TZipComponent zip;
  zip.ZipFileName = archive;
  zip.BombLimit = 1 << 20;
  long long listed = 0;
  zip.OnListing = [&](const ZipFileStats&) { ++listed; };
  zip.FilesToProcess = {"*.*"};
  const int listCode = zip.List();
  const long long count = zip.EntryCount();
  Require(listCode > 0 || count == listed, "a listing that succeeded shows every entry");
  zip.Test();
  zip.ExtractDirectory = root + "out/";
  zip.Overwrite = ZipOverwrite::xowAlways;
  zip.FilesToProcess = {"*.*"};
  zip.Extract();
  // Nothing beside the archive and the target folder: no ".." escaped.
  std::size_t outside = FilesBelow(root) - FilesBelow(root + "out");
  if (fs::exists(root + "out")) --outside;
  Require(outside == before, "extraction wrote nothing outside its folder");

  if (zip.Fix() <= 0) {
    const long long kept = zip.EntryCount();
    long long relisted = 0;
    zip.OnListing = [&](const ZipFileStats&) { ++relisted; };
    zip.FilesToProcess = {"*.*"};
    const int code = zip.List();
    Require(kept >= 0, "a fixed archive reads");
    Require(code > 0 ? kept == 0 : relisted == kept, "a fixed archive lists its entries");
  }
  return 0;
}
