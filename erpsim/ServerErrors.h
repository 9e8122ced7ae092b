#pragma once

#include "cacheclient/CacheError.h"

namespace erpsim {

// Error numbers the demo server raises; docs/protocol.md lists them.
namespace ServerError {
constexpr int Storage = 5001;
constexpr int MError = 5002;          // an M line failed (<SYNTAX>, <UNDEFINED>, <NOROUTINE> ...)
constexpr int Internal = 5003;        // an unexpected failure inside one request
constexpr int NoSuchClass = 5351;
constexpr int NoSuchQuery = 5352;
constexpr int NoSuchMethod = 5353;
constexpr int WrongArgumentCount = 5354;
constexpr int BadArgument = 5355;
constexpr int NoSuchResultSet = 5356;
constexpr int NotFound = 5809;
} // namespace ServerError

inline cacheclient::CacheError serverError(int number, const QString& text)
{
    return cacheclient::CacheError(number, text);
}

} // namespace erpsim
