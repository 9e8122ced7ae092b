#pragma once

#include <QString>
#include <exception>

namespace cacheclient {

// Every failure of the object client: a server error, a refused or lost connection,
// a malformed reply. The number and description are shown to the user as they are.
class CacheError : public std::exception
{
public:
    CacheError(int number, QString description);

    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};

// Numbers raised by the client itself; the server's numbers are listed in docs/protocol.md.
namespace ClientError {
constexpr int NotConnected = 10001;
constexpr int ConnectionLost = 10002;
constexpr int Timeout = 10003;
constexpr int BadReply = 10004;
constexpr int BadArgument = 10005;
constexpr int NoSuchProperty = 10006;
constexpr int Closed = 10007;
} // namespace ClientError

} // namespace cacheclient
