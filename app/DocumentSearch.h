#pragma once

#include "cache/cacheapi.h"
#include "lookup/LookupRequest.h"

#include <optional>

// The lookups behind the "Suche" buttons of the link entry, as plain values, so that every
// request can be checked without a window.
namespace DocumentSearch {

// The document type code: the type text up to its first blank.
QString typeCode(const QString& typeText);
// "0" stands for no account and restricts nothing.
QString accountArgument(const QString& accountText);

// The number search for a document type (AU, RE, BE, ER, AG, compared exactly); no request
// for any other code. kontoKreisCode "L" restricts incoming invoices to the supplier account.
std::optional<LookupRequest> request(const QString& code, const QString& account,
                                     const QString& kontoKreisCode, const SessionContext& context);

// Key fields (counted from 0) that hold the number and, for orders and invoices, the ERP date;
// -1 when the type has no such field.
int numberField(const QString& code);
int dateField(const QString& code);

// Field n of a key joined by "||"; throws CacheError when the key has no such field.
QString keyField(const QString& key, int n);
// The error number of a missing key field, as an index out of range raises it.
constexpr int MissingKeyField = 9;

// The building sites of a customer; account passed as it stands, "0" included.
LookupRequest buildingSiteRequest(const QString& account, const SessionContext& context);

} // namespace DocumentSearch
