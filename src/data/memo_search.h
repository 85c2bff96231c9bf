#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "core/records.h"
#include "data/tables.h"

struct sqlite3;

namespace ondrel {

struct AppContext;
class DbConnection;

// What search compares: NFKC (full-width letters and digits, half-width
// kana) and lower case, so that ＡＢＣ, abc, ｶﾞｰｾﾞ and ガーゼ find each other.
QString FoldForSearch(const QString& s);
// The typed text as searched: control characters (NUL, line breaks) out,
// spaces at either end off, folded.
QString SearchTerm(const QString& typed);

struct SearchRequest {
    QString text;                 // as typed
    std::optional<int> formCode;  // one category, or all
    std::vector<int> formCodes;   // the categories in use (empty: all)
    QDate from, to;               // both included; invalid: open
    int limit = 200;
};

struct SearchHit {
    qint32 mainKey = 0;
    int formCode = 0;
    BaseChartNo karteNo;
    FullChartNo chart;
    QDate date;
    QString patientName;
    // The line of the memo holding the match (cut around it when long), and
    // where the match lies in it.
    QString line;
    qsizetype markAt = 0, markLength = 0;
};

struct SearchResult {
    std::vector<SearchHit> hits;  // newest first
    bool more = false;            // more than the limit matched
    // A file whose index is still being filled: older memos may be missing.
    bool indexPending = false;
};

// Across every patient's memos; a term of less than one character finds
// nothing. Queues an access record (検索, the term's length, never its text).
SearchResult SearchMemos(AppContext& ctx, const SearchRequest& request);

// Where the match of `term` (folded) lies in `text`: the line and its range.
// A line of more than `width` characters is cut around the match (…).
SearchHit MarkMatch(const QString& text, const QString& term, int width = 120);

// A file's index: made with the file, and for a file made before it, the
// table and triggers now and its rows filled a part at a time
// (FillSearchIndex), newest first. Best effort on a file that cannot be written.
void AddSearchIndex(DbConnection& cn);
// Adds up to `rows` memos not yet indexed; true when none is left (and on a
// server, whose index the server keeps). A busy file is left for the next try.
bool FillSearchIndex(AppContext& ctx, int rows);
// The fold as a function of a file's connection (its triggers call it).
void RegisterSearchFold(sqlite3* db);

namespace tables {
// A file's index table and triggers; a server's folding function.
QStringList SearchStatements(Engine engine);
// A server's trigram index, made by the owner outside a transaction (it
// needs pg_trgm, which Debian ships in postgresql-contrib).
QStringList ServerSearchIndexStatements();
}  // namespace tables

}  // namespace ondrel
