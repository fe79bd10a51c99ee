#include "history/reading.h"

#include <cstdio>
#include <random>

#include <nlohmann/json.hpp>

namespace kestran::history {
namespace {

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

}  // namespace

bool serialIdentifies(const std::optional<int>& serial) { return serial && *serial != 0 && *serial != 0xFFFF; }

std::string packKey(const PackIdentity& identity)
{
    nlohmann::json key = nlohmann::json::array();
    key.push_back(identity.family);
    key.push_back(identity.manufacturer);
    key.push_back(identity.deviceName);
    key.push_back(serialIdentifies(identity.serialNumber) ? serialText(*identity.serialNumber) : std::string());
    key.push_back(identity.manufactureDate);
    return key.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

bool identifiesAPack(const PackIdentity& identity)
{
    return !identity.manufacturer.empty() || !identity.deviceName.empty() || serialIdentifies(identity.serialNumber) ||
           !identity.manufactureDate.empty();
}

std::string serialText(int serial)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(serial) & 0xFFFFu);
    return text;
}

std::string identityText(const PackIdentity& identity)
{
    std::string text;
    const auto add = [&text](const std::string& field) {
        if (!field.empty())
            text += (text.empty() ? "" : " ") + field;
    };
    add(identity.family);
    add(identity.manufacturer);
    add(identity.deviceName);
    if (serialIdentifies(identity.serialNumber))
        add(serialText(*identity.serialNumber));
    add(identity.manufactureDate);
    return text;
}

std::string newUid()
{
    std::random_device random;
    char text[40];
    std::snprintf(text, sizeof text, "%08x%08x%08x%08x", random(), random(), random(), random());
    return text;
}

std::string rfc3339(std::int64_t timeMs)
{
    const std::int64_t seconds = floorDiv(timeMs, 1000);
    const auto millis = static_cast<int>(timeMs - seconds * 1000);
    const std::int64_t days = floorDiv(seconds, 86400);
    const auto ofDay = static_cast<int>(seconds - days * 86400);
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<long long>(y), m, d,
                  ofDay / 3600, ofDay / 60 % 60, ofDay % 60, millis);
    return text;
}

bool parseRfc3339(const std::string& text, std::int64_t& timeMs)
{
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0, ms = 0, used = 0;
    if (text.size() != 24 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &y, &m, &d, &hh, &mm, &ss, &ms, &used) != 7 ||
        used != 24)
        return false;
    if (m < 1 || m > 12 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 59 || y < 1970)
        return false;
    for (const std::size_t digit : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u, 11u, 12u, 14u, 15u, 17u, 18u, 20u, 21u, 22u})
        if (text[digit] < '0' || text[digit] > '9')
            return false;
    const std::int64_t days = daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
    timeMs = ((days * 86400) + hh * 3600 + mm * 60 + ss) * 1000 + ms;
    return rfc3339(timeMs) == text;  // 2026-02-30 is no date
}

}  // namespace kestran::history
