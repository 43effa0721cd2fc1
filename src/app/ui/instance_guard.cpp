#include "app/ui/instance_guard.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

namespace kx {
namespace {

constexpr int kAnswerMs = 1000;
constexpr char kForward[] = "forward\n";

QString serverNameFor(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QByteArray hash = QCryptographicHash::hash(
        (canonical.isEmpty() ? folder : canonical).toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("kxlink-") + QString::fromLatin1(hash.toHex().left(16));
}

} // namespace

InstanceGuard::InstanceGuard(const QString& folder, QObject* parent)
    : QObject(parent), name_(serverNameFor(folder)) {
    // A name of the abstract namespace goes with the process: a killed window leaves nothing
    // behind that a later start could mistake for a running one.
    server_.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_.nextPendingConnection()) {
            auto read = [this, s] {
                if (!s->canReadLine())
                    return;
                if (s->readLine() == kForward)
                    Q_EMIT forwardRequested();
                s->disconnectFromServer();
            };
            connect(s, &QLocalSocket::readyRead, this, read);
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            read();
        }
    });
}

bool InstanceGuard::otherAnswers() const {
    QLocalSocket s;
    s.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    s.connectToServer(name_);
    return s.waitForConnected(kAnswerMs);
}

bool InstanceGuard::claim() {
    if (server_.isListening())
        return true;
    if (server_.listen(name_))
        return true;
    // Taken: by a running window when it answers. Otherwise the program goes on without the
    // guard rather than refuse to start.
    return !otherAnswers();
}

bool InstanceGuard::bringOtherForward() const {
    QLocalSocket s;
    s.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    s.connectToServer(name_);
    if (!s.waitForConnected(kAnswerMs))
        return false;
    s.write(kForward);
    const bool sent = s.waitForBytesWritten(kAnswerMs);
    s.disconnectFromServer();
    return sent;
}

QString InstanceGuard::runningMessage(const QString& folder) {
    return QStringLiteral("The program is already running with its files in %1: a second "
                          "window would find its tables and settings in use.\n\nOK brings the "
                          "running window forward.")
        .arg(QDir::toNativeSeparators(folder));
}

} // namespace kx
