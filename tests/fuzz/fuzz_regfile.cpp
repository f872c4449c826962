// The settings file is text a user may edit or damage, and FTypes.reg is
// imported from outside. Any bytes must import without harm, and what the
// store then saves must load back to exactly the same store: otherwise each
// start would drift the settings a little further.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/settingsstore.h"

namespace {

void Require(bool ok, const char* what, const std::string& saved) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n--- saved text ---\n%s\n---\n", what, saved.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SettingsStore store;
  store.Import(text);
  const std::string saved = store.Serialize();

  SettingsStore reloaded;
  const RegParseResult r = reloaded.Import(saved);
  Require(r.Problems.empty(), "the saved text does not load cleanly", saved);
  Require(reloaded.Serialize() == saved, "the saved text loads as a different store", saved);
  return 0;
}
