#pragma once

#include <QString>
#include <QStringList>

// Keeps digits, the first ",", a "%" at the end and a "-" at the start; "0" for an empty text.
QString NurZahlZeichen(const QString& text);

// The nine "|"-joined texts of the archive registration, from its 23 values (p[0] is value 1).
QStringList SetDokumentArguments(const QString (&p)[23], const QString& firma);

// Registers one document in the ERP archive ("SetDokument" of AR.Dokumente). Returns true when
// the server took it; a failure has been reported in the error box.
bool SetDokument(const QString (&p)[23]);
