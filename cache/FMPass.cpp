#include "FMPass.h"

#include "FMServer.h"
#include "LoginSettings.h"
#include "cacheapi.h"
#include "widgets/PasswordEcho.h"
#include "widgets/ScreenPointer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

FMPass& FMPass::instance()
{
    static FMPass* dialog = new FMPass;
    return *dialog;
}

FMPass::FMPass()
{
    setObjectName(QStringLiteral("FMPass"));
    setWindowTitle(QStringLiteral("VELMOR Benutzeranmeldung"));

    BUSER = new QLineEdit(this);
    BUSER->setObjectName(QStringLiteral("BUSER"));
    BPASSWORT = new QLineEdit(this);
    BPASSWORT->setObjectName(QStringLiteral("BPASSWORT"));
    ShowPasswordAsStars(BPASSWORT);
    auto* userLabel = new QLabel(QStringLiteral("User(WWS Personalcode):"), this);
    userLabel->setBuddy(BUSER);
    auto* passwordLabel = new QLabel(QStringLiteral("Passwort:"), this);
    passwordLabel->setBuddy(BPASSWORT);
    auto* form = new QFormLayout;
    form->addRow(userLabel, BUSER);
    form->addRow(passwordLabel, BPASSWORT);

    BUSpeich = new QPushButton(QStringLiteral("Anmelden"), this);
    BUSpeich->setObjectName(QStringLiteral("BUSpeich"));
    BUSpeich->setDefault(true);
    BUAusst = new QPushButton(QStringLiteral("Abbruch"), this);
    BUAusst->setObjectName(QStringLiteral("BUAusst"));
    BUServer = new QPushButton(QStringLiteral("Server"), this);
    BUServer->setObjectName(QStringLiteral("BUServer"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BUSpeich);
    buttons->addWidget(BUAusst);
    buttons->addStretch();
    buttons->addWidget(BUServer);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    BUSER->installEventFilter(this);
    BPASSWORT->installEventFilter(this);
    connect(BUSpeich, &QPushButton::clicked, this, &FMPass::anmelden);
    connect(BUAusst, &QPushButton::clicked, this, [this] {
        if (m_mainWindow && m_mayEnd && !m_mayEnd())
            return;
        session().UserName.clear();
        EndProgram();
    });
    connect(BUServer, &QPushButton::clicked, this, [] { FMServer::instance().exec(); });
}

void FMPass::reject()
{
    // Closed without "Anmelden", the login goes on without what was typed as password.
    BPASSWORT->clear();
    QDialog::reject();
}

void FMPass::setMainWindow(QWidget* window, std::function<void()> renewCaption, std::function<bool()> mayEnd)
{
    m_mainWindow = window;
    m_renewCaption = std::move(renewCaption);
    m_mayEnd = std::move(mayEnd);
}

bool FMPass::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::FocusIn)
        BPASSWORT->setFocus();
    return QDialog::event(event);
}

bool FMPass::eventFilter(QObject* watched, QEvent* event)
{
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (edit && event->type() == QEvent::FocusIn) {
        // Select after the line edit's own focus handling, which would move the caret.
        QTimer::singleShot(0, edit, [edit] { SelectAllText(edit); });
    } else if (edit == BUSER && event->type() == QEvent::FocusOut) {
        BUSER->setText(BUSER->text().toUpper());
    }
    return QDialog::eventFilter(watched, event);
}

void FMPass::Sichern(bool keepName)
{
    FMServer& server = FMServer::instance();
    auto settings = openLoginSettings();
    settings->setValue(QStringLiteral("Firma"), server.BFIRMA->text());
    settings->setValue(QStringLiteral("Filiale"), server.BFIL->text());
    if (!keepName)
        settings->setValue(QStringLiteral("Name"), BUSER->text());
    settings->setValue(QStringLiteral("Server"), server.BSERVERIP->text());
    settings->setValue(QStringLiteral("Port"), server.BPORT->text());
    settings->setValue(QStringLiteral("Namespace"), server.BNAMESPACE->text());
    settings->sync();
}

void FMPass::anmelden()
{
    ScreenPointer::set(ScreenPointer::Hourglass);
    // The code box may still have the focus, so it is not upper-cased yet.
    BUSER->setText(BUSER->text().toUpper());
    Sichern();
    if (m_mainWindow && m_mainWindow->isVisible()) {
        DBEnd(false);
        CacheLogin();
        if (m_renewCaption)
            m_renewCaption();
    }
    QCoreApplication::processEvents();
    hide();
    ScreenPointer::set(ScreenPointer::Default);
}
