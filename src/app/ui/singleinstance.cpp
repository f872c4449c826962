#include "app/ui/singleinstance.h"

#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <memory>

namespace {
constexpr const char* kIdentifier = "HXQWRTZPLM";
// The list of arguments ends with an empty line, so a lost connection is
// never taken for a complete message.
constexpr const char* kEnd = "\n";
}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

QString SingleInstance::ServerName() {
  return QString("%1-%2").arg(kIdentifier).arg(static_cast<qulonglong>(::getuid()));
}

bool SingleInstance::ForwardToRunningCopy(const QStringList& arguments) {
  QLocalSocket socket;
  socket.connectToServer(ServerName());
  if (!socket.waitForConnected(500)) return false;
  QByteArray message;
  for (const QString& a : arguments) message += a.toUtf8().replace('\n', ' ') + "\n";
  message += kEnd;
  socket.write(message);
  socket.waitForBytesWritten(2000);
  socket.disconnectFromServer();
  return true;
}

bool SingleInstance::Listen(std::function<void(const QString&)> onArgument) {
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(ServerName())) {
    // A copy that crashed leaves its socket file behind.
    QLocalServer::removeServer(ServerName());
    if (!server_->listen(ServerName())) return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this, onArgument] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      auto buffer = std::make_shared<QByteArray>();
      connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer, onArgument] {
        *buffer += socket->readAll();
        if (!buffer->endsWith("\n\n") && *buffer != "\n") return;
        for (const QByteArray& line : buffer->split('\n'))
          if (!line.isEmpty()) onArgument(QString::fromUtf8(line));
        buffer->clear();
        socket->disconnectFromServer();
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  return true;
}
