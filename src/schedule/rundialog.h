#pragma once
// What the run dialog shows for a task that downloaded before, and what
// its choices mean, without its window: the caption, the summary rows, the
// prompt, which methods may be chosen and the description of each.
#include <array>
#include <string>

class THXTask;

struct RunDialogRow {
  std::string Caption;               // "Downloaded", "Queued", "New/Modified", "Errors"
  std::array<std::string, 3> Cells;  // Pages, Media, Total; empty for "New/Modified"
};

struct RunDialogModel {
  std::string Caption;
  std::string Prompt;
  std::array<RunDialogRow, 4> Rows;
  bool SmartRecoveryEnabled = false;
  int Method = 1;  // Resume is checked first

  explicit RunDialogModel(const THXTask& task);
  // The description shown for a method (0 Restart ... 3 SmartRecovery).
  static std::string Description(int method);
};
