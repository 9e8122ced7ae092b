#include "ConnectString.h"

namespace cacheclient {

std::optional<ConnectTarget> parseConnectString(const QString& text)
{
    static const QString prefix = QStringLiteral("cn_iptcp:");
    if (!text.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    const qsizetype open = text.indexOf(u'[', prefix.size());
    const qsizetype close = text.indexOf(u']', open + 1);
    if (open < 0 || close < 0 || close + 1 >= text.size() || text.at(close + 1) != u':')
        return std::nullopt;
    ConnectTarget target;
    target.host = text.mid(prefix.size(), open - prefix.size()).trimmed();
    bool ok = false;
    const uint port = text.mid(open + 1, close - open - 1).trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || target.host.isEmpty())
        return std::nullopt;
    target.port = static_cast<quint16>(port);
    target.nameSpace = text.mid(close + 2);
    return target;
}

} // namespace cacheclient
