#include "cWinsock.h"

#include "runtime/cRaisedError.h"

#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

constexpr int kInvalidOperation = 40020;
constexpr int kInvalidPropertyValue = 380;
constexpr int kAddressInUse = 10048;
constexpr int kCannotListen = 10049;

const QString kInvalidOperationText = QStringLiteral("Invalid operation at current state");

} // namespace

cWinsock::cWinsock(QObject* parent) : QObject(parent) {}

cWinsock::~cWinsock()
{
    Close();
    dropPendingRequests();
}

QString cWinsock::LocalIP() const
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

void cWinsock::Listen()
{
    if (state_ != sckClosed)
        throw cRaisedError(kInvalidOperation, kInvalidOperationText);
    if (localPort_ < 0 || localPort_ > 65535)
        throw cRaisedError(kInvalidPropertyValue, QStringLiteral("Invalid property value"));
    dropPendingRequests();

    auto* server = new QTcpServer(this);
    // Take one peer at a time; the listener is closed before the next could be accepted.
    server->setMaxPendingConnections(1);
    const auto port = static_cast<quint16>(localPort_);
    bool listening = server->listen(QHostAddress::Any, port);
    if (!listening && server->serverError() == QAbstractSocket::UnsupportedSocketOperationError)
        listening = server->listen(QHostAddress::AnyIPv4, port); // a system without IPv6
    if (!listening) {
        const bool inUse = server->serverError() == QAbstractSocket::AddressInUseError;
        const QString reason = server->errorString();
        delete server;
        throw cRaisedError(inUse ? kAddressInUse : kCannotListen, reason);
    }
    connect(server, &QTcpServer::newConnection, this, &cWinsock::takePendingConnections);
    // After a failed accept (descriptors or memory ran out, a peer reset first) the server
    // accepts nothing more; only listening afresh brings it back.
    connect(server, &QTcpServer::acceptError, this, [this, server] {
        if (server_ == server)
            state_ = sckError;
    });
    server_ = server;
    localPort_ = server->serverPort();
    state_ = sckListening;
}

void cWinsock::Close()
{
    if (server_) {
        server_->close();
        // It may be the sender of the signal that is being handled right now.
        server_->deleteLater();
        server_ = nullptr;
    }
    if (connection_) {
        connection_->disconnect(this);
        connection_->close();
        connection_->deleteLater();
        connection_ = nullptr;
    }
    state_ = sckClosed;
}

void cWinsock::Disconnect()
{
    if (!connection_)
        return;
    connection_->disconnect(this);
    connection_->abort();
    connection_->deleteLater();
    connection_ = nullptr;
    state_ = sckClosing;
}

void cWinsock::Accept(std::int32_t requestID)
{
    QTcpSocket* socket = pending_.take(requestID);
    if (!socket)
        throw cRaisedError(kInvalidOperation, QStringLiteral("No such connection request"));
    if (state_ != sckClosed) {
        socket->deleteLater();
        throw cRaisedError(kInvalidOperation, kInvalidOperationText);
    }
    adopt(socket);
}

void cWinsock::adopt(QTcpSocket* socket)
{
    connection_ = socket;
    state_ = sckConnected;
    connect(socket, &QTcpSocket::readyRead, this,
            [this] { emit DataArrival(static_cast<std::int32_t>(connection_->bytesAvailable())); });
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (state_ == sckConnected)
            state_ = sckClosing;
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            state_ = sckError;
        else if (state_ == sckConnected)
            state_ = sckClosing;
    });
    if (socket->state() != QAbstractSocket::ConnectedState)
        state_ = sckClosing;
    // Bytes that came before the request was accepted are announced like any others.
    if (socket->bytesAvailable() > 0) {
        QMetaObject::invokeMethod(
            this,
            [this, socket] {
                if (connection_ == socket && socket->bytesAvailable() > 0)
                    emit DataArrival(static_cast<std::int32_t>(socket->bytesAvailable()));
            },
            Qt::QueuedConnection);
    }
}

QString cWinsock::RemoteHostIP() const
{
    if (!connection_)
        return QString();
    const QHostAddress address = connection_->peerAddress();
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

std::int32_t cWinsock::RemotePort() const
{
    return connection_ ? connection_->peerPort() : 0;
}

void cWinsock::GetData(QString& data)
{
    data = connection_ ? QString::fromLocal8Bit(connection_->readAll()) : QString();
}

void cWinsock::takePendingConnections()
{
    dropPendingRequests();
    while (server_ && server_->hasPendingConnections()) {
        QTcpSocket* socket = server_->nextPendingConnection();
        socket->setParent(this);
        const std::int32_t requestID = nextRequestID_++;
        pending_.insert(requestID, socket);
        emit ConnectionRequest(requestID);
    }
}

void cWinsock::dropPendingRequests()
{
    for (QTcpSocket* socket : std::as_const(pending_)) {
        socket->abort();
        socket->deleteLater();
    }
    pending_.clear();
}
