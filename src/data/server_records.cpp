#include "data/server_records.h"

#include <QSqlQuery>

#include "core/app_error.h"
#include "data/db_connection.h"
#include "data/memo_search.h"
#include "data/revisions.h"
#include "data/tables.h"

namespace ondrel {

namespace {

// A server's text keeps U+0000 as U+E000 '0' and U+E000 doubled; the digest
// is over the text the program stored, so that is undone (rare: the digest's
// expression calls this only for a text that holds U+E000).
const char* const kDigestHelpers[] = {
    R"sql(CREATE OR REPLACE FUNCTION ondrel_stored_text(t text) RETURNS bytea
LANGUAGE plpgsql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
  result bytea := '';
  i integer := 1;
  n integer := length(t);
  c text;
BEGIN
  IF strpos(t, U&'\E000') = 0 THEN RETURN convert_to(t, 'UTF8'); END IF;
  WHILE i <= n LOOP
    c := substr(t, i, 1);
    IF c = U&'\E000' AND i < n THEN
      i := i + 1;
      c := substr(t, i, 1);
      IF c = '0' THEN
        result := result || '\x00'::bytea;
      ELSE
        result := result || convert_to(c, 'UTF8');
      END IF;
    ELSE
      result := result || convert_to(c, 'UTF8');
    END IF;
    i := i + 1;
  END LOOP;
  RETURN result;
END $f$)sql",
    // Who the records name: the login, after the person signed in on the
    // workstation when there is one (set for the transaction by the program).
    R"sql(CREATE OR REPLACE FUNCTION ondrel_person() RETURNS text
LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $f$
  SELECT CASE WHEN coalesce(current_setting('ondrel.staff', true), '') = '' THEN session_user::text
    ELSE current_setting('ondrel.staff', true) || ' (' || session_user::text || ')' END
$f$)sql",
};

// The digest's encoding of each value, as the program's own (DigestBytes):
// "<byte length>:" then N for NULL, I and the number, D and the ISO date, T
// and the UTF-8 text. Spelt out with built-in functions only: called SQL
// functions are not inlined here and cost more than the rest of a save.
QString TextDigest(const QString& x) {
    const QString bytes = QStringLiteral(
                              "(CASE WHEN strpos(%1, U&'\\E000') = 0 THEN convert_to(%1, 'UTF8') "
                              "ELSE ondrel_stored_text(%1) END)")
                              .arg(x);
    return QStringLiteral(
               "(CASE WHEN %1 IS NULL THEN convert_to('1:N', 'UTF8') ELSE "
               "convert_to((octet_length(%2) + 1)::text || ':T', 'UTF8') || %2 END)")
        .arg(x, bytes);
}

// A number or a date: ASCII, so its length is its byte length.
QString AsciiDigest(const QString& text) {
    return QStringLiteral("convert_to(coalesce(length(%1)::text || ':' || %1, '1:N'), 'UTF8')")
        .arg(text);
}

QString IntDigest(const QString& x) { return AsciiDigest(QStringLiteral("('I' || %1)").arg(x)); }

QString DateDigest(const QString& x) {
    return AsciiDigest(QStringLiteral("('D' || to_char(%1, 'YYYY-MM-DD'))").arg(x));
}

// The record's writers: the revision of a memo as it is now, chained to the
// last, and one access record; the clock and the person are the server's.
QString RecordWriters() {
    QStringList texts, memoValues;
    QStringList digest{
        TextDigest(QStringLiteral("v_prev")),         IntDigest(QStringLiteral("p_key")),
        TextDigest(QStringLiteral("p_action")),       TextDigest(QStringLiteral("v_at")),
        TextDigest(QStringLiteral("v_person")),       TextDigest(QStringLiteral("p_ws")),
        IntDigest(QStringLiteral("m.FormCode")),      IntDigest(QStringLiteral("m.KarteNo")),
        IntDigest(QStringLiteral("m.KarteNoBranch")), DateDigest(QStringLiteral("m.CreDate"))};
    for (int k = 0; k < kCategoryCount; ++k) {
        texts << tables::TextColumn(k);
        digest << TextDigest(QStringLiteral("m.") + tables::TextColumn(k));
        memoValues << QStringLiteral("m.%1").arg(tables::TextColumn(k));
    }
    digest << IntDigest(QStringLiteral("m.RowVersion"));
    return QStringLiteral(
               R"sql(CREATE OR REPLACE FUNCTION ondrel_append_revision(p_key integer, p_action text, p_ws text)
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $f$
DECLARE
  m tblDatCommon%%ROWTYPE;
  v_at text;
  v_person text := ondrel_person();
  v_prev text;
  v_digest text;
BEGIN
  PERFORM pg_advisory_xact_lock(%1);
  SELECT * INTO m FROM tblDatCommon WHERE MainKey = p_key;
  IF NOT FOUND THEN RAISE EXCEPTION 'no memo %%', p_key; END IF;
  v_at := to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS.MS');
  v_prev := coalesce((SELECT Digest FROM tblDatRevision ORDER BY RevisionKey DESC LIMIT 1), '');
  v_digest := encode(sha256(%2), 'hex');
  INSERT INTO tblDatRevision (MainKey, Action, ChangedAt, ChangedBy, Workstation, FormCode,
      KarteNo, KarteNoBranch, CreDate, %3, RowVersion, PrevDigest, Digest)
    VALUES (p_key, p_action, v_at, v_person, p_ws, m.FormCode, m.KarteNo, m.KarteNoBranch,
      m.CreDate, %4, m.RowVersion, v_prev, v_digest);
END $f$)sql")
        .arg(tables::kRevisionChainLock)
        .arg(digest.join(QStringLiteral("\n    || ")), texts.join(QStringLiteral(", ")),
             memoValues.join(QStringLiteral(", ")))
        .replace(QStringLiteral("%%"), QStringLiteral("%"));
}

const char* const kAccessRow =
    R"sql(CREATE OR REPLACE FUNCTION ondrel_access_row(p_chart integer, p_action text, p_ws text)
RETURNS void LANGUAGE sql SECURITY DEFINER SET search_path = public, pg_temp AS $f$
  INSERT INTO tblAccessLog (At, Person, Workstation, KarteNo, Action)
    VALUES (to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS.MS'), ondrel_person(), p_ws, p_chart,
            p_action)
$f$)sql";

QString TextParameters() {
    QStringList p;
    for (int k = 0; k < kCategoryCount; ++k) p << QStringLiteral("p_t%1 text").arg(k);
    return p.join(QStringLiteral(", "));
}

QString TextArguments() {
    QStringList p;
    for (int k = 0; k < kCategoryCount; ++k) p << QStringLiteral("p_t%1").arg(k);
    return p.join(QStringLiteral(", "));
}

QString TextAssignments() {
    QStringList p;
    for (int k = 0; k < kCategoryCount; ++k)
        p << QStringLiteral("%1 = p_t%2").arg(tables::TextColumn(k)).arg(k);
    return p.join(QStringLiteral(", "));
}

QString TextColumns(const QString& prefix = {}) {
    QStringList p;
    for (int k = 0; k < kCategoryCount; ++k) p << prefix + tables::TextColumn(k);
    return p.join(QStringLiteral(", "));
}

// What the workstations call.
QStringList EntryPoints() {
    return {
        QStringLiteral(
            R"sql(CREATE OR REPLACE FUNCTION ondrel_memo_insert(p_form integer, p_chart integer,
    p_branch integer, p_date date, %1, p_ws text)
RETURNS integer LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $f$
DECLARE
  k integer;
BEGIN
  INSERT INTO tblDatCommon (FormCode, KarteNo, KarteNoBranch, CreDate, %2)
    VALUES (p_form, p_chart, p_branch, p_date, %3) RETURNING MainKey INTO k;
  PERFORM ondrel_append_revision(k, 'insert', p_ws);
  PERFORM ondrel_access_row(p_branch, '保存', p_ws);
  RETURN k;
END $f$)sql")
            .arg(TextParameters(), TextColumns(), TextArguments()),
        QStringLiteral(
            R"sql(CREATE OR REPLACE FUNCTION ondrel_memo_update(p_key integer, p_version integer,
    p_date date, %1, p_action text, p_ws text)
RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $f$
DECLARE
  b integer;
BEGIN
  IF p_action NOT IN ('update', 'revert') THEN RAISE EXCEPTION 'not a change: %%', p_action; END IF;
  UPDATE tblDatCommon SET RowVersion = RowVersion + 1, CreDate = p_date, %2
    WHERE MainKey = p_key AND RowVersion = p_version RETURNING KarteNoBranch INTO b;
  IF NOT FOUND THEN RETURN false; END IF;
  PERFORM ondrel_append_revision(p_key, p_action, p_ws);
  PERFORM ondrel_access_row(b, CASE p_action WHEN 'revert' THEN '復元' ELSE '保存' END, p_ws);
  RETURN true;
END $f$)sql")
            .arg(TextParameters(), TextAssignments())
            .replace(QStringLiteral("%%"), QStringLiteral("%")),
        QStringLiteral(
            R"sql(CREATE OR REPLACE FUNCTION ondrel_memo_delete(p_key integer, p_version integer, p_ws text)
RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $f$
DECLARE
  b integer;
BEGIN
  SELECT KarteNoBranch INTO b FROM tblDatCommon WHERE MainKey = p_key AND RowVersion = p_version
    FOR UPDATE;
  IF NOT FOUND THEN RETURN false; END IF;
  PERFORM ondrel_append_revision(p_key, 'delete', p_ws);
  DELETE FROM tblDatCommon WHERE MainKey = p_key;
  PERFORM ondrel_access_row(b, '削除', p_ws);
  RETURN true;
END $f$)sql"),
        QStringLiteral(
            R"sql(CREATE OR REPLACE FUNCTION ondrel_memo_restore(p_revision bigint, p_ws text)
RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $f$
DECLARE
  r tblDatRevision%%ROWTYPE;
BEGIN
  -- One restorer at a time: the memo's absence checked here holds to the insert.
  PERFORM pg_advisory_xact_lock(%1);
  SELECT * INTO r FROM tblDatRevision WHERE RevisionKey = p_revision;
  IF NOT FOUND OR r.Action <> 'delete'
     OR EXISTS (SELECT 1 FROM tblDatRevision WHERE MainKey = r.MainKey AND RevisionKey > p_revision)
     OR EXISTS (SELECT 1 FROM tblDatCommon WHERE MainKey = r.MainKey) THEN
    RETURN false;
  END IF;
  INSERT INTO tblDatCommon (MainKey, FormCode, KarteNo, KarteNoBranch, CreDate, %2, RowVersion)
    VALUES (r.MainKey, r.FormCode, r.KarteNo, r.KarteNoBranch, r.CreDate, %3, r.RowVersion + 1);
  PERFORM ondrel_append_revision(r.MainKey, 'restore', p_ws);
  PERFORM ondrel_access_row(r.KarteNoBranch, '復元', p_ws);
  RETURN true;
END $f$)sql")
            .arg(tables::kRevisionChainLock)
            .arg(TextColumns(), TextColumns(QStringLiteral("r.")))
            .replace(QStringLiteral("%%"), QStringLiteral("%")),
        // Views, reports and the sign-ins come queued with the workstation's
        // time; only those may be written so.
        QStringLiteral(
            R"sql(CREATE OR REPLACE FUNCTION ondrel_access_log(p_at text[], p_chart integer[],
    p_action text[], p_ws text)
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $f$
BEGIN
  IF EXISTS (SELECT 1 FROM unnest(p_action) a WHERE a IS NULL OR (a NOT IN ('表示', '帳票',
      'サインイン', 'ロック', 'サインアウト') AND a NOT LIKE 'サインイン失敗%'
      AND a NOT LIKE '検索（%')) THEN
    RAISE EXCEPTION 'only views, reports, sign-ins and searches are queued';
  END IF;
  INSERT INTO tblAccessLog (At, Person, Workstation, KarteNo, Action)
    SELECT a, ondrel_person(), p_ws, c, x FROM unnest(p_at, p_chart, p_action) AS q(a, c, x);
END $f$)sql"),
    };
}

}  // namespace

const QStringList& ServerRecordEntryPoints() {
    static const QStringList names{
        QStringLiteral("ondrel_memo_insert"), QStringLiteral("ondrel_memo_update"),
        QStringLiteral("ondrel_memo_delete"), QStringLiteral("ondrel_memo_restore"),
        QStringLiteral("ondrel_access_log")};
    return names;
}

QStringList ServerRecordFunctions() {
    QStringList statements;
    for (const char* sql : kDigestHelpers) statements << QString::fromUtf8(sql);
    statements << RecordWriters() << QString::fromUtf8(kAccessRow) << EntryPoints()
               << tables::SearchStatements(Engine::Postgres);
    // A function may be called by anyone unless told otherwise.
    for (const char* f :
         {"ondrel_stored_text", "ondrel_person", "ondrel_append_revision", "ondrel_access_row"})
        statements << QStringLiteral("REVOKE ALL ON FUNCTION %1 FROM PUBLIC").arg(QLatin1String(f));
    for (const QString& f : ServerRecordEntryPoints()) {
        statements << QStringLiteral("REVOKE ALL ON FUNCTION %1 FROM PUBLIC").arg(f)
                   << QStringLiteral("GRANT EXECUTE ON FUNCTION %1 TO ondrel_users").arg(f);
    }
    return statements;
}

namespace {

QString Marks(int n) {
    QStringList m;
    for (int i = 0; i < n; ++i) m << QStringLiteral("?::text");
    return m.join(QStringLiteral(", "));
}

// The one value a function answers; sent with the statements waiting (the
// transaction's BEGIN), in one round trip.
QVariant Answer(DbConnection& cn, const QString& sql, const QVariantList& values,
                bool commits = false) {
    QVariant answer;
    const auto take = [&](const RowReader& row) { answer = row.Value(0); };
    if (commits) {
        ForEachRowAndCommit(cn, sql, values, take);
    } else {
        ForEachRow(cn, sql, values, take);
    }
    return answer;
}

}  // namespace

qint32 ServerInsertMemo(DbConnection& cn, const CommonRecord& r) {
    QVariantList values{r.FormCode, r.KarteNo.value, r.KarteNoBranch.value, SqlDate(r.CreDate)};
    for (const QString& t : r.LText) values << SqlText(t);
    values << Workstation();
    const QVariant key =
        Answer(cn,
               QStringLiteral("Select ondrel_memo_insert(?::integer, ?::integer, ?::integer, "
                              "?::date, %1, ?::text)")
                   .arg(Marks(kCategoryCount)),
               values);
    if (key.isNull()) throw AppError(err::DatabaseBase + 1, QStringLiteral("no key returned"));
    return key.toInt();
}

bool ServerUpdateMemo(DbConnection& cn, const CommonRecord& r, const QString& action,
                      bool commits) {
    QVariantList values{r.MainKey, r.RowVersion, SqlDate(r.CreDate)};
    for (const QString& t : r.LText) values << SqlText(t);
    values << action << Workstation();
    return Answer(cn,
                  QStringLiteral("Select ondrel_memo_update(?::integer, ?::integer, ?::date, %1, "
                                 "?::text, ?::text)")
                      .arg(Marks(kCategoryCount)),
                  values, commits)
        .toBool();
}

bool ServerDeleteMemo(DbConnection& cn, qint32 mainKey, qint32 rowVersion, bool commits) {
    return Answer(cn, QStringLiteral("Select ondrel_memo_delete(?::integer, ?::integer, ?::text)"),
                  {mainKey, rowVersion, Workstation()}, commits)
        .toBool();
}

bool ServerRestoreMemo(DbConnection& cn, qint64 revisionKey) {
    return Answer(cn, QStringLiteral("Select ondrel_memo_restore(?::bigint, ?::text)"),
                  {revisionKey, Workstation()})
        .toBool();
}

std::pair<QString, QVariantList> ServerAccessLog(const QStringList& at, const QList<int>& charts,
                                                 const QStringList& actions) {
    QStringList a, c, x;
    QVariantList values;
    for (const QString& v : at) {
        a << QStringLiteral("?");
        values << v;
    }
    for (const int v : charts) {
        c << QStringLiteral("?");
        values << v;
    }
    for (const QString& v : actions) {
        x << QStringLiteral("?");
        values << v;
    }
    values << Workstation();
    return {QStringLiteral("Select ondrel_access_log(ARRAY[%1]::text[], ARRAY[%2]::integer[], "
                           "ARRAY[%3]::text[], ?::text)")
                .arg(a.join(u','), c.join(u','), x.join(u',')),
            values};
}

}  // namespace ondrel
