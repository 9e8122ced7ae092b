#include "SystemServices.h"

#include <QDesktopServices>
#include <QProcess>
#include <QSettings>
#include <QUrl>

namespace {
SystemServices::RegistryReader registryReader;
SystemServices::ProgramStarter programStarter;
SystemServices::DocumentOpener documentOpener;
} // namespace

std::optional<QString> SystemServices::readMachineRegistryValue(const QString& key, const QString& valueName)
{
    if (registryReader)
        return registryReader(key, valueName);
#ifdef Q_OS_WIN
    QSettings settings(QStringLiteral("HKEY_LOCAL_MACHINE\\") + key, QSettings::NativeFormat);
    const QVariant value = settings.value(valueName);
    if (value.isValid() && value.canConvert<QString>())
        return value.toString();
#else
    Q_UNUSED(key)
    Q_UNUSED(valueName)
#endif
    return std::nullopt;
}

bool SystemServices::startProgram(const QString& path)
{
    if (programStarter)
        return programStarter(path);
    return QProcess::startDetached(path, {});
}

bool SystemServices::openDocument(const QString& path)
{
    if (documentOpener)
        return documentOpener(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void SystemServices::setRegistryReader(RegistryReader reader)
{
    registryReader = std::move(reader);
}

void SystemServices::setProgramStarter(ProgramStarter starter)
{
    programStarter = std::move(starter);
}

void SystemServices::setDocumentOpener(DocumentOpener opener)
{
    documentOpener = std::move(opener);
}
