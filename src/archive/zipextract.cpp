#include "archive/zipextract.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <system_error>

namespace hxzip {

std::vector<std::string> EntryParts(std::string_view name) {
  std::vector<std::string> parts;
  std::string part;
  const auto flush = [&] {
    if (!part.empty() && part != ".") parts.push_back(part);
    part.clear();
  };
  for (const char c : name) {
    if (c == '/' || c == '\\')
      flush();
    else
      part.push_back(c);
  }
  flush();
  return parts;
}

int ExtractTarget::Open(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  root_.Reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return root_.Valid() ? 0 : errno;
}

UniqueFd ExtractTarget::OpenFolder(const std::vector<std::string>& parts, int& error) const {
  UniqueFd current(::dup(root_.Get()));
  if (!current.Valid()) {
    error = errno;
    return current;
  }
  for (const auto& part : parts) {
    // Callers refuse such names first; this keeps the walk inside even if
    // one slips through.
    if (part == "..") {
      error = EINVAL;
      return UniqueFd();
    }
    int next = ::openat(current.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT) {
      if (::mkdirat(current.Get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
        error = errno;
        return UniqueFd();
      }
      next = ::openat(current.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0) {
      // O_NOFOLLOW | O_DIRECTORY on a link gives ELOOP or ENOTDIR depending
      // on the kernel; tell the two cases apart by looking.
      error = errno;
      struct stat st {};
      if (::fstatat(current.Get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        error = S_ISLNK(st.st_mode) ? ELOOP : (S_ISDIR(st.st_mode) ? error : ENOTDIR);
      return UniqueFd();
    }
    current.Reset(next);
  }
  error = 0;
  return current;
}

PendingFile::PendingFile(int dir, std::string name) : dir_(dir), name_(std::move(name)) {}

PendingFile::~PendingFile() {
  if (!temp_.empty() && !finished_) {
    fd_.Reset();
    ::unlinkat(dir_, temp_.c_str(), 0);
  }
}

int PendingFile::Create() {
  // A short name of its own: the entry's name may already be as long as a
  // name can be.
  static std::atomic<unsigned> counter{0};
  static thread_local std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = ".hx-extract-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                                  std::to_string(random() % 1000000u);
    const int fd = ::openat(dir_, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_.Reset(fd);
      temp_ = candidate;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int PendingFile::Finish(std::time_t modified, bool& timeSet) {
  const struct timespec times[2] = {{0, UTIME_NOW}, {modified, 0}};
  timeSet = ::futimens(fd_.Get(), times) == 0;
  if (::close(fd_.Release()) != 0) return errno;
  if (::renameat(dir_, temp_.c_str(), dir_, name_.c_str()) != 0) return errno;
  finished_ = true;
  return 0;
}

}  // namespace hxzip
