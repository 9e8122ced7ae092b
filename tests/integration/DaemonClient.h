#pragma once

// A plain network client of a test's velmor-erpd, for tests that talk to the daemon directly.

#include "Daemon.h"

#include "cacheclient/ChannelFactory.h"
#include "cacheclient/TcpChannel.h"

#include <memory>

inline std::shared_ptr<cacheclient::Factory> connectTo(const Daemon& daemon)
{
    auto f = std::make_shared<cacheclient::ChannelFactory>(std::make_shared<cacheclient::TcpChannel>());
    QString cs = daemon.connectString();
    if (!f->connect(cs))
        return nullptr;
    return f;
}

inline QString xecute(cacheclient::Factory& f, const QString& line)
{
    return f.classObject("XR.Windows")->call("Xecute", line);
}
