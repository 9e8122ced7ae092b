#include "Factory.h"

#include "ChannelFactory.h"
#include "TcpChannel.h"

namespace cacheclient {

QString CacheObject::call(const QString& method, const QString& arg)
{
    QStringList args{arg};
    return call(method, args);
}

QString CacheObject::call(const QString& method)
{
    QStringList args;
    return call(method, args);
}

namespace {
FactoryCreator& creator()
{
    static FactoryCreator instance;
    return instance;
}
} // namespace

std::shared_ptr<Factory> createFactory()
{
    if (creator())
        return creator()();
    return std::make_shared<ChannelFactory>(std::make_shared<TcpChannel>());
}

void setFactoryCreator(FactoryCreator newCreator)
{
    creator() = std::move(newCreator);
}

} // namespace cacheclient
