#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <cstdint>

class QTcpServer;
class QTcpSocket;

// A TCP socket control with an event interface: it listens on LocalPort, reports a peer that
// asks to connect through ConnectionRequest, becomes the connection to that peer with Accept,
// and reports arriving bytes through DataArrival. It serves one peer at a time; it never sends.
//
// It listens on every local address, IPv4 and IPv6 alike. While it is connected nobody listens:
// the listening socket is really closed, so the system refuses further peers. Sockets are
// closed on exec, so started programs never inherit them.
//
// A listening socket that can no longer accept reports sckError.
//
// Members that the current state does not allow, or that the system refuses, throw cRaisedError.
class cWinsock : public QObject {
    Q_OBJECT

public:
    enum StateCode : std::int16_t {
        sckClosed = 0,
        sckListening = 2,
        sckConnected = 7,
        sckClosing = 8, // the peer has closed the connection
        sckError = 9,
    };

    explicit cWinsock(QObject* parent = nullptr);
    ~cWinsock() override;

    // The port to listen on; after Listen, the port in use (the one the system chose for 0).
    std::int32_t LocalPort() const { return localPort_; }
    void setLocalPort(std::int32_t port) { localPort_ = port; }
    // The machine's primary IPv4 address: that of the first interface, not loopback, that is
    // up; 127.0.0.1 when there is none.
    QString LocalIP() const;

    void Listen();
    // Ends listening or the connection; succeeds in every state. Requests not yet accepted
    // stay available to Accept.
    void Close();
    // Makes this control the connection to the peer of that request.
    void Accept(std::int32_t requestID);
    // Cuts the connection as if the peer had closed it: the state becomes sckClosing.
    void Disconnect();

    // The peer's address in dotted form (IPv4 for a peer that came over IPv4) and port.
    QString RemoteHostIP() const;
    std::int32_t RemotePort() const;
    std::int16_t State() const { return state_; }
    // Takes every byte received and not yet read, as text in the system's 8-bit encoding;
    // bytes that are no valid text become replacement characters.
    void GetData(QString& data);

signals:
    void ConnectionRequest(std::int32_t requestID);
    void DataArrival(std::int32_t bytesTotal);

private:
    void takePendingConnections();
    void dropPendingRequests();
    void adopt(QTcpSocket* socket);

    std::int32_t localPort_ = 0;
    std::int16_t state_ = sckClosed;
    QTcpServer* server_ = nullptr;
    QTcpSocket* connection_ = nullptr;
    QHash<std::int32_t, QTcpSocket*> pending_;
    std::int32_t nextRequestID_ = 1;
};
