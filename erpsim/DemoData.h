#pragma once

#include <QString>

namespace erpsim {

enum class DemoSize { Small, Large };

struct DemoReport
{
    int customers = 0;
    int suppliers = 0;
    int articles = 0;
    int documents = 0;
    QString scansDir;
    QString transferDir;
};

// Creates (replacing) a demo ERP database at path, with deterministic data from seed, the
// folders scans/ and transfer/ beside it, and a few sample scans in scans/. Fixed records
// that tests and new users rely on: company 1 branch 0; user 17 (password "demo", active),
// 18 (inactive), 19 (department record missing); customer 4711 with building sites, offers,
// orders and invoices; supplier 70001 with purchase orders and incoming invoices.
// Throws CacheError when the database or the folders cannot be written.
DemoReport createDemoDatabase(const QString& path, DemoSize size = DemoSize::Small, quint32 seed = 4711);

// Minimal but valid sample files, also used by tests that need a scan to hand over.
QByteArray samplePdf(const QString& title);
QByteArray sampleTiff(int width, int height, quint32 seed);

} // namespace erpsim
