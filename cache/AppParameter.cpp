#include "cacheapi.h"

QVariant GetAppParameter(const QString& group, const QString& name, bool wantDescription,
                         const QVariant& defaultValue, bool raw)
{
    // A connect that failed has been reported already.
    if (!DBBegin())
        return defaultValue;
    std::unique_ptr<cacheclient::CacheObject> parameter;
    try {
        if (!session().Factory)
            throw cacheclient::CacheError(cacheclient::ClientError::NotConnected,
                                          QStringLiteral("Keine Verbindung zum Server"));
        parameter = session().Factory->openId(QStringLiteral("XR.ParAnwPar"),
                                              session().Firma + QStringLiteral("||") + group +
                                                  QStringLiteral("||") + name);
        QString result;
        if (wantDescription)
            result = parameter->call(QStringLiteral("BeschreibungLogicalToODBC"),
                                     parameter->property(QStringLiteral("Beschreibung")));
        else if (raw)
            result = parameter->property(QStringLiteral("Parameter"));
        else
            result = parameter->call(QStringLiteral("parameterLogicalToODBC"),
                                     parameter->property(QStringLiteral("Parameter")));
        CloseCacheObject(parameter);
        DBEnd(false);
        return result;
    } catch (const cacheclient::CacheError& error) {
        CloseCacheObject(parameter);
        ReportCacheError(error, QStringLiteral("Lese Parameter Gruppe ") + group +
                                    QStringLiteral(" Objekt ") + name);
        DBEnd(false);
        return defaultValue;
    }
}
