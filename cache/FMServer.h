#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// "VELMOR Server": shows the connection data and lets the user change and save them.
class FMServer : public QDialog
{
    Q_OBJECT

public:
    // Created on first use, hidden and never destroyed until the program ends.
    static FMServer& instance();

    QLineEdit* BFIRMA;
    QLineEdit* BFIL;
    QLineEdit* BSERVERIP;
    QLineEdit* BPORT;
    QLineEdit* BNAMESPACE;
    QLineEdit* BWJ;
    // Checked ("down") means locked.
    QPushButton* BUEdit;
    QPushButton* BUZurueck;

private:
    FMServer();
    void editClicked();
    void setFieldsEnabled(bool enabled);
};
