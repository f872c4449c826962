#include "schedule/rundialog.h"

#include "app/language.h"
#include "tasks/thxtask.h"

namespace {
std::array<std::string, 3> Cells(long long pages, long long media) {
  return {std::to_string(pages), std::to_string(media), std::to_string(pages + media)};
}
}  // namespace

RunDialogModel::RunDialogModel(const THXTask& t) {
  Caption = LanguageString(764) + t.Name + ")";
  const long long errors = static_cast<long long>(t.PageErrors) + t.ResourceErrors;
  Rows[0] = {"Downloaded", Cells(t.PagesSaved, t.ResourcesSaved)};
  Rows[1] = {"Queued", Cells(static_cast<long long>(t.TotalPages) - t.PagesSaved - t.PageErrors,
                             static_cast<long long>(t.TotalResources) - t.ResourcesSaved - t.ResourceErrors)};
  Rows[2] = {"New/Modified", {"", "", ""}};
  Rows[3] = {"Errors", Cells(t.PageErrors, t.ResourceErrors)};
  SmartRecoveryEnabled = errors > 0;
  const bool finished = t.Status == tsZipped || t.Status == tsTaskComplete;
  Prompt = LanguageString(!finished ? 767 : errors > 0 ? 766 : 765);
}

std::string RunDialogModel::Description(int method) {
  static const int numbers[] = {768, 769, 770, 771};
  return method >= 0 && method <= 3 ? LanguageString(numbers[method]) : std::string();
}
