// The parse pass over pages of real-world shape (10 KB to 2 MB): every scan
// of the link table, the script-string scans and link conversion, reading
// and writing the page as a run does. Beside it, the time libgumbo takes to
// parse the same text into a tree (nothing more), for scale.
#include <benchmark/benchmark.h>

#include <fstream>
#include <random>

#include "benchsupport.h"
#include "parse/tthreadparse.h"
#include "tasks/thxtask.h"

#ifdef HARVIX_HAVE_GUMBO
#include <gumbo.h>
#endif

namespace {

// A page of navigation, articles with inline links and images, tables, a
// few scripts with quoted paths, and forms, repeated to the size wanted.
std::string MakePage(std::size_t bytes, unsigned seed) {
  std::mt19937 rng(seed);
  auto n = [&](int hi) { return std::to_string(rng() % static_cast<unsigned>(hi)); };
  std::string page =
      "<!DOCTYPE html>\n<html><head><title>Catalogue page</title>\n"
      "<link rel=\"stylesheet\" href=\"/css/site.css\"><script src=\"/js/app.js\"></script>\n"
      "<meta name=\"viewport\" content=\"width=device-width\"></head>\n<body background=\"/img/bg.gif\">\n";
  while (page.size() < bytes) {
    page += "<div class=\"nav\"><a href=\"/section" + n(20) + "/index.html\">Section</a> | <a href=\"../up" + n(50) +
            ".html\">Up</a> | <a href=\"http://www.example-shop.com/item-" + n(100000) + ".html\">Item</a></div>\n";
    page += "<p>Lorem ipsum dolor sit amet, <a href=\"article" + n(1000) +
            ".html#top\">consectetur</a> adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore magna "
            "aliqua. <img src=\"images/photo_" + n(5000) + ".jpg\" alt=\"photo\" width=\"120\" height=\"80\"> Ut enim "
            "ad minim veniam, quis nostrud exercitation <a href=\"view.php?id=" + n(9999) +
            "&amp;lang=en\">ullamco</a> laboris.</p>\n";
    page += "<table><tr><td><a href=\"mailto:sales@example.com\">mail</a></td><td><a href=\"#x\">x</a></td>"
            "<td><img src=\"/icons/i" + n(40) + ".gif\"></td></tr></table>\n";
    if (rng() % 4 == 0)
      page += "<script>var next = \"pages/p" + n(300) + ".html\"; var pic = 'img/pic" + n(300) +
              ".gif'; if (a < b) { go(); }</script>\n";
    if (rng() % 6 == 0) page += "<form action=\"/search\"><input type=\"image\" src=\"/img/go.gif\"></form>\n";
  }
  return page + "</body></html>\n";
}

class ParseFixture {
 public:
  ParseFixture() {
    WriteFileTypeGroup("Scripts", ".js;");
    WriteFileTypeGroup("Style Sheets", ".css;");
    auto task = std::make_unique<THXTask>();
    task->Name = "Bench";
    task->FileName = box_.Dir() + "Tasks/General/Bench.hxt";
    task->Url = "https://www.example-shop.com/catalogue/index.html";
    task->IntranetMode = true;
    task->Destination = box_.Dir() + "out/";
    task->Profile.SetReadDefaults();
    HXApp->SetCurrentTask(std::move(task));
    parser_.Task = HXApp->CurrentTask.get();
  }
  // Saves the page where and as the engine does (its work, not timed): a
  // new file written under a part name and renamed to the page's name. The
  // previous round's copy is removed first, as no page is fetched twice in
  // a run: replacing it would make the file system flush the new file.
  std::unique_ptr<THXQItem> Saved(const std::string& page) {
    THXTask& task = *HXApp->CurrentTask;
    auto item = std::make_unique<THXQItem>(&task);
    item->Url = task.Url;
    item->Type = "HTML";
    item->State = isSaved;
    item->Store();
    const std::string file = item->GetLocalFile();
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::filesystem::remove(file);
    std::ofstream(file + ".hxpart", std::ios::binary) << page;
    std::filesystem::rename(file + ".hxpart", file);
    return item;
  }
  // The parse pass: reading the page, every scan, conversion, writing it.
  void Parse(std::unique_ptr<THXQItem> item) { parser_.ParsePage(std::move(item)); }

 private:
  BenchSandbox box_;
  TThreadParse parser_;
};

void BM_ParsePage(benchmark::State& state) {
  static ParseFixture fixture;
  const std::string page = MakePage(static_cast<std::size_t>(state.range(0)), 7);
  for (auto _ : state) {
    state.PauseTiming();
    auto item = fixture.Saved(page);
    state.ResumeTiming();
    fixture.Parse(std::move(item));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ParsePage)->Arg(10 << 10)->Arg(100 << 10)->Arg(2 << 20)->Unit(benchmark::kMicrosecond);

#ifdef HARVIX_HAVE_GUMBO
void BM_GumboParseOnly(benchmark::State& state) {
  const std::string page = MakePage(static_cast<std::size_t>(state.range(0)), 7);
  for (auto _ : state) {
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    benchmark::DoNotOptimize(out);
    gumbo_destroy_output(&kGumboDefaultOptions, out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_GumboParseOnly)->Arg(10 << 10)->Arg(100 << 10)->Arg(2 << 20)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK_MAIN();
