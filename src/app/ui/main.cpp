// harvix: the desktop application.
#include <QApplication>
#include <QMessageBox>

#include "app/frontend.h"
#include "app/startup.h"
#include "app/ui/qtmainqueue.h"
#include "app/ui/singleinstance.h"
#include "app/ui/tformharvix.h"

namespace {

class WindowFrontend : public Frontend {
 public:
  void ShowWarning(const std::string& text) override {
    QMessageBox::warning(nullptr, "Harvix", QString::fromStdString(text));
  }
  void ShowMessage(const std::string& text) override {
    QMessageBox::information(nullptr, "Harvix", QString::fromStdString(text));
  }
  void ShowError(const std::string& text) override {
    QMessageBox::critical(nullptr, "Harvix", QString::fromStdString(text));
  }
  MsgAnswer AskUser(const std::string& text, MsgButtons buttons, MsgAnswer safeDefault) override {
    using B = QMessageBox::StandardButton;
    QMessageBox::StandardButtons shown = B::Ok;
    if (buttons == MsgButtons::YesNo) shown = B::Yes | B::No;
    if (buttons == MsgButtons::YesNoCancel) shown = B::Yes | B::No | B::Cancel;
    if (buttons == MsgButtons::YesNoCancelAll) shown = B::Yes | B::No | B::Cancel | B::YesToAll;
    const B safe = safeDefault == MsgAnswer::Yes ? B::Yes
                   : safeDefault == MsgAnswer::No ? B::No
                   : safeDefault == MsgAnswer::Cancel ? B::Cancel
                                                      : B::Ok;
    switch (QMessageBox::question(nullptr, "Harvix", QString::fromStdString(text), shown, safe)) {
      case B::Yes: return MsgAnswer::Yes;
      case B::No: return MsgAnswer::No;
      case B::Cancel: return MsgAnswer::Cancel;
      case B::YesToAll: return MsgAnswer::All;
      case B::Ok: return MsgAnswer::Ok;
      default: return safeDefault;
    }
  }
  void Beep() override { QApplication::beep(); }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Harvix");
  const QStringList arguments = app.arguments().mid(1);

  // Before anything touches a file: a second copy hands over and ends.
  SingleInstance instance;
  if (instance.ForwardToRunningCopy(arguments)) return 0;

  InstallQtMainQueuePump();
  WindowFrontend frontend;
  SetFrontend(&frontend);
  StartModule();
  int code = 0;
  {
    TFormHarvix form;
    instance.Listen([&form](const QString& param) { form.Applicata1Param(param); });
    form.show();
    code = app.exec();
  }
  ShutdownModule();
  SetFrontend(nullptr);
  return code;
}
