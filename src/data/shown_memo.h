#pragma once

#include <QString>
#include <optional>

#include "core/records.h"
#include "data/memo_store.h"

namespace ondrel {

struct AppContext;

// What the window shows after a save or a delete of the memo on a page.
struct ShownMemoOutcome {
    enum class Page {
        AsSaved,  // the page stays as it is (its lists take the saved date)
        AtMemo,   // the page's lists as they now are, with `memo` on it
        Latest,   // the page's lists as they now are, from the latest memo
    };
    Page page = Page::AsSaved;
    qint32 memo = 0;  // for AtMemo
    QString warning;  // what the user is told; empty: nothing
};

// Saves the memo a page shows. When another workstation changed or deleted
// it after it was shown, that work stays as it is and the text on screen is
// stored as a new memo of the same category and date (`chart`: the patient
// shown), and the user is told: nothing typed is lost, nothing overwritten.
ShownMemoOutcome SaveShownMemo(AppContext& ctx, const CommonRecord& memo, int category,
                               BaseChartNo karteNo, FullChartNo chart);
// Deletes the memo a page shows, only at the version shown; otherwise the
// user is told and the page shows the memo as it now is.
ShownMemoOutcome DeleteShownMemo(AppContext& ctx, qint32 mainKey, qint32 rowVersion);

// What the user is told of a change checked after its COMMIT went unanswered.
QString SettledMessage(const SettledSave& settled);

}  // namespace ondrel
