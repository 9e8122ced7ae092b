#pragma once

#include <QSettings>
#include <memory>

// The per-user settings store: application "Cache Login", section "Login".
std::unique_ptr<QSettings> openLoginSettings();
