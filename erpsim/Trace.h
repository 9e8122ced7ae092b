#pragma once

#include <QFile>
#include <QJsonObject>
#include <QMutex>

namespace erpsim {

// One JSON object per received request, one per line, flushed at once so that a test or an
// operator can read what arrived while the server runs. Shared by all connections. The file
// is created readable by its owner only, and every property named Passwort is written as "***".
class Trace
{
public:
    explicit Trace(const QString& path);
    bool isOpen() const { return m_file.isOpen(); }
    void write(QJsonObject entry);

private:
    QMutex m_mutex;
    QFile m_file;
};

} // namespace erpsim
