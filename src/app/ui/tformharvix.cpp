#include "app/ui/tformharvix.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPalette>
#include <algorithm>

#include "app/folders.h"
#include "app/language.h"
#include "app/runcontrol.h"
#include "app/startup.h"
#include "app/thxapp.h"
#include "app/workerthreads.h"
#include "engine/socketlist.h"

TFormHarvix::TFormHarvix(QWidget* parent) : QMainWindow(parent) {
  setObjectName("FormHarvix");
  FormCreate();
}

TFormHarvix::~TFormHarvix() { FormDestroy(); }

void TFormHarvix::FormCreate() {
  QApplication::setApplicationName("Harvix");
  setWindowTitle(QStringLiteral("Harvix ") + kProductVersion);
  setMinimumSize(600, 400);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(51, 102, 153));
  setPalette(pal);
  setAutoFillBackground(true);
  resize(640, 480);
  FirstRunSetup();
}

void TFormHarvix::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Without a window manager (Xvfb, offscreen) no activation arrives, so the
  // first show stands in for the first activation.
  if (!activated_) FormActivate();
}

void TFormHarvix::FormActivate() {
  activated_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const WindowBounds b = ReadWindowBounds();
  setGeometry(geometry().x(), geometry().y(), b.Width, b.Height);
  move(b.Left, b.Top);
  if (HXApp) {
    ConfigureSlotsFromSettings();
    SocketList().SetSlotCount(static_cast<std::size_t>(std::clamp(HXApp->Connections, 1, 16)));
  }
  QApplication::restoreOverrideCursor();
}

void TFormHarvix::paintEvent(QPaintEvent* event) {
  QMainWindow::paintEvent(event);
  if (!painted_) FormPaint();
}

void TFormHarvix::FormPaint() {
  painted_ = true;
  // The dispatcher waits stopped until a run starts it; the schedule thread
  // starts every run, so only the holder of the task-run lock gets one.
  threads_ = std::make_unique<WorkerThreads>();
  threads_->Create(HXApp && HoldsTaskRunLock());
}

void TFormHarvix::FormDestroy() {
  threads_.reset();
  // Slots made at activation go even when no paint ever created the threads.
  SocketList().StopAllSlots();
  SocketList().SetSlotCount(0);
}

void TFormHarvix::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

bool TFormHarvix::FormCloseQuery() {
  THXTask* task = HXApp ? HXApp->CurrentTask.get() : nullptr;
  if (!task || !task->IsActive()) return true;
  const auto answer = QMessageBox::question(
      this, windowTitle(),
      QString::fromStdString(LanguageString(726) + "\n" + LanguageString(727)),
      QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  if (answer != QMessageBox::Yes) return false;
  StopCurrentTask();
  return true;
}

void TFormHarvix::FormClose() {
  if (threads_) threads_->EndSchedule();
  if (HXApp) RemoveTempFolder(HXApp->TempFolder());
  if (!isMinimized() && !isMaximized() && !isFullScreen())
    WriteWindowBounds({x(), y(), width(), height()});
}

void TFormHarvix::Applicata1Param(const QString&) {
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}
