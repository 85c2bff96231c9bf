#include "data/memo_search.h"

#include <sqlite3.h>

#include <QSqlQuery>
#include <algorithm>

#include "core/app_context.h"
#include "core/app_error.h"
#include "data/access_log.h"
#include "data/db_connection.h"
#include "data/engine_paths.h"
#include "data/session.h"
#include "data/system_db.h"

namespace ondrel {

QString FoldForSearch(const QString& s) {
    return s.normalized(QString::NormalizationForm_KC).toLower();
}

QString SearchTerm(const QString& typed) {
    QString kept;
    kept.reserve(typed.size());
    for (const QChar c : typed) kept += c.category() == QChar::Other_Control ? QChar(u' ') : c;
    return FoldForSearch(kept.trimmed());
}

namespace {

// Code points, as the trigram index counts them.
qsizetype CodePoints(const QString& s) {
    qsizetype n = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (!(s[i].isLowSurrogate() && i > 0 && s[i - 1].isHighSurrogate())) ++n;
    }
    return n;
}

// The smallest index of `line` (at a code point's start) whose folded prefix
// reaches `folded`: folding is per character, so the prefix lengths rise
// with the index, and a binary search finds the place without folding every
// prefix of a long line.
qsizetype OriginalAt(const QString& line, qsizetype folded) {
    qsizetype lo = 0, hi = line.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi) / 2;
        if (FoldForSearch(line.left(mid)).size() >= folded) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    if (lo > 0 && lo < line.size() && line[lo].isLowSurrogate()) --lo;
    return lo;
}

QString LikePattern(const QString& term) {
    QString p;
    for (const QChar c : term) {
        if (c == u'%' || c == u'_' || c == u'\\') p += u'\\';
        p += c;
    }
    return u'%' + p + u'%';
}

QString MatchPhrase(const QString& term) {
    QString quoted = term;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString FtsColumns(const QString& prefix = {}) {
    QStringList c;
    for (int k = 0; k < kCategoryCount; ++k) c << prefix + tables::TextColumn(k);
    return c.join(QStringLiteral(", "));
}

QString FoldedColumns(const QString& prefix) {
    QStringList c;
    for (int k = 0; k < kCategoryCount; ++k)
        c << QStringLiteral("ondrel_fold(%1%2)").arg(prefix, tables::TextColumn(k));
    return c.join(QStringLiteral(", "));
}

QString ServerSearchText(const QString& prefix) {
    return QStringLiteral("ondrel_search_text(") + FtsColumns(prefix) + u')';
}

void Fold(sqlite3_context* context, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = static_cast<const char16_t*>(sqlite3_value_text16(argv[0]));
    const int bytes = sqlite3_value_bytes16(argv[0]);
    const QString folded = FoldForSearch(QString::fromUtf16(text, bytes / 2));
    sqlite3_result_text16(context, folded.utf16(), int(folded.size() * 2), SQLITE_TRANSIENT);
}

bool IndexPending(DbConnection& cn) {
    if (!HoldsTable(cn, QStringLiteral("tblDatSearchFill"))) return false;
    QSqlQuery q = RunQuery(cn, QStringLiteral("Select Count(*) From tblDatSearchFill"));
    return q.next() && q.value(0).toInt() > 0;
}

// One transaction: the next `rows` memos below the mark, newest first.
void FillPart(DbConnection& cn, int rows, bool& done) {
    BeginTransaction(cn);
    QSqlQuery q = RunQuery(cn, QStringLiteral("Select Below From tblDatSearchFill"));
    const qint64 below = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    q = RunQuery(cn,
                 QStringLiteral("Select MainKey From tblDatCommon Where MainKey < ? "
                                "Order By MainKey Desc Limit 1 Offset ?"),
                 {below, std::max(1, rows) - 1});
    const bool last = !q.next();
    const qint64 low = last ? 0 : q.value(0).toLongLong();
    q.finish();
    RunChange(cn,
              QStringLiteral("Insert Into tblDatSearch (rowid, ") + FtsColumns() +
                  QStringLiteral(") Select MainKey, ") + FoldedColumns(QStringLiteral("c.")) +
                  QStringLiteral(" From tblDatCommon c Where MainKey >= ? And MainKey < ? "
                                 "And Not Exists (Select 1 From tblDatSearch Where rowid "
                                 "= c.MainKey)"),
              {low, below});
    if (last) {
        RunChange(cn, QStringLiteral("Delete From tblDatSearchFill"));
    } else {
        RunChange(cn, QStringLiteral("Update tblDatSearchFill Set Below = ?"), {low});
    }
    CommitTransaction(cn);
    done = last;
}

}  // namespace

SearchHit MarkMatch(const QString& text, const QString& term, int width) {
    SearchHit hit;
    const QStringList lines = QString(text).remove(u'\r').split(u'\n');
    for (const QString& line : lines) {
        const QString folded = FoldForSearch(line);
        const qsizetype at = term.isEmpty() ? -1 : folded.indexOf(term);
        if (at < 0) continue;
        const qsizetype start = OriginalAt(line, at);
        qsizetype end = std::max(start, OriginalAt(line, at + term.size()));
        // A mark that composes with the character before it (ｾﾞ) belongs to the match.
        while (end < line.size() && FoldForSearch(line.left(end + 1)).size() <= at + term.size())
            ++end;
        hit.line = line;
        hit.markAt = start;
        hit.markLength = end - start;
        if (line.size() > width) {
            const qsizetype from =
                std::max<qsizetype>(0, std::min(start - width / 4, line.size() - width));
            hit.line = (from > 0 ? QStringLiteral("…") : QString()) + line.mid(from, width) +
                       (from + width < line.size() ? QStringLiteral("…") : QString());
            hit.markAt = start - from + (from > 0 ? 1 : 0);
            hit.markLength = std::min<qsizetype>(hit.markLength, hit.line.size() - hit.markAt);
        }
        return hit;
    }
    // Found by the database but not on one line here: the first line, unmarked.
    hit.line = lines.value(0).left(width);
    return hit;
}

SearchResult SearchMemos(AppContext& ctx, const SearchRequest& request) {
    SearchResult result;
    const QString term = SearchTerm(request.text);
    if (term.isEmpty()) return result;
    const int limit = std::max(1, request.limit);
    WithSystemDb(ctx, [&](DbConnection& cn) {
        const bool server = cn.engine() == Engine::Postgres;
        QString sql = QStringLiteral(
                          "Select c.MainKey, c.FormCode, c.KarteNo, c.KarteNoBranch, "
                          "c.CreDate, p.氏名, ") +
                      FtsColumns(QStringLiteral("c."));
        QVariantList values;
        const QString pattern = LikePattern(term);
        if (server) {
            sql += QStringLiteral(
                       " From tblDatCommon c Left Join 患者マスター p On p.カルテ番号 = "
                       "c.KarteNoBranch Where ") +
                   ServerSearchText(QStringLiteral("c.")) + QStringLiteral(" Like ? Escape '\\'");
            values << pattern;
            if (request.formCode) {
                sql += QStringLiteral(" And lower(normalize(c.%1, NFKC)) Like ? Escape '\\'")
                           .arg(tables::TextColumn(*request.formCode));
                values << pattern;
            }
        } else {
            const std::vector<int> columns = request.formCode
                                                 ? std::vector<int>{*request.formCode}
                                                 : std::vector<int>{0, 1, 2, 3, 4, 5, 6};
            // A copy that could not be given its index: every memo folded and read.
            const bool indexed = HoldsTable(cn, QStringLiteral("tblDatSearch"));
            sql += indexed ? QStringLiteral(
                                 " From tblDatSearch s Join tblDatCommon c On "
                                 "c.MainKey = s.rowid")
                           : QStringLiteral(" From tblDatCommon c");
            sql += QStringLiteral(
                " Left Join 患者マスター p On p.カルテ番号 = c.KarteNoBranch Where ");
            if (!indexed) {
                QStringList likes;
                for (const int k : columns) {
                    likes << QStringLiteral("ondrel_fold(c.%1) Like ? Escape '\\'")
                                 .arg(tables::TextColumn(k));
                    values << pattern;
                }
                sql += u'(' + likes.join(QStringLiteral(" Or ")) + u')';
            } else if (CodePoints(term) >= 3) {
                // The trigram index: a phrase is the term as a substring;
                // quoted, NEAR, OR and * are its own text.
                QString match = MatchPhrase(term);
                if (request.formCode)
                    match = tables::TextColumn(*request.formCode) + QStringLiteral(" : ") + match;
                sql += QStringLiteral("s.tblDatSearch Match ?");
                values << match;
            } else {
                // Too short for a trigram: the folded texts are read through.
                QStringList likes;
                for (const int k : columns) {
                    likes << QStringLiteral("s.%1 Like ? Escape '\\'").arg(tables::TextColumn(k));
                    values << pattern;
                }
                sql += u'(' + likes.join(QStringLiteral(" Or ")) + u')';
            }
        }
        if (request.formCode) {
            sql += QStringLiteral(" And c.FormCode = ?");
            values << *request.formCode;
        } else if (!request.formCodes.empty()) {
            QStringList codes;
            for (const int k : request.formCodes) codes << QString::number(k);
            sql += QStringLiteral(" And c.FormCode In (%1)").arg(codes.join(u','));
        }
        if (request.from.isValid()) {
            sql += QStringLiteral(" And c.CreDate >= ?");
            values << request.from;
        }
        if (request.to.isValid()) {
            sql += QStringLiteral(" And c.CreDate <= ?");
            values << request.to;
        }
        sql += QStringLiteral(" Order By c.") +
               tables::MemoOrderNewestFirst()
                   .split(QStringLiteral(", "))
                   .join(QStringLiteral(", c.")) +
               QStringLiteral(" Limit %1").arg(limit + 1);
        ForEachRow(cn, sql, values, [&](const RowReader& r) {
            if (int(result.hits.size()) == limit) {
                result.more = true;
                return;
            }
            const int form = r.Value(1).toInt();
            // The text the hit is shown by: the memo's own category first.
            QString text = r.Text(6 + form);
            SearchHit hit = MarkMatch(text, term);
            if (hit.markLength == 0 && !request.formCode) {
                for (int k = 0; k < kCategoryCount; ++k) {
                    SearchHit other = MarkMatch(r.Text(6 + k), term);
                    if (other.markLength > 0) {
                        hit = other;
                        break;
                    }
                }
            }
            hit.mainKey = r.Value(0).toInt();
            hit.formCode = form;
            hit.karteNo = BaseChartNo(r.Value(2).toInt());
            hit.chart = FullChartNo(r.Value(3).toInt());
            const QVariant d = r.Value(4);
            hit.date = d.typeId() == QMetaType::QDate
                           ? d.toDate()
                           : QDate::fromString(d.toString().left(10), Qt::ISODate);
            hit.patientName = r.Text(5);
            result.hits.push_back(std::move(hit));
        });
        if (!server) result.indexPending = IndexPending(cn);
    });
    QueueSearchEvent(ctx, int(CodePoints(term)), int(result.hits.size()));
    return result;
}

void RegisterSearchFold(sqlite3* db) {
    sqlite3_create_function_v2(db, "ondrel_fold", 1,
                               SQLITE_UTF16 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                               &Fold, nullptr, nullptr, nullptr);
}

void AddSearchIndex(DbConnection& cn) {
    if (cn.engine() != Engine::SQLite) return;
    const QString index = QStringLiteral("tblDatSearch");
    if (!HoldsTable(cn, QStringLiteral("tblDatCommon")) || HoldsTable(cn, index)) return;
    try {
        BeginTransaction(cn);
        if (!HoldsTable(cn, index)) {  // another program may have made it meanwhile
            for (const QString& sql : tables::SearchStatements(Engine::SQLite)) RunChange(cn, sql);
            // Every memo there now waits for the fill; the triggers keep the rest.
            RunChange(cn, QStringLiteral("Insert Into tblDatSearchFill (Below) Select "
                                         "Max(MainKey) + 1 From tblDatCommon Where MainKey Is "
                                         "Not Null"));
        }
        CommitTransaction(cn);
    } catch (const AppError&) {
        // A copy that cannot be written still opens; its search reads it through.
        SqlitePath::Rollback(cn);
    }
}

bool FillSearchIndex(AppContext& ctx, int rows) {
    bool done = true;
    try {
        WithSystemDb(ctx, [&](DbConnection& cn) {
            if (cn.engine() != Engine::SQLite || !IndexPending(cn)) return;
            try {
                FillPart(cn, rows, done);
            } catch (const DatabaseBusy&) {
                throw;
            } catch (const AppError&) {
                // A file that cannot be written (a read-only copy): searched
                // as far as it is indexed, without a word each time.
                SqlitePath::Rollback(cn);
            }
        });
    } catch (const DatabaseBusy&) {
        return false;  // another program writes: the next try
    }
    return done;
}

namespace tables {

QStringList SearchStatements(Engine engine) {
    if (engine == Engine::Postgres) {
        QStringList params;
        for (int k = 0; k < kCategoryCount; ++k) params << QStringLiteral("t%1 text").arg(k);
        QStringList args;
        for (int k = 0; k < kCategoryCount; ++k) args << QStringLiteral("t%1").arg(k);
        // The seven texts as one, a line apart (a term never holds a line break).
        return {QStringLiteral("CREATE OR REPLACE FUNCTION ondrel_search_text(%1) RETURNS text "
                               "LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$ SELECT "
                               "lower(normalize(concat_ws(E'\\n', %2), NFKC)) $f$")
                    .arg(params.join(QStringLiteral(", ")), args.join(QStringLiteral(", ")))};
    }
    const QString row = QStringLiteral("(rowid, ") + FtsColumns() +
                        QStringLiteral(") Values (new.MainKey, ") +
                        FoldedColumns(QStringLiteral("new.")) + QStringLiteral(");");
    return {
        QStringLiteral("CREATE VIRTUAL TABLE tblDatSearch USING fts5(") + FtsColumns() +
            QStringLiteral(", tokenize = 'trigram')"),
        QStringLiteral("CREATE TABLE tblDatSearchFill (Below INTEGER NOT NULL)"),
        QStringLiteral("CREATE TRIGGER trgDatSearchInsert AFTER INSERT ON tblDatCommon BEGIN "
                       "Insert Into tblDatSearch ") +
            row + QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER trgDatSearchUpdate AFTER UPDATE OF ") + FtsColumns() +
            QStringLiteral(" ON tblDatCommon BEGIN Delete From tblDatSearch Where rowid = "
                           "old.MainKey; Insert Into tblDatSearch ") +
            row + QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER trgDatSearchDelete AFTER DELETE ON tblDatCommon BEGIN "
                       "Delete From tblDatSearch Where rowid = old.MainKey; END"),
    };
}

QStringList ServerSearchIndexStatements() {
    return {QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"),
            QStringLiteral("CREATE INDEX CONCURRENTLY IF NOT EXISTS idxdatcommonsearch ON "
                           "tblDatCommon USING gin (") +
                ServerSearchText({}) + QStringLiteral(" gin_trgm_ops)")};
}

}  // namespace tables

}  // namespace ondrel
