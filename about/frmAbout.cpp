#include "frmAbout.h"

#include "widgets/MessageBox.h"
#include "widgets/SystemServices.h"

#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#ifndef VELMOR_VERSION
#define VELMOR_VERSION "0.0.0"
#endif

QString frmAbout::programTitle()
{
    return QStringLiteral("VELMOR Archiv-Übergabe");
}

QString frmAbout::programVersion()
{
    return QStringLiteral(VELMOR_VERSION);
}

frmAbout* frmAbout::showModeless()
{
    // One dialog at a time: asked again, the open one comes to the front.
    static QPointer<frmAbout> open;
    if (!open) {
        open = new frmAbout;
        open->setAttribute(Qt::WA_DeleteOnClose);
    }
    open->show();
    open->raise();
    open->activateWindow();
    return open;
}

frmAbout::frmAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Info zu ") + programTitle());

    lblTitle = new QLabel(programTitle(), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont big = lblTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    lblTitle->setFont(big);
    lblVersion = new QLabel(programVersion(), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblDescription = new QLabel(
        QStringLiteral(
            "Übernimmt Dokumente jeder Art in das Dokumentenarchiv des VELMOR-Warenwirtschaftssystems."),
        this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setWordWrap(true);

    auto* maker = new QLabel(QStringLiteral("<a href=\"mailto:support@velmor-demo.de\">VELMOR Software GmbH "
                                            "– Ansprechpartner: Support-Team</a>"),
                             this);
    maker->setObjectName(QStringLiteral("lblHersteller"));
    maker->setOpenExternalLinks(true);
    auto* web =
        new QLabel(QStringLiteral("<a href=\"https://www.velmor-demo.de\">www.velmor-demo.de</a>"), this);
    web->setObjectName(QStringLiteral("lblWeb"));
    web->setOpenExternalLinks(true);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Produktname"), this), 0, 0);
    grid->addWidget(lblTitle, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Version"), this), 1, 0);
    grid->addWidget(lblVersion, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Beschreibung"), this), 2, 0, Qt::AlignTop);
    grid->addWidget(lblDescription, 2, 1);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("&Systeminfo..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(line);
    layout->addWidget(maker);
    layout->addWidget(web);
    layout->addWidget(
        new QLabel(QStringLiteral("Alle Rechte vorbehalten. Nutzung nur mit gültiger Lizenz."), this));
    layout->addWidget(
        new QLabel(QStringLiteral("Erstellt: 07.12.2026   Letzte Korrektur: 08.12.2026"), this));
    layout->addLayout(buttons);
}

void frmAbout::StartSysInfo()
{
    using SystemServices::readMachineRegistryValue;
    QString path;
    if (const auto value = readMachineRegistryValue(
            QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"), QStringLiteral("PATH"))) {
        path = *value;
    } else if (const auto location = readMachineRegistryValue(
                   QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"), QStringLiteral("MSINFO"))) {
        const QString candidate = *location + QStringLiteral("\\MSINFO32.EXE");
        if (QFileInfo::exists(candidate))
            path = candidate;
    }
    if (path.isEmpty() || !SystemServices::startProgram(path))
        MessageBox::show(this, QMessageBox::NoIcon, windowTitle(),
                         QStringLiteral("Systeminformationen sind momentan nicht verfügbar"),
                         QMessageBox::Ok);
}
