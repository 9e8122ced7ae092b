#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// "Info zu …": title, version and maker of the program, and the system-information program.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);

    // Shown without owner and without blocking the main window.
    static frmAbout* showModeless();

    static QString programTitle();
    static QString programVersion();

    // Starts the system-information program or says that it is not available.
    void StartSysInfo();

    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;
};
