// A downloads file can be damaged, cut short or edited by hand, and old
// files use another separator. Any bytes must load, every item must read,
// the queue walks must end, and what is saved must load back to the same
// lines.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzzsupport.h"
#include "tasks/thxtask.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file = ScratchFolder() + "f.dwn";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  THXTask task;
  task.Name = "f";
  task.FileName = ScratchFolder() + "f.hxt";
  task.LoadDownloads();
  Require(task.Downloads.size() % 2 == 0, "odd line count after loading");
  for (std::size_t i = 0; i < task.Downloads.size(); i += 2) {
    auto item = task.GetItem(i);
    Require(item != nullptr, "an item does not read");
    Require(task.Downloads.Find(task.Downloads[i]) >= 0, "a loaded URL is not found");
  }
  std::size_t handed = 0;
  while (task.NextPage()) ++handed;
  while (task.NextMedia()) ++handed;
  Require(handed <= task.Downloads.ItemCount(), "an item was handed out twice");
  if (auto page = task.NextPageToParse()) {
    page->State = isParsed;
    page->Store();
  }
  task.ResetInProgressItems();

  const std::size_t lines = task.Downloads.size();
  std::vector<std::string> before;
  for (std::size_t i = 0; i < lines; ++i) before.push_back(task.Downloads[i]);
  const char separator = task.Downloads.Separator;
  if (!task.SaveDownloads()) return 0;
  THXTask again;
  again.Name = "f";
  again.FileName = task.FileName;
  again.LoadDownloads();
  // Lines holding CR or LF cannot survive a text file; they cannot come
  // from loading one either.
  Require(again.Downloads.size() == lines, "saved list loads with another line count");
  if (lines > 1 && separator == '\t') Require(again.Downloads.Separator == '\t', "separator changed");
  for (std::size_t i = 0; i < lines; ++i) Require(again.Downloads[i] == before[i], "a line changed through save and load");
  return 0;
}
