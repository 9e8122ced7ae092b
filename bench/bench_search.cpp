// Master-data searches through the real daemon, against peers measured in the same run:
//  1. customer search, "Suchen" to 500 rows in the list, vs. one bare KkrSuche through the CLI
//     and vs. reading the same 500 rows through the client without the dialog;
//  2. scrolling the article list to row 10,000 (every batch loaded), vs. the same server calls
//     without the list, with the longest stretch in which the window ran no events;
//  3. resident memory with 500 customers and 10,000 articles loaded.
#include "BenchSupport.h"
#include "cache/cacheapi.h"
#include "search/FMArtsu.h"
#include "search/FMKnrsu.h"
#include "search/SearchLogic.h"
#include "search/SearchTermField.h"
#include "widgets/MessageBox.h"
#include "widgets/VirtualList.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const auto m =
        QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+)")).match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLong() : 0;
}

// The longest time between two ticks of a 1 ms timer: how long the window ran no events.
class EventGapMeter : public QObject
{
public:
    EventGapMeter()
    {
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
            ++m_ticks;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_ticks = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double longestMs() const { return m_longest / 1e6; }
    int ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    int m_ticks = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "Aufruf: bench_search LARGE.db\n");
        return 2;
    }
    const long baseKb = residentKb();
    Daemon daemon;
    if (!daemon.start(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "velmor-erpd startet nicht\n");
        return 1;
    }
    MessageBox::setScripted(true);
    session().CommandLine = QStringLiteral("1 0 17 demo 127.0.0.1 %1").arg(daemon.port);
    session().LoginDialogForced = true;
    if (!CacheLogin()) {
        std::fprintf(stderr, "Anmeldung fehlgeschlagen\n");
        return 1;
    }
    const long loggedInKb = residentKb();

    // 1. Customer search.
    const QString term = QStringLiteral("S");
    FMKnrsu customers;
    std::vector<double> dialog;
    for (int run = 0; run < 21; ++run) {
        customers.SKBEZ->setText(term);
        QElapsedTimer t;
        t.start();
        customers.BUSuch->click();
        dialog.push_back(t.nsecsElapsed() / 1e6);
        if (customers.KNRSULI->model()->rowCount() != 500) {
            std::fprintf(stderr, "nur %d Zeilen\n", customers.KNRSULI->model()->rowCount());
            return 1;
        }
    }
    std::vector<double> client;
    for (int run = 0; run < 21; ++run) {
        AccountRowStore rows;
        QElapsedTimer t;
        t.start();
        ReadAccountRows(*session().Factory, session().Firma, QStringLiteral("K"), term, QString(), rows);
        client.push_back(t.nsecsElapsed() / 1e6);
    }
    std::vector<double> cli;
    for (int run = 0; run < 5; ++run) {
        QProcess process;
        QElapsedTimer t;
        t.start();
        process.start(
            QCoreApplication::applicationDirPath() + "/velmor-erp-cli",
            {"--port", QString::number(daemon.port), "query", "XR.Windows", "KkrSuche", "1", "K", term, ""});
        process.waitForFinished(60000);
        process.readAllStandardOutput();
        cli.push_back(t.nsecsElapsed() / 1e6);
    }
    const double dialogMs = median(dialog);
    std::printf(
        "customer search \"%s\", Suchen to 500 rows in the list (median of 21): %.2f ms; one bare KkrSuche "
        "through velmor-erp-cli (median of 5, process start and every row printed): %.2f ms, ratio %.2fx; "
        "the same 500 rows through the client without the dialog: %.2f ms, ratio %.2fx (information)\n",
        qPrintable(term), dialogMs, median(cli), dialogMs / median(cli), median(client),
        dialogMs / median(client));

    // 2. Scrolling the article list to row 10,000.
    FMArtsu articles;
    articles.resize(640, 480);
    articles.show();
    QCoreApplication::processEvents();
    articles.SAKTIV->setCurrentIndex(0);
    EventGapMeter gaps;
    gaps.start();
    QElapsedTimer scroll;
    scroll.start();
    articles.BUSuch->click();
    int turns = 0;
    while (articles.ARTSULI->rowCountValue() > ArticleRowCount && turns < 100000) {
        articles.ARTSULI->scrollToBottom();
        QCoreApplication::processEvents();
        ++turns;
    }
    const double scrollMs = scroll.nsecsElapsed() / 1e6;
    gaps.stop();
    const int loaded = ArticleRowCount;
    const long loadedKb = residentKb();

    QElapsedTimer bare;
    bare.start();
    bool failed = false;
    QString output = DBCall(ArticleSearchCommand({"", "", "", "", "", "", ""}), failed);
    int calls = 1;
    for (int n = 4; n < loaded && !failed; n += 4, ++calls)
        output = DBCall(ArticleContinueCommand, failed);
    const double bareMs = bare.nsecsElapsed() / 1e6;
    std::printf(
        "article list scrolled from row 1 to row %d (%d batches of four): %.0f ms; the same %d server calls "
        "without the list: %.0f ms, ratio %.2fx; longest stretch without window events: %.1f ms (%d timer "
        "ticks) (goal <= 1.3x the calls: %s)\n",
        loaded, calls, scrollMs, calls, bareMs, scrollMs / bareMs, gaps.longestMs(), gaps.ticks(),
        verdict(scrollMs / bareMs <= 1.3 && loaded == MaxArticleRows));

    // 3. Memory.
    std::printf(
        "resident memory: %ld KiB at start, %ld KiB logged in, %ld KiB with 500 customers and %d articles "
        "loaded (+%ld KiB over logged in)\n",
        baseKb, loggedInKb, loadedKb, loaded, loadedKb - loggedInKb);
    CacheDisconnect();
    return 0;
}
