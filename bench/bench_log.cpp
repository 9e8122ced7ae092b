// The program log window with 100,000 lines: writing them while the window is shown, against
// keeping the same lines in a plain list, and the longest scroll-and-repaint through them.
#include "app/frmProgrammverlauf.h"
#include "cache/cacheapi.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int Rows = 100000;
    frmProgrammverlauf& log = frmProgrammverlauf::instance();
    log.show();

    QElapsedTimer t;
    t.start();
    for (int i = 0; i < Rows; ++i) {
        WriteLog(QStringLiteral("OKButton_Click"), QStringLiteral("File ins Archiv"),
                 QStringLiteral("/scans/datei-%1.tif").arg(i));
        if (i % 1000 == 0)
            QApplication::processEvents();
    }
    QApplication::processEvents();
    const double written = t.nsecsElapsed() / 1e6;

    t.start();
    QStringList plain;
    for (int i = 0; i < Rows; ++i)
        plain << QStringLiteral("OKButton_Click;File ins Archiv;/scans/datei-%1.tif").arg(i);
    const double listed = t.nsecsElapsed() / 1e6;

    double worst = 0;
    for (int step = 0; step <= 50; ++step) {
        QElapsedTimer paint;
        paint.start();
        log.Verlauf->verticalScrollBar()->setValue(step * (Rows / 50));
        log.Verlauf->viewport()->repaint();
        worst = std::max(worst, paint.nsecsElapsed() / 1e6);
    }
    std::printf(
        "log window, %d lines written while shown: %.0f ms (%.2f us a line); the same lines in a plain "
        "list: %.0f ms (%.1fx); longest scroll and repaint through them: %.1f ms\n",
        Rows, written, written * 1000 / Rows, listed, written / listed, worst);
    session().ProgramEnded = true;
    return 0;
}
