#include "FMStart.h"

#include "cache/FMPass.h"
#include "cache/cacheapi.h"

#include <QCloseEvent>
#include <QCoreApplication>

FMStart::FMStart(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("FMStart"));
    resize(800, 560);
}

QString FMStart::caption(const QString& userName, const QString& firma, const QString& filiale)
{
    return QStringLiteral("File ins Archivladen   Benutzer: ") + userName + QStringLiteral("  Firma: ") + firma +
           QStringLiteral(" Filiale: ") + filiale;
}

void FMStart::setStartCaption()
{
    const SessionContext& s = session();
    setWindowTitle(caption(s.UserName, s.Firma, s.Filiale));
}

bool FMStart::start()
{
    SessionContext& s = session();
    for (;;) {
        s.CommandLine = QCoreApplication::arguments().mid(1).join(u' ');
        s.LoginDialogForced = true;
        if (CacheLogin())
            break;
        if (s.ProgramEnded)
            return false;
    }
    FMPass::instance().setMainWindow(this, [this] { setStartCaption(); });
    setStartCaption();
    return true;
}

void FMStart::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (session().ProgramEnded)
        return;
    CacheDisconnect();
    EndProgram();
}
