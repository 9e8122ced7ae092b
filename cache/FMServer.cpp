#include "FMServer.h"

#include "FMPass.h"
#include "cacheapi.h"
#include "widgets/MessageBox.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

FMServer& FMServer::instance()
{
    static FMServer* dialog = new FMServer;
    return *dialog;
}

FMServer::FMServer()
{
    setObjectName(QStringLiteral("FMServer"));
    setWindowTitle(QStringLiteral("VELMOR Server"));
    auto* form = new QFormLayout;
    auto field = [&](QLineEdit*& edit, const char* name, const QString& label, const QString& text) {
        edit = new QLineEdit(text, this);
        edit->setObjectName(QLatin1String(name));
        edit->setEnabled(false);
        auto* caption = new QLabel(label, this);
        caption->setBuddy(edit);
        form->addRow(caption, edit);
    };
    field(BFIRMA, "BFIRMA", QStringLiteral("Firma:"), QStringLiteral("1"));
    field(BFIL, "BFIL", QStringLiteral("Filiale:"), QStringLiteral("0"));
    field(BSERVERIP, "BSERVERIP", QStringLiteral("ServerIP:"), DefaultServer);
    field(BPORT, "BPORT", QStringLiteral("Port:"), QStringLiteral("1973"));
    field(BNAMESPACE, "BNAMESPACE", QStringLiteral("Namespace:"), QStringLiteral("VELMOR"));
    field(BWJ, "BWJ", QStringLiteral("WJ:"), QStringLiteral("0"));

    BUEdit = new QPushButton(QStringLiteral("Ändern"), this);
    BUEdit->setObjectName(QStringLiteral("BUEdit"));
    BUEdit->setCheckable(true);
    BUEdit->setChecked(true);
    BUZurueck = new QPushButton(QStringLiteral("Zurück"), this);
    BUZurueck->setObjectName(QStringLiteral("BUZurück"));
    connect(BUEdit, &QPushButton::clicked, this, &FMServer::editClicked);
    connect(BUZurueck, &QPushButton::clicked, this, &QWidget::hide);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BUEdit);
    buttons->addStretch();
    buttons->addWidget(BUZurueck);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

void FMServer::setFieldsEnabled(bool enabled)
{
    for (QLineEdit* edit : {BPORT, BSERVERIP, BFIRMA, BFIL, BNAMESPACE})
        edit->setEnabled(enabled);
}

void FMServer::editClicked()
{
    // The button has already changed its state: up asks to edit, down ends editing.
    if (!BUEdit->isChecked()) {
        if (MessageBox::show(this, QMessageBox::Question, QStringLiteral("Anmeldung an Caché"),
                             QStringLiteral("Änderungen erlauben?"),
                             QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
            setFieldsEnabled(true);
        else
            BUEdit->setChecked(true);
        return;
    }
    setFieldsEnabled(false);
    if (MessageBox::show(this, QMessageBox::Question, QStringLiteral("Anmeldung an Caché"),
                         QStringLiteral("Änderungen sichern?"),
                         QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        DBEnd(false);
        CacheDisconnect();
        FMPass::instance().Sichern(true);
        ReadLoginSettings();
    }
}
