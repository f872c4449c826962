#pragma once
// The main window. Its stages follow the program's start: created (first-run
// setup), shown, first activation (stored bounds), and on closing the
// confirmation, the temp-folder removal and the stored bounds.
#include <QMainWindow>
#include <QStringList>
#include <memory>

class WorkerThreads;

class TFormHarvix : public QMainWindow {
  Q_OBJECT
 public:
  explicit TFormHarvix(QWidget* parent = nullptr);
  ~TFormHarvix() override;

  // One argument forwarded by a second copy of the program.
  void Applicata1Param(const QString& param);

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormActivate();
  void FormPaint();
  void FormDestroy();
  bool FormCloseQuery();
  void FormClose();

  bool activated_ = false;
  bool painted_ = false;
  std::unique_ptr<WorkerThreads> threads_;
};
