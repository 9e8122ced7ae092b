#pragma once

// Server calls recorded from the program's start-up, replayed bare on a fresh connection.

#include "cacheclient/ChannelFactory.h"
#include "cacheclient/TcpChannel.h"

#include <QStringList>
#include <cstdio>
#include <map>

// One call a line: kind ("connect", "open", "class", "property", "call", "close"), object
// handle, names and arguments.
using Calls = QList<QStringList>;

inline std::shared_ptr<cacheclient::Factory> networkFactory()
{
    return std::make_shared<cacheclient::ChannelFactory>(std::make_shared<cacheclient::TcpChannel>());
}

// The recorded calls on a fresh connection; false when one failed or was not understood.
inline bool replay(const Calls& calls)
{
    auto factory = networkFactory();
    std::map<QString, std::unique_ptr<cacheclient::CacheObject>> objects;
    try {
        for (const QStringList& c : calls) {
            const QString& kind = c.at(0);
            if (kind == QLatin1String("connect")) {
                QString target = c.at(1);
                if (!factory->connect(target))
                    return false;
            } else if (kind == QLatin1String("open")) {
                objects[c.at(1)] = factory->openId(c.at(2), c.at(3));
            } else if (kind == QLatin1String("class")) {
                objects[c.at(1)] = factory->classObject(c.at(2));
            } else if (kind == QLatin1String("property")) {
                objects.at(c.at(1))->property(c.at(2));
            } else if (kind == QLatin1String("call")) {
                QStringList args = c.mid(3);
                objects.at(c.at(1))->call(c.at(2), args);
            } else if (kind == QLatin1String("close")) {
                objects.at(c.at(1))->close();
            } else {
                return false;
            }
        }
        factory->disconnect();
    } catch (const cacheclient::CacheError& error) {
        std::fprintf(stderr, "replay: %s\n", qPrintable(error.description()));
        return false;
    }
    return true;
}
