#pragma once

#include <QWidget>

class QTableView;

// "Programmverlauf": the program log. Closing it only hides it, so the log keeps collecting;
// the program's end unloads it.
class frmProgrammverlauf : public QWidget
{
    Q_OBJECT

public:
    // Created hidden on first use.
    static frmProgrammverlauf& instance();
    static bool exists();

    QTableView* Verlauf;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    frmProgrammverlauf();
    ~frmProgrammverlauf() override;
};
