#pragma once

#include <QMainWindow>

// The program's main window.
class FMStart : public QMainWindow
{
    Q_OBJECT

public:
    explicit FMStart(QWidget* parent = nullptr);

    // Logs in (repeating until a user is logged in or the program ends) and prepares the
    // window; false when the program ended during the login.
    bool start();
    void setStartCaption();
    static QString caption(const QString& userName, const QString& firma, const QString& filiale);

protected:
    void closeEvent(QCloseEvent* event) override;
};
