#include "ziptestkit.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "archive/zipformat.h"
#include "archive/zipio.h"

namespace fs = std::filesystem;

namespace ziptest {

namespace {

void Put16(std::string& out, unsigned v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void Put64(std::string& out, std::uint64_t v) {
  Put32(out, static_cast<std::uint32_t>(v));
  Put32(out, static_cast<std::uint32_t>(v >> 32));
}

hxzip::ArchiveLayout Layout(const std::string& archive) {
  hxzip::ArchiveLayout layout;
  const hxzip::UniqueFd fd(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Valid()) hxzip::InspectArchive(fd.Get(), layout);
  return layout;
}

const hxzip::CentralView* Record(const hxzip::ArchiveLayout& layout, const std::string& entry) {
  for (const auto& r : layout.records)
    if (r.Name(layout.directory) == entry) return &r;
  return nullptr;
}

}  // namespace

std::uint32_t Crc32(const std::string& data) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const unsigned char c : data) crc = table[(crc ^ c) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string RawArchive(const std::vector<RawEntry>& entries, bool zip64End) {
  const unsigned date = ((2020 - 1980) << 9) | (1 << 5) | 1;
  std::string out, directory;
  for (const auto& e : entries) {
    const auto offset = static_cast<std::uint32_t>(out.size());
    const std::uint32_t crc = Crc32(e.data);
    Put32(out, 0x04034b50);
    Put16(out, 10);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, date);
    Put32(out, crc);
    Put32(out, static_cast<std::uint32_t>(e.data.size()));
    Put32(out, static_cast<std::uint32_t>(e.data.size()));
    Put16(out, static_cast<unsigned>(e.name.size()));
    Put16(out, 0);
    out += e.name + e.data;

    Put32(directory, 0x02014b50);
    Put16(directory, (3 << 8) | 20);
    Put16(directory, 10);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, date);
    Put32(directory, crc);
    Put32(directory, static_cast<std::uint32_t>(e.data.size()));
    Put32(directory, static_cast<std::uint32_t>(e.data.size()));
    Put16(directory, static_cast<unsigned>(e.name.size()));
    Put16(directory, 0);
    Put16(directory, static_cast<unsigned>(e.comment.size()));
    Put16(directory, 0);
    Put16(directory, 0);
    Put32(directory, (S_IFREG | 0644u) << 16);
    Put32(directory, offset);
    directory += e.name + e.comment;
  }
  const std::uint64_t directoryOffset = out.size();
  out += directory;
  if (zip64End) {
    const std::uint64_t recordOffset = out.size();
    Put32(out, 0x06064b50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, entries.size());
    Put64(out, entries.size());
    Put64(out, directory.size());
    Put64(out, directoryOffset);
    Put32(out, 0x07064b50);
    Put32(out, 0);
    Put64(out, recordOffset);
    Put32(out, 1);
  }
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, zip64End ? 0xFFFF : static_cast<unsigned>(entries.size()));
  Put16(out, zip64End ? 0xFFFF : static_cast<unsigned>(entries.size()));
  Put32(out, zip64End ? 0xFFFFFFFFu : static_cast<std::uint32_t>(directory.size()));
  Put32(out, zip64End ? 0xFFFFFFFFu : static_cast<std::uint32_t>(directoryOffset));
  Put16(out, 0);
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

void SetModified(const std::string& path, std::time_t when) {
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

std::time_t Modified(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsSymlink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::vector<std::string> Tree(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string rel = fs::path(it->path()).lexically_relative(folder).generic_string();
    if (it->is_directory(ec) && !it->is_symlink(ec)) rel += "/";
    out.push_back(rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string PageText(std::size_t size, unsigned seed) {
  static const char* const words[] = {"archive", "site",  "page",    "link",  "offline", "mirror", "folder",
                                      "image",   "index", "gallery", "about", "contact", "news",   "download"};
  std::mt19937 random(seed);
  std::string out = "<html><head><title>Page " + std::to_string(seed) + "</title></head><body>\n";
  while (out.size() < size) {
    out += "<p><a href=\"/";
    out += words[random() % 14];
    out += "/";
    out += std::to_string(random() % 1000);
    out += ".html\">";
    for (int i = 0; i < 8; ++i) {
      out += words[random() % 14];
      out += ' ';
    }
    out += "</a></p>\n";
  }
  out.resize(size);
  return out;
}

std::string NoiseBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(random() & 0xFF);
  return out;
}

std::map<std::string, ZipFileStats> Listing(const std::string& archive, int* result) {
  std::map<std::string, ZipFileStats> out;
  TZipComponent zip;
  zip.ZipFileName = archive;
  zip.OnListing = [&](const ZipFileStats& s) { out[s.Name] = s; };
  const int rc = zip.List();
  if (result) *result = rc;
  return out;
}

std::map<std::string, int> Methods(const std::string& archive) {
  const hxzip::ArchiveLayout layout = Layout(archive);
  std::map<std::string, int> out;
  for (const auto& r : layout.records)
    out[std::string(r.Name(layout.directory))] = hxzip::Get16(layout.directory.data() + r.begin + 10);
  return out;
}

std::uint64_t LocalOffset(const std::string& archive, const std::string& entry) {
  const hxzip::ArchiveLayout layout = Layout(archive);
  const hxzip::CentralView* r = Record(layout, entry);
  return r ? r->localOffset : 0;
}

std::uint64_t DataOffset(const std::string& archive, const std::string& entry) {
  const hxzip::ArchiveLayout layout = Layout(archive);
  const hxzip::CentralView* r = Record(layout, entry);
  if (!r) return 0;
  const std::string bytes = ReadFile(archive);
  const char* header = bytes.data() + r->localOffset;
  return r->localOffset + hxzip::kLocalHeaderSize + hxzip::Get16(header + 26) + hxzip::Get16(header + 28);
}

std::uint64_t CentralOffset(const std::string& archive, const std::string& entry) {
  const hxzip::ArchiveLayout layout = Layout(archive);
  const hxzip::CentralView* r = Record(layout, entry);
  return r ? layout.directoryOffset + r->begin : 0;
}

bool HaveProgram(const std::string& name) { return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0; }

int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string PythonListing(const std::string& archive) {
  static const char* const script =
      "import sys, zipfile\n"
      "try:\n"
      "    z = zipfile.ZipFile(sys.argv[1])\n"
      "    bad = z.testzip()\n"
      "    if bad is not None:\n"
      "        print('ERROR bad entry', bad)\n"
      "    for i in z.infolist():\n"
      "        print('%s|%d|%d|%s' % (i.filename, i.file_size, i.compress_type, i.comment.hex()))\n"
      "except Exception as e:\n"
      "    print('ERROR', e)\n";
  std::string out;
  RunCommand("PYTHONIOENCODING=utf-8 python3 -c " + Quote(script) + " " + Quote(archive) + " 2>&1", &out);
  return out;
}

std::string SortedPythonListing(const std::string& archive) {
  const std::string listed = PythonListing(archive);
  std::vector<std::string> lines;
  for (std::size_t at = 0, nl; (nl = listed.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(listed.substr(at, nl - at + 1));
  std::sort(lines.begin(), lines.end());
  std::string sorted;
  for (const auto& l : lines) sorted += l;
  return sorted;
}

std::string PythonLine(const std::string& name, std::uint64_t size, int method, const std::string& comment) {
  static const char* const digits = "0123456789abcdef";
  std::string hex;
  for (const unsigned char c : comment) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return name + "|" + std::to_string(size) + "|" + std::to_string(method) + "|" + hex;
}

}  // namespace ziptest
