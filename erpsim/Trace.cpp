#include "Trace.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <fcntl.h>
#include <unistd.h>

namespace erpsim {

namespace {

const QString Masked = QStringLiteral("***");

void maskPasswords(QJsonObject& object)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key().compare(QLatin1String("Passwort"), Qt::CaseInsensitive) == 0 && it.value().isString()) {
            if (!it.value().toString().isEmpty())
                it.value() = Masked;
        } else if (it.value().isObject()) {
            QJsonObject inner = it.value().toObject();
            maskPasswords(inner);
            it.value() = inner;
        }
    }
}

} // namespace

Trace::Trace(const QString& path) : m_file(path)
{
    // The trace holds what clients send; only the server's owner may read it.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0 && !m_file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text,
                                QFileDevice::AutoCloseHandle))
        ::close(fd);
}

void Trace::write(QJsonObject entry)
{
    maskPasswords(entry);
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    QMutexLocker lock(&m_mutex);
    if (!m_file.isOpen())
        return;
    m_file.write(line);
    m_file.flush();
}

} // namespace erpsim
