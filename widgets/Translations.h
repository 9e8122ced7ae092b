#pragma once

class QCoreApplication;

// Loads Qt's own German translations, so standard buttons read "Ja", "Nein", "Abbrechen"
// whatever the system's language; returns false when they are not installed.
bool installGermanTranslations(QCoreApplication& app);
