// Lookup dialog figures against a peer measured in the same run: the first page of 100 orders
// with one customer-account column (100 open-by-id round trips) through velmor-erpd over
// loopback, beside 100 bare open-by-id round trips of the same client.
#include "BenchSupport.h"
#include "cache/cacheapi.h"
#include "cacheclient/ChannelFactory.h"
#include "cacheclient/TcpChannel.h"
#include "lookup/frmLookup.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "Aufruf: bench_lookup ERP.db\n");
        return 2;
    }
    Daemon daemon;
    if (!daemon.start(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "velmor-erpd startet nicht\n");
        return 1;
    }
    auto factory = std::make_shared<cacheclient::ChannelFactory>(std::make_shared<cacheclient::TcpChannel>());
    QString cs = QStringLiteral("cn_iptcp:127.0.0.1[%1]:VELMOR").arg(daemon.port);
    if (!factory->connect(cs)) {
        std::fprintf(stderr, "keine Verbindung\n");
        return 1;
    }
    session().Factory = factory;
    session().Firma = "1";
    session().Filiale = "0";
    // A failed conversion would stop at a box; the benchmark counts them instead.
    MessageBox::setScripted(true);

    LookupRequest r;
    r.Factory = factory;
    r.Class = "XR.AuftrMaKundeBeleg";
    r.Query = "Beleg";
    r.Maxitems = 100;
    r.MoreButton = true;
    r.MsgBoxIfNone = 2;
    r.P1 = "1";
    r.P2 = "0";
    r.P6 = "RE";
    r.DatumFeld1 = 4;
    r.FeldUmwandl1 = 3;
    r.FeldUmwandl1Type = 11;

    const int runs = 21;
    std::vector<double> pages, bare, conversions, builds, starts, ends;
    int rows = 0;
    for (int run = 0; run < runs + 2; ++run) {
        QElapsedTimer t;
        t.start();
        qint64 built = 0;
        qint64 started = 0;
        {
            frmLookup dialog(r);
            built = t.nsecsElapsed();
            dialog.start();
            started = t.nsecsElapsed();
            rows = dialog.ListView1->topLevelItemCount();
        }
        const qint64 ended = t.nsecsElapsed();
        const double pageMs = ended / 1e6;

        // The peer: 100 bare opens by id; and the same opens with the name read as a cell needs it.
        QElapsedTimer b;
        b.start();
        for (int i = 0; i < 100; ++i)
            factory->openId("XR.KontoStamm", QStringLiteral("1||K||%1").arg(10000 + (run * 100 + i) % 5000));
        const double bareMs = b.nsecsElapsed() / 1e6;
        QElapsedTimer c;
        c.start();
        for (int i = 0; i < 100; ++i) {
            auto object = factory->openId("XR.KontoStamm",
                                          QStringLiteral("1||K||%1").arg(10000 + (run * 100 + i) % 5000));
            object->call(QStringLiteral("NameLogicalToODBC"), object->property(QStringLiteral("Name")));
            object->close();
        }
        const double conversionMs = c.nsecsElapsed() / 1e6;
        if (run >= 2) { // warm-up runs left out
            pages.push_back(pageMs);
            bare.push_back(bareMs);
            conversions.push_back(conversionMs);
            builds.push_back(built / 1e6);
            starts.push_back((started - built) / 1e6);
            ends.push_back((ended - started) / 1e6);
        }
    }
    const double page = median(pages);
    const double peer = median(bare);
    std::printf("lookup first page (%d rows, 1 account column, median of %d): %.1f ms; 100 bare open-by-id "
                "round trips: "
                "%.1f ms; ratio %.2fx (goal <= 1.5x: %s); error boxes: %lld\n",
                rows, runs, page, peer, page / peer, atMost(page / peer, 1.5),
                static_cast<long long>(MessageBox::shown().size()));
    std::printf("  100 opens by id with the name converted on the server, no dialog: %.1f ms\n",
                median(conversions));
    std::printf("  of the page (medians): dialog built %.2f ms, start() %.1f ms, dialog destroyed %.2f ms\n",
                median(builds), median(starts), median(ends));
    session().Factory.reset();
    factory->disconnect();
    return 0;
}
