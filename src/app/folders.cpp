#include "app/folders.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "url/textutil.h"

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string XdgFolder(const char* override, const char* xdg, const char* fallback) {
  if (std::string v = Env(override); !v.empty()) return IncludeTrailingSlash(v);
  if (std::string v = Env(xdg); !v.empty()) return IncludeTrailingSlash(v) + "Harvix/";
  return IncludeTrailingSlash(HomeFolder()) + fallback + "Harvix/";
}

std::string ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : IncludeTrailingSlash(exe.parent_path().string());
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::path(path), ec);
  if (ec) p = fs::path(path).lexically_normal();
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

std::string IncludeTrailingSlash(const std::string& path) {
  return !path.empty() && path.back() == '/' ? path : path + "/";
}

std::string ExcludeTrailingSlash(const std::string& path) {
  std::string s = path;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string HomeFolder() {
  if (std::string h = Env("HOME"); !h.empty()) return IncludeTrailingSlash(h);
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return IncludeTrailingSlash(pw->pw_dir);
  return "/";
}

std::string ProgramFolder() { return XdgFolder("HARVIX_HOME", "XDG_DATA_HOME", ".local/share/"); }

std::string ConfigFolder() { return XdgFolder("HARVIX_CONFIG_DIR", "XDG_CONFIG_HOME", ".config/"); }

std::string ResourcesFolder() {
  if (std::string v = Env("HARVIX_RESOURCES"); !v.empty()) return IncludeTrailingSlash(v);
  const std::string exe = ExecutableFolder();
  std::error_code ec;
  if (!exe.empty() && fs::is_directory(exe + "../share/harvix", ec))
    return Canonical(exe + "../share/harvix") + "/";
#ifdef HARVIX_SOURCE_RESOURCES
  if (fs::is_directory(HARVIX_SOURCE_RESOURCES, ec)) return IncludeTrailingSlash(HARVIX_SOURCE_RESOURCES);
#endif
  return exe + "resources/";
}

std::string DefaultTempFolder() {
  std::error_code ec;
  std::string tmp = fs::temp_directory_path(ec).string();
  if (ec || tmp.empty()) tmp = "/tmp";
  std::string user = Env("USER");
  if (const passwd* pw = getpwuid(getuid()); user.empty() && pw && pw->pw_name) user = pw->pw_name;
  if (user.empty()) user = std::to_string(getuid());
  return IncludeTrailingSlash(tmp) + "Harvix-" + user + "/";
}

std::optional<std::string> ReadWholeFile(const std::string& path, struct stat* info) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st{};
  const bool known = ::fstat(fd, &st) == 0;
  if (info) *info = st;
  std::string bytes;
  // The size is a hint: the file may grow or shrink while it is read, and
  // files of /proc report none.
  std::size_t want = known && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 4096;
  std::size_t size = 0;
  for (;;) {
    if (bytes.size() < size + want) bytes.resize(size + want);
    const std::size_t asked = bytes.size() - size;
    const ssize_t n = ::read(fd, bytes.data() + size, asked);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
    // A plain file that gave all the bytes its size said, and less than
    // asked, is at its end: no read more to be told so. (Files of /proc say
    // no size and may give less than asked before their end.)
    if (known && S_ISREG(st.st_mode) && st.st_size > 0 && size == static_cast<std::size_t>(st.st_size) &&
        static_cast<std::size_t>(n) < asked)
      break;
    want = std::max<std::size_t>(4096, size);
  }
  ::close(fd);
  bytes.resize(size);
  return bytes;
}

namespace {

bool WriteAll(int fd, std::string_view data) {
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)) {
  tmp_ = path_ + ".tmp-XXXXXX";
  fd_ = mkstemp(tmp_.data());
  // The folder is made only when it is missing: most writes replace a file.
  if (fd_ < 0 && errno == ENOENT && fs::path(path_).has_parent_path()) {
    std::error_code ec;
    fs::create_directories(fs::path(path_).parent_path(), ec);
    tmp_ = path_ + ".tmp-XXXXXX";
    fd_ = mkstemp(tmp_.data());
  }
  ok_ = fd_ >= 0;
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(tmp_.c_str());
}

void AtomicFileWriter::Flush() {
  if (ok_ && !buffer_.empty()) ok_ = WriteAll(fd_, buffer_);
  buffer_.clear();
}

void AtomicFileWriter::Write(std::string_view data) {
  if (!ok_) return;
  constexpr std::size_t kBuffer = 1 << 20;
  // A large piece goes out as it is, without a copy.
  if (data.size() >= kBuffer) {
    Flush();
    if (ok_) ok_ = WriteAll(fd_, data);
    return;
  }
  buffer_.append(data);
  if (buffer_.size() >= kBuffer) Flush();
}

bool AtomicFileWriter::Commit(bool durable, const struct stat* replaced) {
  if (fd_ < 0) return false;
  Flush();
  // Keep the permissions of the file we replace; new files get the usual 0644.
  struct stat st{};
  const bool exists = replaced ? (st = *replaced, true) : ::stat(path_.c_str(), &st) == 0;
  const mode_t mode = exists ? (st.st_mode & 07777) | S_IWUSR : 0644;
  bool ok = ok_ && ::fchmod(fd_, mode) == 0 && (!durable || ::fsync(fd_) == 0);
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  // Without a sync, the new file is swapped in and the old one removed by
  // its temp name: a rename over a file makes ext4 start writing the new
  // file back at once (auto_da_alloc), which costs a small page more than
  // its whole parse. The swap is as atomic as the rename; file systems
  // without it, and targets that are no plain file (a folder must never be
  // swapped away), take the rename.
  if (ok && !durable && exists && S_ISREG(st.st_mode) &&
      ::renameat2(AT_FDCWD, tmp_.c_str(), AT_FDCWD, path_.c_str(), RENAME_EXCHANGE) == 0) {
    ::unlink(tmp_.c_str());
    return true;
  }
  if (ok && ::rename(tmp_.c_str(), path_.c_str()) == 0) return true;
  ::unlink(tmp_.c_str());
  return false;
}

bool WriteFileAtomic(const std::string& path, const std::string& content, bool durable,
                     const struct stat* replaced) {
  AtomicFileWriter writer(path);
  writer.Write(content);
  return writer.Commit(durable, replaced);
}

bool ForceDirectories(const std::string& path) {
  std::error_code ec;
  fs::create_directories(fs::path(path), ec);
  return fs::is_directory(fs::path(path), ec);
}

bool IsHomeOrAbove(const std::string& path) {
  const std::string p = Canonical(path);
  const std::string home = Canonical(HomeFolder());
  if (p.empty() || p == "/") return true;
  return home == p || home.rfind(p + "/", 0) == 0;
}

bool IsRemovableTempFolder(const std::string& path) {
  const std::string p = ExcludeTrailingSlash(path);
  if (p.empty() || IsHomeOrAbove(p)) return false;
  const std::string name = fs::path(p).filename().string();
  return LowerCase(name).find("harvix") != std::string::npos;
}

bool RemoveTempFolder(const std::string& path) {
  if (!IsRemovableTempFolder(path)) return false;
  const fs::path p(ExcludeTrailingSlash(path));
  std::error_code ec;
  // A link named like our folder is removed as a link, never followed.
  if (fs::is_symlink(p, ec)) return fs::remove(p, ec);
  if (!fs::is_directory(fs::symlink_status(p, ec))) return false;
  fs::remove_all(p, ec);
  return !ec;
}

bool PrepareOwnTempFolder(const std::string& path) {
  const std::string p = ExcludeTrailingSlash(path);
  if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) {
    std::error_code ec;
    fs::create_directories(fs::path(p), ec);
  }
  struct stat st{};
  if (::lstat(p.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}
