#include "ChannelFactory.h"

#include "Protocol.h"
#include "RowCells.h"

#include <QCborArray>
#include <QHash>
#include <algorithm>

namespace cacheclient {

namespace key = protocol::key;
namespace op = protocol::op;

void throwIfError(const QCborMap& reply)
{
    const QCborValue error = reply.value(key::Error);
    if (error.isUndefined())
        return;
    const QCborMap map = error.toMap();
    throw CacheError(static_cast<int>(map.value(key::Number).toInteger(ClientError::BadReply)),
                     map.value(key::Text).toString());
}

qint64 Channel::submit(QCborMap message)
{
    Done done;
    try {
        done.reply = request(std::move(message));
    } catch (...) {
        done.error = std::current_exception();
    }
    const qint64 ticket = m_nextTicket++;
    m_done.insert(ticket, done);
    return ticket;
}

QCborMap Channel::reply(qint64 ticket)
{
    const Done done = m_done.take(ticket);
    if (done.error)
        std::rethrow_exception(done.error);
    return done.reply;
}

void Channel::forget(qint64 ticket)
{
    m_done.remove(ticket);
}

namespace {

QCborArray toArray(const QStringList& texts)
{
    QCborArray array;
    for (const QString& text : texts)
        array.append(text);
    return array;
}

QStringList toStrings(const QCborValue& value)
{
    QStringList texts;
    const QCborArray array = value.toArray();
    texts.reserve(array.size());
    for (const QCborValue& item : array)
        texts.append(item.toString());
    return texts;
}

} // namespace

QCborMap openRequest(const QString& className, const QString& id)
{
    QCborMap request;
    request.insert(key::Op, op::Open);
    request.insert(key::Class, className);
    request.insert(key::ObjectId, id);
    return request;
}

QCborMap callRequest(const QString& className, const QString& method, const QStringList& args)
{
    QCborMap request;
    request.insert(key::Op, op::Call);
    request.insert(key::Class, className);
    request.insert(key::Name, method);
    request.insert(key::Args, toArray(args));
    return request;
}

QStringList Properties::names() const
{
    QStringList names;
    if (!m_reply) {
        for (const auto& pair : m_pairs)
            names << pair.first;
        return names;
    }
    const QList<protocol::PlainItem> items = m_reply->items(m_map);
    for (qsizetype i = 0; i + 1 < items.size(); i += 2)
        names << items.at(i).toString();
    return names;
}

std::optional<QString> Properties::value(const QString& name) const
{
    if (!m_reply) {
        auto it =
            std::find_if(m_pairs.cbegin(), m_pairs.cend(), [&](const auto& p) { return p.first == name; });
        if (it == m_pairs.cend())
            it = std::find_if(m_pairs.cbegin(), m_pairs.cend(),
                              [&](const auto& p) { return p.first.compare(name, Qt::CaseInsensitive) == 0; });
        if (it == m_pairs.cend())
            return std::nullopt;
        return it->second;
    }
    const QList<protocol::PlainItem> items = m_reply->items(m_map);
    for (qsizetype i = 0; i + 1 < items.size(); i += 2)
        if (items.at(i).equals(name))
            return items.at(i + 1).toString();
    for (qsizetype i = 0; i + 1 < items.size(); i += 2)
        if (items.at(i).toString().compare(name, Qt::CaseInsensitive) == 0)
            return items.at(i + 1).toString();
    return std::nullopt;
}

OpenReply openReplyOf(const QCborMap& reply)
{
    OpenReply open;
    open.className = reply.value(key::Class).toString();
    const QCborMap props = reply.value(key::Props).toMap();
    QList<std::pair<QString, QString>> pairs;
    pairs.reserve(props.size());
    for (auto it = props.constBegin(); it != props.constEnd(); ++it)
        pairs.append({it.key().toString(), it.value().toString()});
    open.props = Properties(std::move(pairs));
    return open;
}

CallReply callReplyOf(const QCborMap& reply)
{
    return {reply.value(key::Ret).toString(), toStrings(reply.value(key::Args))};
}

qint64 Channel::submitOpen(const QString& className, const QString& id)
{
    return submit(openRequest(className, id));
}

OpenReply Channel::takeOpen(qint64 ticket)
{
    return openReplyOf(reply(ticket));
}

qint64 Channel::submitCall(const QString& className, const QString& method, const QStringList& args)
{
    return submit(callRequest(className, method, args));
}

CallReply Channel::takeCall(qint64 ticket)
{
    return callReplyOf(reply(ticket));
}

namespace {

void requireOpen(const std::shared_ptr<Channel>& channel)
{
    if (!channel->isOpen())
        throw CacheError(ClientError::NotConnected, QStringLiteral("Keine Verbindung zum Server"));
}

// A submitted request whose reply is read when the caller takes it.
template <typename T> class InFlight : public Pending<T>
{
public:
    using Finish = std::function<T(Channel&, qint64)>;
    InFlight(std::shared_ptr<Channel> channel, qint64 ticket, Finish finish)
        : m_channel(std::move(channel)), m_ticket(ticket), m_finish(std::move(finish))
    {
    }
    ~InFlight() override
    {
        if (!m_taken)
            m_channel->forget(m_ticket);
    }
    T take() override
    {
        if (m_taken)
            throw CacheError(ClientError::BadArgument, QStringLiteral("Antwort schon abgeholt"));
        m_taken = true;
        return m_finish(*m_channel, m_ticket);
    }

private:
    std::shared_ptr<Channel> m_channel;
    qint64 m_ticket;
    Finish m_finish;
    bool m_taken = false;
};

class ChannelObject : public CacheObject
{
public:
    ChannelObject(std::shared_ptr<Channel> channel, QString className, QString id, Properties props)
        : m_channel(std::move(channel)), m_className(std::move(className)), m_id(std::move(id)),
          m_props(std::move(props))
    {
    }

    QStringList propertyNames() const override { return m_props.names(); }

    QString className() const override { return m_className; }
    QString id() const override { return m_id; }

    QString property(const QString& name) const override
    {
        checkOpen();
        std::optional<QString> value = m_props.value(name);
        if (!value)
            throw CacheError(ClientError::NoSuchProperty,
                             QStringLiteral("Eigenschaft %1 gibt es in %2 nicht").arg(name, m_className));
        return *value;
    }

    std::unique_ptr<PendingText> callAhead(const QString& method, const QStringList& args) override
    {
        checkOpen();
        requireOpen(m_channel);
        return std::make_unique<InFlight<QString>>(
            m_channel, m_channel->submitCall(m_className, method, args),
            [](Channel& channel, qint64 ticket) { return channel.takeCall(ticket).ret; });
    }

    QString call(const QString& method, QStringList& args) override
    {
        checkOpen();
        requireOpen(m_channel);
        const CallReply reply = m_channel->takeCall(m_channel->submitCall(m_className, method, args));
        for (qsizetype i = 0; i < args.size() && i < reply.args.size(); ++i)
            args[i] = reply.args.at(i);
        return reply.ret;
    }

    void close() override { m_closed = true; }

private:
    void checkOpen() const
    {
        if (m_closed)
            throw CacheError(ClientError::Closed,
                             QStringLiteral("Objekt %1 ist geschlossen").arg(m_className));
    }

    std::shared_ptr<Channel> m_channel;
    QString m_className;
    QString m_id;
    Properties m_props;
    bool m_closed = false;
};

class ChannelResultSet : public ResultSet
{
public:
    static constexpr int FirstBatch = 128;
    // A reader that stops early leaves the server having read half a batch for nothing, on
    // average; a round trip costs the server the time of a few dozen rows. At 2048 rows the
    // round trips add about 2 % and the waste is half of what 4096 rows cost.
    static constexpr int LargestBatch = 2048;

    ChannelResultSet(std::shared_ptr<Channel> channel, const QCborMap& meta)
        : m_channel(std::move(channel)), m_handle(meta.value(key::Handle).toInteger()),
          m_params(toStrings(meta.value(key::Params))), m_columns(toStrings(meta.value(key::Columns))),
          m_keyColumn(static_cast<int>(meta.value(key::KeyColumn).toInteger()))
    {
    }

    ~ChannelResultSet() override
    {
        try {
            close();
        } catch (...) {
        }
    }

    void execute(const QStringList& args) override
    {
        checkOpen();
        if (args.size() > MaxArguments)
            throw CacheError(
                ClientError::BadArgument,
                QStringLiteral("Höchstens %1 Argumente, nicht %2").arg(MaxArguments).arg(args.size()));
        requireOpen(m_channel);
        QCborMap request;
        request.insert(key::Op, op::Execute);
        request.insert(key::Handle, m_handle);
        request.insert(key::Args, toArray(args));
        m_batch = FirstBatch;
        request.insert(key::Batch, m_batch);
        request.insert(key::Packed, true);
        clearRows();
        m_end = true;
        take(m_channel->request(request));
    }

    bool next() override
    {
        checkOpen();
        if (m_position + 1 >= m_rowCount) {
            if (m_end) {
                clearRows();
                return false;
            }
            fetch();
            if (m_rowCount == 0) {
                return false;
            }
        }
        ++m_position;
        // Only the row that is read becomes texts: a reader that stops early converts nothing more.
        for (QString& cell : m_row)
            cell = protocol::takeCell(m_nextRow);
        return true;
    }

    int columnCount() const override { return static_cast<int>(m_columns.size()); }

    QString columnValue(int column) const override
    {
        checkOpen();
        if (m_position < 0 || m_position >= m_rowCount)
            throw CacheError(ClientError::BadArgument, QStringLiteral("Keine aktuelle Zeile"));
        checkColumn(column);
        return m_row.at(column - 1);
    }

    std::optional<QString> heldNextValue(int column) const override
    {
        if (m_closed || m_position + 1 >= m_rowCount || column < 1 || column > m_columns.size())
            return std::nullopt;
        const char* at = m_nextRow;
        for (int c = 1; c < column; ++c)
            protocol::skipCell(at);
        return protocol::takeCell(at);
    }

    QString columnName(int column) const override
    {
        checkColumn(column);
        return m_columns.at(column - 1);
    }

    int parameterCount() const override { return static_cast<int>(m_params.size()); }

    QString parameterName(int parameter) const override
    {
        if (parameter < 1 || parameter > m_params.size())
            throw CacheError(ClientError::BadArgument,
                             QStringLiteral("Parameter %1 gibt es nicht").arg(parameter));
        return m_params.at(parameter - 1);
    }

    int keyColumn() const override { return m_keyColumn; }

    void close() override
    {
        if (m_closed)
            return;
        m_closed = true;
        if (m_channel->isOpen()) {
            QCborMap request;
            request.insert(key::Op, op::CloseQuery);
            request.insert(key::Handle, m_handle);
            m_channel->post(request);
        }
    }

private:
    void checkOpen() const
    {
        if (m_closed)
            throw CacheError(ClientError::Closed, QStringLiteral("Abfrage ist geschlossen"));
    }

    void checkColumn(int column) const
    {
        if (column < 1 || column > m_columns.size())
            throw CacheError(ClientError::BadArgument, QStringLiteral("Spalte %1 gibt es nicht").arg(column));
    }

    void fetch()
    {
        requireOpen(m_channel);
        m_batch = qMin(m_batch * 2, LargestBatch);
        QCborMap request;
        request.insert(key::Op, op::Fetch);
        request.insert(key::Handle, m_handle);
        request.insert(key::Batch, m_batch);
        request.insert(key::Packed, true);
        clearRows();
        take(m_channel->request(request));
    }

    void clearRows()
    {
        m_cells.clear();
        m_nextRow = nullptr;
        m_rowCount = 0;
        m_position = -1;
    }

    // A batch is kept as the packed cells it arrived in, and each row is turned into texts when
    // it becomes the current one.
    void take(const QCborMap& reply)
    {
        clearRows();
        const QCborValue cells = reply.value(key::Cells);
        qsizetype count = 0;
        if (!cells.isUndefined()) {
            const QCborValue rows = reply.value(key::Count);
            // Never more rows than were asked for: what a reply may make the client hold is what it
            // agreed to, whatever the frame declares.
            QString error = QStringLiteral("Zeilen ohne gültige Anzahl");
            if (cells.isByteArray() && rows.isInteger() && rows.toInteger() >= 0 &&
                rows.toInteger() <= m_batch) {
                count = rows.toInteger();
                m_cells = cells.toByteArray();
                error = protocol::checkCells(m_cells, count, m_columns.size());
            }
            if (!error.isEmpty()) {
                clearRows();
                throw CacheError(ClientError::BadReply,
                                 QStringLiteral("Ungültige Antwort vom Server: %1").arg(error));
            }
        } else {
            // A server that does not pack sends the rows as arrays.
            const QCborArray rows = reply.value(key::Rows).toArray();
            for (const QCborValue& row : rows) {
                const QCborArray cells = row.toArray();
                for (qsizetype c = 0; c < m_columns.size(); ++c)
                    protocol::appendCell(m_cells, c < cells.size() ? cells.at(c).toString() : QString());
            }
            count = rows.size();
        }
        m_row.resize(m_columns.size());
        m_nextRow = m_cells.constData();
        m_rowCount = count;
        m_end = reply.value(key::End).toBool(true);
    }

    std::shared_ptr<Channel> m_channel;
    qint64 m_handle;
    QStringList m_params;
    QStringList m_columns;
    int m_keyColumn;
    QByteArray m_cells;
    // Where the row after the current one begins in m_cells.
    const char* m_nextRow = nullptr;
    QStringList m_row;
    qsizetype m_rowCount = 0;
    qsizetype m_position = -1;
    int m_batch = FirstBatch;
    bool m_end = true;
    bool m_closed = false;
};

} // namespace

ChannelFactory::ChannelFactory(std::shared_ptr<Channel> channel) : m_channel(std::move(channel)) {}

ChannelFactory::~ChannelFactory() = default;

bool ChannelFactory::connect(QString& connectString)
{
    const auto target = parseConnectString(connectString);
    if (!target)
        return false;
    if (m_channel->isOpen())
        m_channel->close();
    return m_channel->open(*target);
}

bool ChannelFactory::isConnected() const
{
    return m_channel->isOpen();
}

void ChannelFactory::disconnect()
{
    m_channel->close();
}

std::unique_ptr<CacheObject> ChannelFactory::openId(const QString& className, const QString& id)
{
    requireOpen(m_channel);
    OpenReply reply = m_channel->takeOpen(m_channel->submitOpen(className, id));
    return std::make_unique<ChannelObject>(m_channel, reply.className, id, std::move(reply.props));
}

std::unique_ptr<PendingObject> ChannelFactory::openIdAhead(const QString& className, const QString& id)
{
    requireOpen(m_channel);
    auto channel = m_channel;
    return std::make_unique<InFlight<std::unique_ptr<CacheObject>>>(
        m_channel, m_channel->submitOpen(className, id),
        [channel, id](Channel&, qint64 ticket) -> std::unique_ptr<CacheObject> {
            OpenReply reply = channel->takeOpen(ticket);
            return std::make_unique<ChannelObject>(channel, reply.className, id, std::move(reply.props));
        });
}

std::unique_ptr<CacheObject> ChannelFactory::classObject(const QString& className)
{
    requireOpen(m_channel);
    return std::make_unique<ChannelObject>(m_channel, className, QString(), Properties());
}

std::unique_ptr<ResultSet> ChannelFactory::resultSet(const QString& className, const QString& queryName)
{
    requireOpen(m_channel);
    QCborMap request;
    request.insert(key::Op, op::Query);
    request.insert(key::Class, className);
    request.insert(key::Name, queryName);
    return std::make_unique<ChannelResultSet>(m_channel, m_channel->request(request));
}

} // namespace cacheclient
