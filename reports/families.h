// The gauge families the reports are made for: the name a command line and
// the data use, the menu key, the report's routine.
#pragma once

#include <span>
#include <string_view>

#include "reports/reports.h"

namespace kestran {

struct Family {
    std::string_view name;
    int menuKey;
    void (*report)();
};

inline constexpr Family kFamilies[] = {
    {.name = "bq20z", .menuKey = 1, .report = bq20z},
    {.name = "bq30z55", .menuKey = 2, .report = bq30z},
    {.name = "bq40z50", .menuKey = 3, .report = bq40z},
    {.name = "bq9000", .menuKey = 4, .report = bq9000},
};

// The generic report, for a gauge of no known family.
inline constexpr const Family& kGenericFamily = kFamilies[3];

// A family by its name or its menu key ("3"); none when neither matches.
constexpr const Family* findFamily(std::string_view nameOrKey)
{
    for (const Family& family : kFamilies)
        if (family.name == nameOrKey ||
            (nameOrKey.size() == 1 && nameOrKey[0] == static_cast<char>('0' + family.menuKey)))
            return &family;
    return nullptr;
}

}  // namespace kestran
