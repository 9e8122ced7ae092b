#pragma once

#include "cacheclient/Factory.h"

#include <QString>
#include <memory>

// The arguments of one Lookup call. Two index conventions, never mixed:
//  - a parameter position is 0..8: position k is argument P(k+1) and box txtParam k;
//  - a display column counts from 1 over the shown result columns only (the key column
//    is skipped and does not count).
// -1 marks every optional field that is not used; that is the default of each.
struct LookupRequest
{
    std::shared_ptr<cacheclient::Factory> Factory;
    QString Class;
    QString Query;
    QString Title;
    // Rows per page, 1..32767; 0 means 100.
    qint32 Maxitems = 0;
    bool MoreButton = false;
    bool AutoSelect = false;
    // First page empty: 0 return silently, 1 say so in a box, 2 show the empty dialog.
    qint16 MsgBoxIfNone = 0;
    QString P1, P2, P3, P4, P5, P6, P7, P8, P9;

    // Date slot N: a display column of ERP date numbers, and a position entered by date control N-1.
    qint16 DatumFeld1 = -1;
    qint16 DatumParameter1 = -1;
    qint16 DatumFeld2 = -1;
    qint16 DatumParameter2 = -1;
    qint16 DatumFeld3 = -1;
    qint16 DatumParameter3 = -1;

    // Positions that get a customer, supplier or article number search button.
    qint16 KNRParameter = -1;
    qint16 LNRParameter = -1;
    qint16 ANRParameter = -1;

    // Choice slot N: a position entered with combo box N-1, and its list (0..9).
    qint16 CmbParam1 = -1;
    qint16 CmbType1 = -1;
    qint16 CmbParam2 = -1;
    qint16 CmbType2 = -1;
    qint16 CmbParam3 = -1;
    qint16 CmbType3 = -1;

    // Conversion slot N: a display column converted for display, and the conversion.
    qint16 FeldUmwandl1 = -1;
    qint16 FeldUmwandl1Type = -1;
    qint16 FeldUmwandl2 = -1;
    qint16 FeldUmwandl2Type = -1;
    qint16 FeldUmwandl3 = -1;
    qint16 FeldUmwandl3Type = -1;
};
