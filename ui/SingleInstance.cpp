#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>

#include <unistd.h>

namespace {
constexpr int kMaxRequest = 64 * 1024; // a drop notice holds two paths

QString RuntimeDir() {
    // $XDG_RUNTIME_DIR, or a private folder Qt makes for this user (never the shared
    // temporary folder itself, where another user could take the names first).
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return dir;
}
} // namespace

TSingleInstance::TSingleInstance(const QString& appDir, QObject* parent) : QObject(parent) {
    const QByteArray hash =
        QCryptographicHash::hash(QDir::cleanPath(appDir).toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    socketName_ = RuntimeDir() + QString("/tavrel-%1-%2").arg(getuid()).arg(QString(hash));
}

TSingleInstance::~TSingleInstance() {
    if (server_) server_->close();
}

bool TSingleInstance::Claim() {
    lock_ = std::make_unique<QLockFile>(socketName_ + ".lock");
    lock_->setStaleLockTime(0); // a lock of a crashed process is found by its pid
    if (!lock_->tryLock(0)) {
        lock_.reset();
        return false;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketName_)) {
        // A socket left by a crash: we hold the lock, so nobody listens there.
        QLocalServer::removeServer(socketName_);
        server_->listen(socketName_);
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            auto* buffer = new QByteArray;
            connect(s, &QLocalSocket::readyRead, s, [s, buffer] {
                *buffer += s->readAll();
                if (buffer->size() > kMaxRequest) s->abort();
            });
            connect(s, &QLocalSocket::disconnected, this, [this, s, buffer] {
                *buffer += s->readAll();
                const QByteArray request = *buffer;
                delete buffer;
                if (request.size() <= kMaxRequest) Handle(request);
            });
        }
    });
    return true;
}

bool TSingleInstance::Send(const QByteArray& request, int ms) const {
    QDeadlineTimer deadline(ms);
    do {
        QLocalSocket socket;
        socket.connectToServer(socketName_);
        if (socket.waitForConnected(500)) {
            socket.write(request);
            bool ok = socket.waitForBytesWritten(2000) || socket.bytesToWrite() == 0;
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(1000);
            return ok;
        }
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}

QByteArray TSingleInstance::ActivateRequest(const QByteArray& token) {
    return token.isEmpty() ? QByteArray("activate") : "activate\n" + token;
}

QByteArray TSingleInstance::DropRequest(const QByteArray& source, const QByteArray& dest) {
    QByteArray r = "drop\n";
    char len[4];
    qToLittleEndian<quint32>(static_cast<quint32>(source.size()), len);
    r.append(len, 4);
    r += source;
    r += '\0';
    r += dest;
    r += '\0';
    return r;
}

bool TSingleInstance::ParseDrop(const QByteArray& notice, QByteArray& source, QByteArray& dest) {
    if (notice.size() < 6) return false;
    const quint32 len = qFromLittleEndian<quint32>(notice.constData());
    if (len > static_cast<quint32>(notice.size() - 4) - 2) return false;
    const QByteArray rest = notice.mid(4);
    if (rest.at(len) != '\0' || !rest.endsWith('\0')) return false;
    source = rest.left(len);
    dest = rest.mid(len + 1, rest.size() - len - 2);
    if (source.contains('\0') || dest.contains('\0') || source.isEmpty() || dest.isEmpty())
        return false;
    return true;
}

void TSingleInstance::Handle(const QByteArray& request) {
    if (request == "activate" || request.startsWith("activate\n")) {
        emit Activate(request.mid(9));
        return;
    }
    if (request.startsWith("drop\n")) {
        QByteArray source, dest;
        if (ParseDrop(request.mid(5), source, dest)) emit Drop(source, dest);
    }
}
