#include "AOBStandard.h"

#include "cache/cacheapi.h"

QString NurZahlZeichen(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("0");
    QString kept;
    bool comma = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c >= u'0' && c <= u'9')
            kept += c;
        else if (c == u',' && !comma) {
            kept += c;
            comma = true;
        } else if (c == u'%' && i == text.size() - 1)
            kept += c;
        else if (c == u'-' && i == 0)
            kept += c;
    }
    return kept;
}

QStringList SetDokumentArguments(const QString (&p)[23], const QString& firma)
{
    // The table numbers the values from 1.
    auto v = [&](int n) { return p[n - 1]; };
    const QString date = v(14).isEmpty() ? QStringLiteral("0") : v(14);
    const QChar bar(u'|');
    return {
        firma + bar + v(4) + bar + v(5) + bar + v(15) + bar + v(18),
        v(1) + bar + v(2) + bar + v(6),
        v(8) + bar + v(13),
        v(9) + bar + v(10) + bar + v(16) + bar + v(17),
        v(11) + bar + v(12) + bar + date + bar + v(22),
        v(19) + bar + v(20) + bar + v(21),
        v(3),
        v(7),
        v(23),
    };
}

bool SetDokument(const QString (&p)[23])
{
    // Nothing is registered under a code whose login failed.
    if (!RequireLogin())
        return false;
    QStringList args = SetDokumentArguments(p, session().Firma);
    DBBegin();
    std::unique_ptr<cacheclient::CacheObject> documents;
    try {
        if (!session().Factory)
            throw cacheclient::CacheError(cacheclient::ClientError::NotConnected,
                                          QStringLiteral("Keine Verbindung zum Server"));
        documents = session().Factory->classObject(QStringLiteral("AR.Dokumente"));
        documents->call(QStringLiteral("SetDokument"), args);
        CloseCacheObject(documents);
        DBEnd(false);
        return true;
    } catch (const cacheclient::CacheError& error) {
        CloseCacheObject(documents);
        ReportCacheError(error, QStringLiteral("SetDokument"));
        return false;
    }
}
