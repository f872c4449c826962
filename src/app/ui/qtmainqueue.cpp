#include "app/ui/qtmainqueue.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "app/mainqueue.h"

void InstallQtMainQueuePump() {
  MainThread().setMainThread();
  MainThread().setWakeUp([] {
    if (auto* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [] { MainThread().processPending(); }, Qt::QueuedConnection);
  });
}
