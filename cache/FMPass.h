#pragma once

#include <QDialog>
#include <functional>

class QLineEdit;
class QPushButton;

// "VELMOR Benutzeranmeldung": personnel code and password, saving the connection settings.
class FMPass : public QDialog
{
    Q_OBJECT

public:
    static FMPass& instance();

    // Writes the connection settings from the two dialogs; the password is never stored.
    void Sichern();

    // The main window, once it exists: a new login from it renews its caption.
    void setMainWindow(QWidget* window, std::function<void()> renewCaption);

    QLineEdit* BUSER;
    QLineEdit* BPASSWORT;
    QPushButton* BUSpeich;
    QPushButton* BUAusst;
    QPushButton* BUServer;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    FMPass();
    void anmelden();

    QWidget* m_mainWindow = nullptr;
    std::function<void()> m_renewCaption;
};
