#pragma once
// Pumps the main-thread queue from the Qt event loop: every queued job wakes
// the loop, which then runs what is pending.
void InstallQtMainQueuePump();
