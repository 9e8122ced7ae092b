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
template <typename T> class Deferred : public Pending<T>
{
public:
    explicit Deferred(std::function<T()> work) : m_work(std::move(work)) {}
    T take() override { return m_work(); }

private:
    std::function<T()> m_work;
};
} // namespace

std::unique_ptr<PendingText> CacheObject::callAhead(const QString& method, const QStringList& args)
{
    return std::make_unique<Deferred<QString>>([this, method, args] {
        QStringList copy = args;
        return call(method, copy);
    });
}

std::unique_ptr<PendingObject> Factory::openIdAhead(const QString& className, const QString& id)
{
    return std::make_unique<Deferred<std::unique_ptr<CacheObject>>>(
        [this, className, id] { return openId(className, id); });
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
