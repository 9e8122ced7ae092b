#include "FMPass.h"
#include "FMServer.h"
#include "cacheapi.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QLineEdit>

using cacheclient::CacheError;

bool CacheLogin()
{
    SessionContext& s = session();
    s.UserName.clear();
    if (s.CommandLine.isEmpty())
        s.CommandLine = QCoreApplication::arguments().mid(1).join(u' ');

    LoadConnectionSettings();
    if (s.ProgramEnded)
        return false;
    const bool usedCommandLine = s.DataFromCommandLine;
    DBBegin();
    if (s.ProgramEnded)
        return false;

    bool result = false;
    QString operation = QStringLiteral("Anmeldung mit nicht existierendem Personalcode");
    try {
        if (!s.Factory)
            throw CacheError(cacheclient::ClientError::NotConnected,
                             QStringLiteral("Keine Verbindung zum Server"));
        std::unique_ptr<cacheclient::CacheObject> user = s.Factory->openId(
            QStringLiteral("XR.ParPersEdv"), s.Firma + QStringLiteral("||") + s.Personalcode);
        if (user->property(QStringLiteral("Passwort")) != s.Passwort ||
            user->property(QStringLiteral("AKTIV")) != QLatin1String("J")) {
            MessageBox::show(QApplication::activeWindow(), QMessageBox::Information,
                             QStringLiteral("Anmeldung an Caché."),
                             QStringLiteral("Passwort Falsch oder Benutzer nicht Aktiv."));
            s.LoginFailed = true;
            SelectAllText(FMPass::instance().BPASSWORT);
            CloseCacheObject(user);
        } else {
            const QString displayName =
                user->call(QStringLiteral("PNAMELogicalToODBC"), user->property(QStringLiteral("PNAME")));
            s.UserName = s.Personalcode + u'|' + displayName;
            s.PNAME = displayName;
            s.PNR = user->property(QStringLiteral("PNR"));
            s.DW = user->property(QStringLiteral("DW"));
            s.BERGRP = user->property(QStringLiteral("BERGRP"));
            const QString departmentNo = user->property(QStringLiteral("ABTNR"));

            operation = QStringLiteral("Abteilungsermittlung");
            std::unique_ptr<cacheclient::CacheObject> department = s.Factory->openId(
                QStringLiteral("XR.ParPersAbt"), s.Firma + QStringLiteral("||") + departmentNo);
            s.ABTBEZ = department->call(QStringLiteral("ABTBEZlogicaltoodbc"),
                                        department->property(QStringLiteral("abtbez")));
            s.ABTNR = department->property(QStringLiteral("ABTNR"));
            s.HAbtNr = department->property(QStringLiteral("HAbtNr"));
            CloseCacheObject(department);

            operation = QStringLiteral("PersBasis Nummern");
            std::unique_ptr<cacheclient::CacheObject> basis =
                s.Factory->openId(QStringLiteral("XR.PersBasis"), s.Firma + QStringLiteral("||") + s.PNR);
            s.fax = basis->property(QStringLiteral("fax"));
            s.EMAIL =
                basis->call(QStringLiteral("EMailLogicalToODBC"), basis->property(QStringLiteral("EMAIL")));
            CloseCacheObject(basis);
            CloseCacheObject(user);

            operation = QStringLiteral("Firma Filiale Personal Setzen");
            std::unique_ptr<cacheclient::CacheObject> windows =
                s.Factory->classObject(QStringLiteral("XR.Windows"));
            windows->call(QStringLiteral("Xecute"),
                          QStringLiteral("S FIRMA=") + s.Firma + QStringLiteral(",FIL=") + s.Filiale +
                              QStringLiteral(",PERSONAL=\"") + StrPiece(s.UserName, u'|', 1) + u'"');
            CloseCacheObject(windows);
            s.LoginFailed = false;
            result = true;
        }
    } catch (const CacheError& error) {
        s.UserName.clear();
        s.LoginFailed = true;
        s.LoginDialogForced = true;
        if (usedCommandLine)
            s.CommandLineRejected = true;
        ReportCacheError(error, operation);
        return false;
    }
    if (!result && usedCommandLine)
        s.CommandLineRejected = true;
    DBEnd(false);
    FMPass::instance().hide();
    FMServer::instance().hide();
    return result;
}
