#include "FileDialog.h"

#include <QFileDialog>

namespace {
bool scripted = false;
QQueue<QStringList> answers;
QList<FileDialog::Request> seen;
} // namespace

QStringList FileDialog::getOpenFileNames(QWidget* parent, const QString& title, const QString& directory,
                                         const QString& filter)
{
    if (scripted) {
        seen.append({title, directory, filter});
        return answers.isEmpty() ? QStringList() : answers.dequeue();
    }
    return QFileDialog::getOpenFileNames(parent, title, directory, filter);
}

void FileDialog::setScripted(bool on)
{
    scripted = on;
    answers.clear();
    seen.clear();
}

void FileDialog::queueFileNames(const QStringList& paths)
{
    answers.enqueue(paths);
}

int FileDialog::pendingAnswers()
{
    return static_cast<int>(answers.size());
}

const QList<FileDialog::Request>& FileDialog::requests()
{
    return seen;
}
