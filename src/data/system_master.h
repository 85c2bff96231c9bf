#pragma once

#include <QString>
#include <array>
#include <optional>

#include "core/records.h"

namespace ondrel {

class DbConnection;
struct AppContext;

struct SystemMaster {
    std::array<QString, kCategoryCount> Name;  // Name01..Name07: categories 0..6
    // Check02..Check07 at [1]..[6], true where the table has the text "1";
    // [0] unused: category 0 is always in use.
    std::array<bool, kCategoryCount> Check{};
    bool InUse(int category) const { return category == 0 || Check[category]; }
};

// The first row of tblMasSystemA, or nullopt for an empty table. Throws AppError.
[[nodiscard]] std::optional<SystemMaster> Rtn_MasterRead(DbConnection& cn);
// Sets every row: names as typed (empty → NULL), flags as '0'/'1'. Throws AppError.
void Rtn_MasterWrite(DbConnection& cn, const std::array<QString, kCategoryCount>& names,
                     const std::array<bool, kCategoryCount>& inUse);

// The same, each on a connection of its own: what the windows call.
[[nodiscard]] std::optional<SystemMaster> Rtn_MasterRead(AppContext& ctx);
void Rtn_MasterWrite(AppContext& ctx, const std::array<QString, kCategoryCount>& names,
                     const std::array<bool, kCategoryCount>& inUse);

}  // namespace ondrel
