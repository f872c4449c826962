#pragma once
// One Harvix window per user. The first copy listens on a local socket named
// by a fixed identifier and the user id; a second copy sends it its
// arguments, one per line, and ends before it touches any file.
#include <QObject>
#include <QStringList>
#include <functional>

class QLocalServer;

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(QObject* parent = nullptr);
  // True when another copy answered and took the arguments.
  bool ForwardToRunningCopy(const QStringList& arguments);
  // Starts listening; each forwarded argument reaches the handler.
  bool Listen(std::function<void(const QString&)> onArgument);
  static QString ServerName();

 private:
  QLocalServer* server_ = nullptr;
};
