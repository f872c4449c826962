// Micro-benchmarks of the downloads list: adding items, finding them, and
// the mapping of a URL to its local file.
#include <benchmark/benchmark.h>

#include <vector>

#include "benchsupport.h"
#include "tasks/thxtask.h"
#include "url/localfile.h"
#include "url/tbwurl.h"

namespace {

BenchSandbox& Sandbox() {
  static BenchSandbox box;
  return box;
}

// Made once, outside the timed loops: the benchmarks time the list, not
// the making of URLs.
const std::vector<std::string>& Urls() {
  static const std::vector<std::string> urls = [] {
    std::vector<std::string> v;
    v.reserve(2'000'000);
    for (std::size_t i = 0; i < 2'000'000; ++i) v.push_back(RealisticUrl(i));
    return v;
  }();
  return urls;
}

// Store of a new item into a list that already holds `range(0)` items.
void BM_StoreNewItem(benchmark::State& state) {
  Sandbox();
  const auto& urls = Urls();
  THXTask task;
  const auto prefill = static_cast<std::size_t>(state.range(0));
  for (std::size_t i = 0; i < prefill; ++i) task.Downloads.Append(urls[i], "0\t\tHTML\t\t1\t\t\t1\t\t0\t\t");
  std::size_t n = prefill;
  THXQItem item(&task);
  item.Type = "HTML";
  item.Referrer = urls[0];
  for (auto _ : state) {
    item.Url = urls[n++];
    item.Store();
  }
  state.SetItemsProcessed(state.iterations());
}
// A fixed count: every iteration needs a URL the list has not seen.
BENCHMARK(BM_StoreNewItem)->Arg(0)->Arg(1'000'000)->Iterations(1'000'000);

void BM_FindKnownUrlIgnoringCase(benchmark::State& state) {
  Sandbox();
  THXTask task;
  const std::size_t count = 1'000'000;
  const auto& urls = Urls();
  for (std::size_t i = 0; i < count; ++i) task.Downloads.Append(urls[i], "0\t\t\t\t\t\t\t1\t\t0\t\t");
  std::vector<std::string> shouted(urls.begin(), urls.begin() + 4096);
  for (auto& u : shouted) u[8] = 'W';
  std::size_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(task.Downloads.Find(shouted[(n++ * 7919) % shouted.size()]));
}
BENCHMARK(BM_FindKnownUrlIgnoringCase);

void BM_LocalFileName(benchmark::State& state) {
  const auto& urls = Urls();
  std::size_t n = 0;
  for (auto _ : state) {
    const std::string& url = urls[n++ % urls.size()];
    benchmark::DoNotOptimize(LocalFileName("/out/", URLDirectory(url), url, "www.example-shop.com"));
  }
}
BENCHMARK(BM_LocalFileName);

}  // namespace

BENCHMARK_MAIN();
