#pragma once

#include "Channel.h"
#include "Factory.h"

namespace cacheclient {

// The object client over any channel: stored objects arrive whole with their properties,
// so reading one costs no round trip; result rows arrive in growing batches.
class ChannelFactory : public Factory
{
public:
    explicit ChannelFactory(std::shared_ptr<Channel> channel);
    ~ChannelFactory() override;

    bool connect(QString& connectString) override;
    bool isConnected() const override;
    void disconnect() override;

    std::unique_ptr<CacheObject> openId(const QString& className, const QString& id) override;
    std::unique_ptr<PendingObject> openIdAhead(const QString& className, const QString& id) override;
    std::unique_ptr<CacheObject> classObject(const QString& className) override;
    std::unique_ptr<ResultSet> resultSet(const QString& className, const QString& queryName) override;

    void holdSends() override { m_channel->holdSends(); }
    void releaseSends() override { m_channel->releaseSends(); }

    Channel& channel() { return *m_channel; }

private:
    std::shared_ptr<Channel> m_channel;
};

} // namespace cacheclient
