#pragma once

#include <QFile>
#include <QJsonObject>
#include <QMutex>

namespace erpsim {

// One JSON object per received request, one per line, flushed at once so that a test or an
// operator can read what arrived while the server runs. Shared by all connections.
class Trace
{
public:
    explicit Trace(const QString& path);
    bool isOpen() const { return m_file.isOpen(); }
    void write(const QJsonObject& entry);

private:
    QMutex m_mutex;
    QFile m_file;
};

} // namespace erpsim
