#pragma once
// The connection slots, in the order the dispatcher looks for an idle one
// and the connections window numbers them. Main thread only.
#include <memory>
#include <vector>

#include "engine/tthreadsocket.h"

class TSocketList {
 public:
  // Grows at once; shrinks only by idle slots from the end, so a busy slot
  // is never taken away from its transfer.
  void SetSlotCount(std::size_t n);
  void StopAllSlots();
  int CountBusySlots() const;
  std::size_t Count() const { return slots_.size(); }
  TThreadSocket& operator[](std::size_t i) { return *slots_[i]; }
  // The first idle slot, or null.
  TThreadSocket* FirstIdle();

 private:
  std::vector<std::unique_ptr<TThreadSocket>> slots_;
};

TSocketList& SocketList();

// Fills TThreadSocket::Settings() from the program's settings: pace, proxy,
// work-offline state, and extra trusted certificates named by
// $HARVIX_CA_FILE. Main thread, while no transfer runs.
void ConfigureSlotsFromSettings();
