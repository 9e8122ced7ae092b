#pragma once

class QLineEdit;

// Makes a password box hide the typed text behind one "*" per character, whatever the platform's
// style would show.
void ShowPasswordAsStars(QLineEdit* edit);
