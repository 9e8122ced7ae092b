#include "LoginSettings.h"

std::unique_ptr<QSettings> openLoginSettings()
{
    auto settings = std::make_unique<QSettings>(QSettings::UserScope, QStringLiteral("VELMOR"),
                                                QStringLiteral("Cache Login"));
    settings->beginGroup(QStringLiteral("Login"));
    return settings;
}
