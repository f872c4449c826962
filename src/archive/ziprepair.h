#pragma once
// Rebuilding the central directory of an archive whose end was lost, from
// the chain of local headers that starts at offset 0.
//
// The chain is followed header by header: an entry is kept when its data
// lies within the file and its CRC and sizes check (deflated data is
// inflated to check it); an entry that fails the check is dropped and the
// chain goes on behind it when its size is known. The first gap that is no
// local header ends the chain: bytes after it are never searched for
// headers, because stored data (a ZIP inside the archive) holds headers of
// its own. A later entry with the same name wins over an earlier one. The
// comment and external attributes come from the Hx extra field (see
// zipformat.h).
#include <cstdint>
#include <string>
#include <vector>

namespace hxzip {

struct RepairReport {
  std::size_t kept = 0;
  // Entries left out, with the reason.
  std::vector<std::pair<std::string, std::string>> dropped;
};

// Writes the new central directory and end record behind the last kept
// entry of the archive behind fd (open for reading and writing, locked) and
// cuts the file there. Returns 0, or an errno when reading or writing fails
// (the file may then be partly rewritten; keep a copy first).
int RebuildDirectory(int fd, RepairReport& report);

}  // namespace hxzip
