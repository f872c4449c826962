#include "engine/socketlist.h"

#include <cstdlib>

#include "app/mainqueue.h"
#include "app/startup.h"
#include "app/thxapp.h"

void TSocketList::SetSlotCount(std::size_t n) {
  while (slots_.size() < n) slots_.push_back(std::make_unique<TThreadSocket>());
  for (std::size_t i = slots_.size(); i-- > 0 && slots_.size() > n;)
    if (!slots_[i]->Busy()) slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(i));
}

void TSocketList::StopAllSlots() {
  for (auto& slot : slots_) {
    slot->StopTransfer();
    MainThread().processPending();
  }
}

int TSocketList::CountBusySlots() const {
  int busy = 0;
  for (const auto& slot : slots_) busy += slot->Busy() ? 1 : 0;
  return busy;
}

TThreadSocket* TSocketList::FirstIdle() {
  for (auto& slot : slots_)
    if (!slot->Busy()) return slot.get();
  return nullptr;
}

TSocketList& SocketList() {
  static TSocketList list;
  return list;
}

void ConfigureSlotsFromSettings() {
  SlotSettings& s = TThreadSocket::Settings();
  s.PaceMs = HXApp ? HXApp->EnginePace : 1000;
  s.Offline = WorkOffline();
  if (const char* ca = std::getenv("HARVIX_CA_FILE")) s.CaFile = ca;
  s.Proxy.clear();
  s.ProxyUserPassword.clear();
  if (HXApp && HXApp->UseProxy && !HXApp->ProxyAddress.empty()) {
    s.Proxy = HXApp->ProxyAddress + (HXApp->ProxyPort.empty() ? "" : ":" + HXApp->ProxyPort);
    s.ProxyUserPassword = HXApp->ProxyAuthorization;
  }
}
