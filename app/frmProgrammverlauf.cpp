#include "frmProgrammverlauf.h"

#include "cache/LogModel.h"
#include "cache/cacheapi.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {
frmProgrammverlauf* theWindow = nullptr;
}

frmProgrammverlauf& frmProgrammverlauf::instance()
{
    if (!theWindow)
        theWindow = new frmProgrammverlauf;
    return *theWindow;
}

bool frmProgrammverlauf::exists()
{
    return theWindow != nullptr;
}

frmProgrammverlauf::frmProgrammverlauf()
{
    setObjectName(QStringLiteral("frmProgrammverlauf"));
    setWindowTitle(QStringLiteral("Programmverlauf"));
    setAttribute(Qt::WA_DeleteOnClose);
    Verlauf = new QTableView(this);
    Verlauf->setObjectName(QStringLiteral("Verlauf"));
    Verlauf->setAccessibleName(QStringLiteral("Programmverlauf"));
    Verlauf->setModel(&LogModel::instance());
    // Fixed row heights keep a log of 100,000 rows as quick as a short one.
    Verlauf->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Verlauf->verticalHeader()->setDefaultSectionSize(Verlauf->fontMetrics().height() + 6);
    Verlauf->verticalHeader()->hide();
    Verlauf->horizontalHeader()->setStretchLastSection(true);
    Verlauf->setColumnWidth(0, 160);
    Verlauf->setColumnWidth(1, 260);
    Verlauf->setSelectionBehavior(QAbstractItemView::SelectRows);
    Verlauf->setWordWrap(false);
    // Following the newest line once per burst of lines, not once per line, keeps a long run cheap.
    auto* follow = new QTimer(this);
    follow->setSingleShot(true);
    follow->setInterval(50);
    connect(follow, &QTimer::timeout, this, [this] {
        if (isVisible())
            Verlauf->scrollToBottom();
    });
    connect(&LogModel::instance(), &QAbstractItemModel::rowsInserted, follow, [follow] {
        if (!follow->isActive())
            follow->start();
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(Verlauf);
    resize(700, 400);
}

frmProgrammverlauf::~frmProgrammverlauf()
{
    theWindow = nullptr;
}

void frmProgrammverlauf::closeEvent(QCloseEvent* event)
{
    // Closing it only hides it, so the log goes on collecting; it unloads when the program ends.
    if (!session().ProgramEnded) {
        event->ignore();
        hide();
        return;
    }
    event->accept();
}
