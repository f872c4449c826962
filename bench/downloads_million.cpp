// A downloads list of a million items from end to end: build it with Store,
// save it, load it into a fresh task (index included), walk both queues and
// the parse queue. Prints the time of each step and the peak memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "benchsupport.h"
#include "tasks/thxtask.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

void Build(const std::string& file, std::size_t count) {
  THXTask task;
  task.Name = "Million";
  task.FileName = file;
  task.Downloads.reserve(count * 2);
  THXQItem item(&task);
  const auto start = Clock::now();
  for (std::size_t n = 0; n < count; ++n) {
    item.Url = RealisticUrl(n);
    item.Type = n % 4 == 1 ? "Images" : "HTML";
    item.State = n % 3 == 0 ? isSaved : isNone;
    item.Referrer = RealisticUrl(n / 10);
    item.Level = static_cast<std::int32_t>(n % 6);
    item.Size = static_cast<std::int64_t>(n * 13 % 90000);
    item.Store();
  }
  const double stored = Seconds(start);
  std::printf("store %zu new items: %.3f s (%.3f us per item)\n", count, stored, stored * 1e6 / count);
  const auto saveStart = Clock::now();
  task.SaveDownloads();
  std::printf("save: %.3f s, %.1f MB on disk\n", Seconds(saveStart),
              std::filesystem::file_size(task.DownloadsFileName()) / 1048576.0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t count = argc > 1 ? std::stoul(argv[1]) : 1'000'000;
  BenchSandbox box;
  const std::string file = box.Dir() + "Tasks/General/Million.hxt";
  Build(file, count);
  std::printf("peak memory after building and saving: %ld MB\n", PeakMegabytes());

  // A restart of the program: the list is read back by a fresh task. The
  // peak of this step alone is what opening a big task costs.
  const long before = PeakMegabytes();
  THXTask task;
  task.Name = "Million";
  task.FileName = file;
  const auto loadStart = Clock::now();
  task.BuildUrlIndex();
  std::printf("load + index: %.3f s (%zu lines)\n", Seconds(loadStart), task.Downloads.size());

  const auto walkStart = Clock::now();
  std::size_t pages = 0, media = 0;
  while (task.NextPage()) ++pages;
  while (task.NextMedia()) ++media;
  std::printf("walk both queues: %.3f s (%zu pages, %zu media)\n", Seconds(walkStart), pages, media);

  const auto parseStart = Clock::now();
  std::size_t parsed = 0;
  while (auto item = task.NextPageToParse()) {
    item->State = isParsed;
    item->Store();
    ++parsed;
  }
  std::printf("parse queue, %zu pages taken in order: %.3f s\n", parsed, Seconds(parseStart));
  std::printf("peak memory: %ld MB (before loading: %ld MB)\n", PeakMegabytes(), before);
  return 0;
}
