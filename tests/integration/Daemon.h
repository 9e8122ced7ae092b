#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// Runs velmor-erpd from the build's bin folder on a free loopback port.
class Daemon
{
public:
    static QString binary(const QString& name) { return QCoreApplication::applicationDirPath() + u'/' + name; }

    bool start(const QString& database, const QStringList& extra = {})
    {
        m_process.setProgram(binary(QStringLiteral("velmor-erpd")));
        m_process.setArguments(QStringList{"--db", database, "--port", "0"} + extra);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        QByteArray out;
        const QRegularExpression listening(QStringLiteral("listening on [^:]+:(\\d+)"));
        for (int i = 0; i < 100 && !out.contains('\n'); ++i) {
            m_process.waitForReadyRead(100);
            out += m_process.readAllStandardOutput();
        }
        m_banner = QString::fromUtf8(out).trimmed();
        const auto match = listening.match(m_banner);
        if (!match.hasMatch())
            return false;
        m_port = match.captured(1).toUShort();
        return true;
    }

    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    ~Daemon()
    {
        if (m_process.state() != QProcess::NotRunning)
            kill();
    }

    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    // The start-up line.
    const QString& banner() const { return m_banner; }
    quint16 port() const { return m_port; }
    QString connectString() const { return QStringLiteral("cn_iptcp:127.0.0.1[%1]:VELMOR").arg(m_port); }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_banner;
};
