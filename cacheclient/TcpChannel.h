#pragma once

#include "Channel.h"
#include "Protocol.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTcpSocket>
#include <optional>

namespace cacheclient {

// The network link. While it waits for the server it runs a local event loop, so the
// windows keep painting and reacting; a request made from inside such a wait (a handler
// that ran meanwhile) is matched to its own reply by id.
class TcpChannel : public QObject, public Channel
{
    Q_OBJECT

public:
    explicit TcpChannel(QObject* parent = nullptr);
    ~TcpChannel() override;

    bool open(const ConnectTarget& target) override;
    bool isOpen() const override;
    void close() override;
    QCborMap request(QCborMap message) override;
    void post(QCborMap message) override;
    qint64 submit(QCborMap message) override;
    QCborMap reply(qint64 ticket) override;
    void forget(qint64 ticket) override;
    qint64 submitOpen(const QString& className, const QString& id) override;
    OpenReply takeOpen(qint64 ticket) override;
    qint64 submitCall(const QString& className, const QString& method, const QStringList& args) override;
    CallReply takeCall(qint64 ticket) override;
    void holdSends() override;
    void releaseSends() override;

    void setTimeouts(int connectMs, int replyMs);

    // How long the client waits for a reply in the kernel before it runs the event loop.
    static constexpr int FastWaitMs = 5;

signals:
    void frameArrived();

private:
    // A reply as it came: read in place when it is plain, else decoded into a map.
    struct Reply
    {
        std::optional<protocol::PlainMap> plain;
        QCborMap map;
    };

    // The number of the next request; throws when the link is closed.
    qint64 nextNumber();
    qint64 send(QCborMap& message);
    // Sends a frame that already carries the next request number, or holds it.
    qint64 sendFrame(qint64 id, const QByteArray& frame);
    void write(const QByteArray& bytes);
    void sendHeld();
    Reply waitFor(qint64 id);
    // The reply as a map, its error thrown.
    QCborMap checkedMap(const Reply& reply);
    void readFrames();
    // Reads what the kernel holds for the socket without going through QAbstractSocket.
    void readAvailable();
    void takeFrames();
    [[noreturn]] void fail(int number, const QString& text);

    QTcpSocket* m_socket = nullptr;
    protocol::FrameReader m_reader{protocol::ReplyLimits};
    QHash<qint64, Reply> m_replies;
    QSet<qint64> m_discard;
    qint64 m_nextId = 1;
    int m_connectMs = 5000;
    int m_replyMs = 120000;
    QString m_failure;
    int m_holds = 0;
    QByteArray m_held;
};

} // namespace cacheclient
