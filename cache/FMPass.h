#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>

class QLineEdit;
class QPushButton;

// "VELMOR Benutzeranmeldung": personnel code and password, saving the connection settings.
class FMPass : public QDialog
{
    Q_OBJECT

public:
    static FMPass& instance();

    // Writes the connection settings from the two dialogs; the password is never stored. The
    // server dialog saves its own fields only and keeps the stored user.
    void Sichern(bool keepName = false);

    // The main window, once it exists: a new login from it renews its caption; "Abbruch" ends
    // the program only when mayEnd (if given) agrees.
    void setMainWindow(QWidget* window, std::function<void()> renewCaption,
                       std::function<bool()> mayEnd = {});

    QLineEdit* BUSER;
    QLineEdit* BPASSWORT;
    QPushButton* BUSpeich;
    QPushButton* BUAusst;
    QPushButton* BUServer;

    // The close box (and Escape): the password box is emptied.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    FMPass();
    void anmelden();

    // Guarded: the main window may go before this dialog, which lives to the program's end.
    QPointer<QWidget> m_mainWindow;
    std::function<void()> m_renewCaption;
    std::function<bool()> m_mayEnd;
};
