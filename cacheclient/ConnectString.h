#pragma once

#include <QString>
#include <optional>

namespace cacheclient {

struct ConnectTarget
{
    QString host;
    quint16 port = 0;
    QString nameSpace;
};

// Parses "cn_iptcp:" host "[" port "]:" namespace. Empty on any malformed string.
std::optional<ConnectTarget> parseConnectString(const QString& text);

} // namespace cacheclient
