#pragma once

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "report/office.h"

namespace ondrel {

struct AppContext;
struct PrintSubject;
class FrmOndrel;
class SingleInstance;

// What the print dialog is handed from the main window.
PrintSubject PrintSubjectOf(const FrmOndrel& main);

// The start as main runs it: single instance, settings, system database,
// start chart number, clinic data, then the main window opened and shown.
// nullptr when the start ended before the window (the user has been told).
std::unique_ptr<FrmOndrel> StartProgram(AppContext& ctx, const QStringList& arguments,
                                        SingleInstance& instance,
                                        const std::optional<OfficeConfig>& office = std::nullopt,
                                        const std::function<bool()>& firstStart = {});

}  // namespace ondrel
