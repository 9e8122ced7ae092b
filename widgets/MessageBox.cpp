#include "MessageBox.h"

#include <QQueue>
#include <cstdio>

namespace {
struct State
{
    bool console = false;
    bool scripted = false;
    QQueue<MessageBox::Button> answers;
    QList<MessageBox::Record> shown;
};

State& state()
{
    static State instance;
    return instance;
}

MessageBox::Button fallbackAnswer(MessageBox::Buttons buttons, MessageBox::Button defaultButton)
{
    if (defaultButton != QMessageBox::NoButton)
        return defaultButton;
    for (MessageBox::Button b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
        if (buttons.testFlag(b))
            return b;
    return QMessageBox::Ok;
}
} // namespace

MessageBox::Button MessageBox::show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                    const QString& text, Buttons buttons, Button defaultButton)
{
    State& s = state();
    if (s.scripted) {
        const bool expected = !s.answers.isEmpty();
        const Button answer = expected ? s.answers.dequeue() : fallbackAnswer(buttons, defaultButton);
        s.shown.append({title, text, icon, buttons, answer, expected, defaultButton});
        if (!expected)
            qWarning("Unerwartete Meldung: %s / %s", qPrintable(title), qPrintable(text));
        return answer;
    }
    if (s.console) {
        QString flat = text;
        flat.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(u'\n', u' ');
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), flat.trimmed().toLocal8Bit().constData());
        return fallbackAnswer(buttons, defaultButton);
    }
    QMessageBox box(icon, title, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<Button>(box.exec());
}

void MessageBox::setConsole(bool console)
{
    state().console = console;
}

void MessageBox::setScripted(bool scripted)
{
    state().scripted = scripted;
    clear();
}

bool MessageBox::isScripted()
{
    return state().scripted;
}

void MessageBox::queueAnswer(Button answer)
{
    state().answers.enqueue(answer);
}

int MessageBox::pendingAnswers()
{
    return static_cast<int>(state().answers.size());
}

const QList<MessageBox::Record>& MessageBox::shown()
{
    return state().shown;
}

void MessageBox::clear()
{
    state().answers.clear();
    state().shown.clear();
}
