#pragma once

#include <QString>
#include <array>
#include <optional>

namespace ondrel {

class DbConnection;
struct AppContext;

struct SystemMaster {
    std::array<QString, 7> Name;   // Name01..Name07: categories 0..6
    std::array<QString, 7> Check;  // Check02..Check07 at [1]..[6]; [0] unused
    // Category 0 is always in use; the others only with the text "1".
    bool InUse(int category) const { return category == 0 || Check[category] == u"1"; }
};

// The first row of tblMasSystemA, or nullopt for an empty table. Throws AppError.
[[nodiscard]] std::optional<SystemMaster> Rtn_MasterRead(DbConnection& cn);
// Sets every row: names as typed (empty → NULL), flags as '0'/'1'. Throws AppError.
void Rtn_MasterWrite(DbConnection& cn, const std::array<QString, 7>& names,
                     const std::array<bool, 7>& inUse);

// The same, each on a connection of its own: what the windows call.
[[nodiscard]] std::optional<SystemMaster> Rtn_MasterRead(AppContext& ctx);
void Rtn_MasterWrite(AppContext& ctx, const std::array<QString, 7>& names,
                     const std::array<bool, 7>& inUse);

}  // namespace ondrel
