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
