#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

// One running window per user and program folder. The first instance holds a lock file
// and listens on a local socket in $XDG_RUNTIME_DIR (else a private folder of the user), both named
// after a hash of the program folder; a later start sends its request there and ends.
//
// Requests on the socket: "activate" (optionally followed by "\n" and the activation
// token of the new start), or "drop\n" followed by the drop notice's bytes: the first
// string's length as a 32-bit little-endian number, then both strings, each ended by NUL.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(const QString& appDir, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // Takes the lock and listens. False when another instance holds it.
    bool Claim();
    // Sends a request to the running instance, retrying for up to `ms` (it may hold the
    // lock but not listen yet). True when it was delivered.
    bool Send(const QByteArray& request, int ms = 3000) const;

    QString SocketName() const { return socketName_; }
    static QByteArray ActivateRequest(const QByteArray& token);
    static QByteArray DropRequest(const QByteArray& source, const QByteArray& dest);
    // The two strings of a drop notice; false when the bytes do not hold one.
    static bool ParseDrop(const QByteArray& notice, QByteArray& source, QByteArray& dest);

signals:
    void Activate(const QByteArray& token);
    void Drop(const QByteArray& source, const QByteArray& dest);

private:
    void Handle(const QByteArray& request);

    QString socketName_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};
