// The start-up's recorded server calls in a process of their own: bench_login's peer.
//   bench_login_replay FILE
#include "LoginReplay.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFile>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QFile file(app.arguments().value(1));
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    QDataStream in(&file);
    Calls calls;
    in >> calls;
    return replay(calls) ? 0 : 1;
}
