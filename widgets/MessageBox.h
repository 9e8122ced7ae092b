#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

// Every message box of the program goes through here. Tests switch to scripted mode: each
// box takes the next queued answer and is recorded with title, text, icon and buttons; a box
// with no answer queued is recorded as unexpected and answered with its default.
class MessageBox
{
public:
    using Button = QMessageBox::StandardButton;
    using Buttons = QMessageBox::StandardButtons;

    struct Record
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        Buttons buttons;
        Button answer;
        bool expected;
        Button defaultButton = QMessageBox::NoButton; // what Enter chooses
    };

    static Button show(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                       Buttons buttons = QMessageBox::Ok, Button defaultButton = QMessageBox::NoButton);

    // For programs without windows: each box is written to standard error and takes its
    // default answer.
    static void setConsole(bool console);

    // Test seam.
    static void setScripted(bool scripted);
    static bool isScripted();
    static void queueAnswer(Button answer);
    static int pendingAnswers();
    static const QList<Record>& shown();
    static void clear();
};
