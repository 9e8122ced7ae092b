#pragma once

#include <QString>

namespace erpsim {

// The ERP stores umlauts in a 7-bit coding: { | } ~ [ \ ] for ä ö ü ß Ä Ö Ü, õ for §.
QString erpToDisplay(const QString& stored);
QString displayToErp(const QString& text);
// Upper case with umlauts written out, as the ERP's search keys are.
QString searchKey(const QString& text);

} // namespace erpsim
