#pragma once

#include <QQueue>
#include <QStringList>

class QWidget;

// The file-open dialog. Tests queue the paths the "user" chooses; each call takes one answer
// (an empty list is a cancelled dialog) and records the title, folder and filter it was given.
class FileDialog
{
public:
    struct Request
    {
        QString title;
        QString directory;
        QString filter;
    };

    static QStringList getOpenFileNames(QWidget* parent, const QString& title, const QString& directory,
                                        const QString& filter);

    static void setScripted(bool scripted);
    static void queueFileNames(const QStringList& paths);
    static int pendingAnswers();
    static const QList<Request>& requests();
};
