// What the server sees must not depend on how the client waits: the calls of a lookup page with
// an account column, through the client that sends the next row's open with this row's call,
// against the same page through a client that waits for every reply, in velmor-erpd's trace.
#include "Daemon.h"

#include "cache/cacheapi.h"
#include "cacheclient/ChannelFactory.h"
#include "cacheclient/TcpChannel.h"
#include "common/TestSupport.h"
#include "erpsim/DemoData.h"
#include "lookup/frmLookup.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTreeWidget>

namespace {

// Passes everything to the network client but opens nothing ahead: each open leaves only when
// its object is needed, as every call did before opens could travel ahead.
class WaitingFactory : public ForwardingFactory
{
public:
    using ForwardingFactory::ForwardingFactory;
};

} // namespace

class TestCallOrder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Daemon m_daemon;

    QString tracePath() const { return m_dir.filePath("trace.jsonl"); }

    // The trace from line `from` on, without the connection numbers.
    QStringList callsSince(qsizetype from)
    {
        QFile file(tracePath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList calls;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (qsizetype i = from; i < lines.size(); ++i) {
            if (lines.at(i).trimmed().isEmpty())
                continue;
            QJsonObject entry = QJsonDocument::fromJson(lines.at(i)).object();
            entry.remove("conn");
            calls << QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact));
        }
        return calls;
    }

    qsizetype traceSize()
    {
        QFile file(tracePath());
        file.open(QIODevice::ReadOnly);
        return file.readAll().split('\n').size() - 1;
    }

    // One lookup page through the given factory; returns the calls it made and its cells.
    QStringList page(std::shared_ptr<cacheclient::Factory> factory, int pageSize, QStringList& cells)
    {
        session().Factory = factory;
        session().Firma = "1";
        session().Filiale = "0";
        const qsizetype from = traceSize();
        LookupRequest r;
        r.Factory = factory;
        r.Class = "XR.AuftrMaKundeBeleg";
        r.Query = "Beleg";
        r.Maxitems = pageSize;
        r.MoreButton = true;
        r.P1 = "1";
        r.P2 = "0";
        r.FeldUmwandl1 = 3;
        r.FeldUmwandl1Type = 11;
        {
            frmLookup dialog(r);
            dialog.start();
            for (int i = 0; i < dialog.ListView1->topLevelItemCount(); ++i)
                cells << dialog.ListView1->topLevelItem(i)->text(2);
        }
        // The trace is written by the server's thread; the closing of the query comes last.
        QTest::qWait(100);
        return callsSince(from);
    }

private slots:
    void initTestCase()
    {
        erpsim::createDemoDatabase(m_dir.filePath("erp.db"));
        QVERIFY(m_daemon.start(m_dir.filePath("erp.db"), {"--trace", tracePath()}));
    }

    void init() { resetProgramState(); }

    void lookupPageSameCallsSameOrder_data()
    {
        QTest::addColumn<int>("pageSize");
        QTest::newRow("one row") << 1;
        QTest::newRow("two rows") << 2;
        QTest::newRow("a page") << 25;
    }
    void lookupPageSameCallsSameOrder()
    {
        QFETCH(int, pageSize);
        ScriptedBoxes boxes;
        QString cs = m_daemon.connectString();
        auto ahead = std::make_shared<cacheclient::ChannelFactory>(std::make_shared<cacheclient::TcpChannel>());
        QVERIFY(ahead->connect(cs));
        QStringList aheadCells;
        const QStringList aheadCalls = page(ahead, pageSize, aheadCells);

        auto plain = std::make_shared<cacheclient::ChannelFactory>(std::make_shared<cacheclient::TcpChannel>());
        QVERIFY(plain->connect(cs));
        QStringList waitingCells;
        const QStringList waitingCalls = page(std::make_shared<WaitingFactory>(plain), pageSize, waitingCells);

        QCOMPARE(aheadCells, waitingCells);
        QCOMPARE(aheadCalls, waitingCalls);
        // Every row's account was opened and its name converted, in turn.
        const int opens = static_cast<int>(aheadCalls.filter("\"op\":\"open\"").size());
        const int conversions = static_cast<int>(aheadCalls.filter("NameLogicalToODBC").size());
        QCOMPARE(opens, static_cast<int>(aheadCells.size()));
        QCOMPARE(conversions, opens);
        for (qsizetype i = 0; i + 1 < aheadCalls.size(); ++i)
            if (aheadCalls.at(i).contains("\"op\":\"open\""))
                QVERIFY2(aheadCalls.at(i + 1).contains("NameLogicalToODBC"), qPrintable(aheadCalls.at(i + 1)));
        QVERIFY(boxes.shown().isEmpty());
        ahead->disconnect();
        plain->disconnect();
        session().Factory.reset();
    }
};

QTEST_MAIN(TestCallOrder)
#include "TestCallOrder.moc"
