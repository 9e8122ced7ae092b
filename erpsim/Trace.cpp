#include "Trace.h"

#include <QJsonDocument>

namespace erpsim {

Trace::Trace(const QString& path) : m_file(path)
{
    m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void Trace::write(const QJsonObject& entry)
{
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    QMutexLocker lock(&m_mutex);
    if (!m_file.isOpen())
        return;
    m_file.write(line);
    m_file.flush();
}

} // namespace erpsim
