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
    s.SessionSetupFailed = false;
    if (s.CommandLine.isEmpty())
        s.CommandLine = QCoreApplication::arguments().mid(1).join(u' ');

    LoadConnectionSettings();
    if (s.ProgramEnded)
        return false;
    const bool usedCommandLine = s.DataFromCommandLine;
    if (usedCommandLine)
        s.CommandLineServed = true;
    auto refuse = [&] {
        s.UserName.clear();
        s.LoginFailed = true;
        s.LoginDialogForced = true;
        if (usedCommandLine)
            s.CommandLineRejected = true;
        return false;
    };
    const QString problem = LoginDataProblem(s.Firma, s.Filiale, s.Personalcode);
    if (!problem.isEmpty()) {
        MessageBox::show(QApplication::activeWindow(), QMessageBox::Information,
                         QStringLiteral("Anmeldung an Caché."), problem);
        return refuse();
    }
    // A refused session set-up while the settings were read has been reported already.
    if (s.SessionSetupFailed)
        return refuse();
    const bool connected = DBBegin();
    if (s.ProgramEnded)
        return false;
    if (!connected)
        return refuse();

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
                          SessionLine(s.Firma, s.Filiale, StrPiece(s.UserName, u'|', 1)));
            CloseCacheObject(windows);
            s.LoginFailed = false;
            result = true;
        }
    } catch (const CacheError& error) {
        refuse();
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

QString LoginDataProblem(const QString& firma, const QString& filiale, const QString& personalcode)
{
    const QString number = QStringLiteral("Die %1 \u201e%2\u201c ist keine ganze Zahl.\r\nBitte geben Sie "
                                          "sie nur mit Ziffern ein (Server-Einstellungen).");
    if (!IsDigits(firma))
        return number.arg(QStringLiteral("Firma"), firma);
    if (!IsDigits(filiale))
        return number.arg(QStringLiteral("Filiale"), filiale);
    if (personalcode.isEmpty())
        return QStringLiteral("Bitte geben Sie Ihren Personalcode ein.");
    for (const QChar c : personalcode) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral(
                "Der Personalcode enthält ein Steuerzeichen.\r\nBitte geben Sie ihn neu ein.");
        if (c == u'|')
            return QStringLiteral(
                "Der Personalcode enthält das Zeichen \u201e|\u201c, das kein Personalcode enthalten kann.");
    }
    return QString();
}

QString SessionLine(const QString& firma, const QString& filiale, const QString& personalcode)
{
    return QStringLiteral("S FIRMA=") + firma + QStringLiteral(",FIL=") + filiale +
           QStringLiteral(",PERSONAL=") + MStringLiteral(personalcode);
}

bool RequireLogin()
{
    if (!session().UserName.isEmpty())
        return true;
    MessageBox::show(QApplication::activeWindow(), QMessageBox::Information,
                     QStringLiteral("Anmeldung an Caché."),
                     QStringLiteral("Bitte melden Sie sich zuerst an."));
    return false;
}
