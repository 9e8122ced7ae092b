#pragma once

// What every benchmark needs: the median of its samples, a verdict text, and velmor-erpd started
// from the build's bin folder on a free loopback port.

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <vector>

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline const char* verdict(bool met)
{
    return met ? "met" : "NOT met";
}

struct Daemon
{
    QProcess process;
    quint16 port = 0;
    // binary: another build of the daemon (or a wrapper that runs it) instead of the one beside this.
    bool start(const QString& db, QString binary = QString())
    {
        if (binary.isEmpty())
            binary = QCoreApplication::applicationDirPath() + "/velmor-erpd";
        process.start(binary, {"--db", db, "--port", "0"});
        if (!process.waitForStarted(5000))
            return false;
        QByteArray out;
        for (int i = 0; i < 300 && !out.contains('\n'); ++i) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        const auto m = QRegularExpression(":(\\d+)\\s*$").match(QString::fromUtf8(out).trimmed());
        port = m.hasMatch() ? m.captured(1).toUShort() : 0;
        return port != 0;
    }
    ~Daemon()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
};
