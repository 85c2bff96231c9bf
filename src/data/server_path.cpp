#include <dlfcn.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

#include <QDate>
#include <QSqlDriver>
#include <QSqlField>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

#include "core/app_error.h"
#include "core/blocking_call.h"
#include "data/engine_paths.h"
#include "data/japanese_date.h"

namespace ondrel {

namespace {

// A server's lock waits end as a file's do: after the busy timeout, as a
// busy database. A statement never holds the window for long.
QString ServerSessionOptions() {
    // The server's notices ("already exists, skipping") are no news to a user.
    return QStringLiteral(
               "options='-c lock_timeout=%1 -c statement_timeout=30000 "
               "-c client_min_messages=warning'")
        .arg(BusyTimeout().count());
}

// PostgreSQL text cannot hold U+0000: it is stored as kEscape followed by '0',
// and kEscape itself doubled, so every text comes back exactly as it went in.
constexpr char16_t kEscape = u'\uE000';

QString ToServerText(const QString& s) {
    if (!s.contains(QChar(u'\0')) && !s.contains(QChar(kEscape))) return s;
    QString out;
    out.reserve(s.size() + 8);
    for (const QChar ch : s) {
        if (ch == u'\0') {
            out.append(QChar(kEscape)).append(u'0');
        } else if (ch == kEscape) {
            out.append(QChar(kEscape)).append(QChar(kEscape));
        } else {
            out.append(ch);
        }
    }
    return out;
}

QString FromServerText(const QString& s) {
    if (!s.contains(QChar(kEscape))) return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == kEscape && i + 1 < s.size()) {
            ++i;
            out.append(s[i] == u'0' ? QChar(u'\0') : s[i]);
        } else {
            out.append(s[i]);
        }
    }
    return out;
}

// libpq's PQstatus, from the copy the server driver loaded. The program does
// not link libpq itself: it and the libraries it needs would be loaded at
// every start, also on a PC that never talks to a server.
ConnStatusType (*LoadedPQstatus())(const PGconn*) {
    static const auto status = [] {
        void* pq = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
        return pq ? reinterpret_cast<ConnStatusType (*)(const PGconn*)>(::dlsym(pq, "PQstatus"))
                  : nullptr;
    }();
    return status;
}

// The rest of libpq the program calls itself, from the same copy: a
// statement sent with those waiting for it, its answer read as it came.
struct Pq {
    PGresult* (*exec)(PGconn*, const char*);
    ExecStatusType (*resultStatus)(const PGresult*);
    char* (*errorField)(const PGresult*, int);
    char* (*errorMessage)(const PGconn*);
    int (*ntuples)(const PGresult*);
    char* (*getvalue)(const PGresult*, int, int);
    int (*getlength)(const PGresult*, int, int);
    int (*getisnull)(const PGresult*, int, int);
    Oid (*ftype)(const PGresult*, int);
    char* (*cmdTuples)(PGresult*);
    void (*clear)(PGresult*);
    int (*socket)(const PGconn*);
    int (*sendQuery)(PGconn*, const char*);
    int (*consumeInput)(PGconn*);
    PGresult* (*getResult)(PGconn*);
};

const Pq* LoadedPq() {
    static const std::optional<Pq> loaded = []() -> std::optional<Pq> {
        void* lib = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
        if (!lib) return std::nullopt;
        Pq pq{};
        bool all = true;
        auto get = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
            all = all && fn;
        };
        get(pq.exec, "PQexec");
        get(pq.resultStatus, "PQresultStatus");
        get(pq.errorField, "PQresultErrorField");
        get(pq.errorMessage, "PQerrorMessage");
        get(pq.ntuples, "PQntuples");
        get(pq.getvalue, "PQgetvalue");
        get(pq.getlength, "PQgetlength");
        get(pq.getisnull, "PQgetisnull");
        get(pq.ftype, "PQftype");
        get(pq.cmdTuples, "PQcmdTuples");
        get(pq.clear, "PQclear");
        get(pq.socket, "PQsocket");
        get(pq.sendQuery, "PQsendQuery");
        get(pq.consumeInput, "PQconsumeInput");
        get(pq.getResult, "PQgetResult");
        if (!all) return std::nullopt;
        return pq;
    }();
    return loaded ? &*loaded : nullptr;
}

struct PgResultFree {
    void operator()(PGresult* r) const {
        if (r) LoadedPq()->clear(r);
    }
};
using PgResult = std::unique_ptr<PGresult, PgResultFree>;

// A statement's answer waited for at most the deadline: a server that stops
// answering (its process halted, the network gone without a word) would
// hold the window for as long as TCP takes to give up. One thread watches
// every statement under way and, past its deadline, shuts the connection's
// socket, so libpq's wait ends at once as for a lost server.
class StatementDeadline {
  public:
    explicit StatementDeadline(PGconn* conn) {
        const auto limit = ServerDeadline();
        const Pq* pq = LoadedPq();
        if (!conn || !pq || limit.count() <= 0) return;
        const int fd = pq->socket(conn);
        if (fd < 0) return;
        Watch& w = TheWatch();
        std::lock_guard lock(w.m);
        id_ = ++w.next;
        w.entries[id_] = {fd, std::chrono::steady_clock::now() + limit, false};
        w.cv.notify_one();
    }
    ~StatementDeadline() { (void)Fired(); }
    StatementDeadline(const StatementDeadline&) = delete;
    StatementDeadline& operator=(const StatementDeadline&) = delete;

    // Whether the deadline passed (the socket was shut); the watch ends here.
    bool Fired() {
        if (id_ == 0) return fired_;
        Watch& w = TheWatch();
        std::lock_guard lock(w.m);
        const auto it = w.entries.find(id_);
        fired_ = it != w.entries.end() && it->second.fired;
        if (it != w.entries.end()) w.entries.erase(it);
        id_ = 0;
        return fired_;
    }

  private:
    struct Entry {
        int fd;
        std::chrono::steady_clock::time_point until;
        bool fired;
    };
    struct Watch {
        std::mutex m;
        std::condition_variable cv;
        std::map<quint64, Entry> entries;
        quint64 next = 0;
    };
    // Made once and never destroyed: the thread outlives static destruction.
    static Watch& TheWatch() {
        static Watch* const w = [] {
            auto* watch = new Watch;
            std::thread([watch] {
                std::unique_lock lock(watch->m);
                for (;;) {
                    auto earliest = std::chrono::steady_clock::time_point::max();
                    const auto now = std::chrono::steady_clock::now();
                    for (auto& [id, e] : watch->entries) {
                        if (e.fired) continue;
                        if (e.until <= now) {
                            ::shutdown(e.fd, SHUT_RDWR);
                            e.fired = true;
                        } else {
                            earliest = std::min(earliest, e.until);
                        }
                    }
                    if (earliest == std::chrono::steady_clock::time_point::max())
                        watch->cv.wait(lock);
                    else
                        watch->cv.wait_until(lock, earliest);
                }
            }).detach();
            return watch;
        }();
        return *w;
    }

    quint64 id_ = 0;
    bool fired_ = false;
};

// The server driver's libpq connection; null on a file. Qt names the type
// by libpq's struct tag.
PGconn* ServerHandle(const QSqlDatabase& db) {
    const QVariant handle = db.driver()->handle();
    const char* type = handle.typeName();
    if (qstrcmp(type, "pg_conn*") != 0 && qstrcmp(type, "PGconn*") != 0) return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

// Whether the server is gone from under this connection (a restart, a
// network fault): libpq marks the connection bad after the failed call.
bool ServerLost(const QSqlDatabase& db) {
    if (!db.isOpen()) return true;
    PGconn* conn = ServerHandle(db);
    const auto status = LoadedPQstatus();
    return !conn || (status && status(conn) == CONNECTION_BAD);
}

// The server ended our connection (an immediate shutdown, a crash, a
// terminated backend) or cannot take it now: as a lost connection, even
// while libpq still reports it open. A failure without a SQLSTATE is
// libpq's own, of the connection ("server closed the connection
// unexpectedly").
bool ServerGone(const QString& state) {
    return state.isEmpty() || state.startsWith(u"08") || state == u"57P01" || state == u"57P02" ||
           state == u"57P03";
}

// The statement with each "?" outside quotes replaced by its value as the
// driver writes a literal (escaped by libpq): one round trip, where a
// prepared statement takes three.
QString WithValues(const QSqlDriver* driver, const QString& sql, const QVariantList& values) {
    QString out;
    out.reserve(sql.size() + values.size() * 8);
    qsizetype next = 0;
    QChar quote;
    for (const QChar ch : sql) {
        if (!quote.isNull()) {
            if (ch == quote) quote = QChar();
            out.append(ch);
        } else if (ch == u'\'' || ch == u'"') {
            quote = ch;
            out.append(ch);
        } else if (ch == u'?') {
            if (next >= values.size())
                throw AppError(err::InvalidProcedureCall, QStringLiteral("too few values"));
            QVariant v = values[next++];
            if (v.typeId() == QMetaType::QString && !v.isNull()) v = ToServerText(v.toString());
            QSqlField field(QString(), v.metaType());
            field.setValue(v);
            out.append(driver->formatValue(field));
        } else {
            out.append(ch);
        }
    }
    if (next != values.size())
        throw AppError(err::InvalidProcedureCall, QStringLiteral("too many values"));
    return out;
}

// A server's row as the Qt driver decodes it: the type from the column's
// type (these are the schema's types), a text unescaped as ValueAt does.
class PgRow final : public RowReader {
  public:
    PgRow(const Pq& pq, const PGresult* r) : pq_(pq), r_(r) {}
    int row = 0;

    QVariant Value(int column) const override {
        const Oid oid = pq_.ftype(r_, column);
        const QMetaType type = TypeOf(oid);
        if (pq_.getisnull(r_, row, column)) return QVariant(type);
        const char* v = pq_.getvalue(r_, row, column);
        const QByteArray raw = QByteArray::fromRawData(v, pq_.getlength(r_, row, column));
        switch (type.id()) {
            case QMetaType::Bool:
                return QVariant(v[0] == 't');
            case QMetaType::LongLong:
                // Unsigned when not negative, as the driver gives it.
                return v[0] == '-' ? QVariant(raw.toLongLong()) : QVariant(raw.toULongLong());
            case QMetaType::Int:
                return QVariant(raw.toInt());
            case QMetaType::Double:
                return QVariant(raw.toDouble());
            case QMetaType::QDate: {
                // The server writes ISO dates (the driver sets DateStyle ISO),
                // the stored form a file's own parser reads fastest.
                const QString text = QString::fromLatin1(raw);
                if (text.size() == 10 && text[4] == u'-') return QVariant(ParseShortDate(text));
                return QVariant(QDate::fromString(text, Qt::ISODate));
            }
            default:
                return FromServerText(QString::fromUtf8(raw));
        }
    }
    QString Text(int column) const override {
        if (TypeOf(pq_.ftype(r_, column)).id() != QMetaType::QString)
            return Value(column).toString();
        if (pq_.getisnull(r_, row, column)) return {};
        return FromServerText(
            QString::fromUtf8(pq_.getvalue(r_, row, column), pq_.getlength(r_, row, column)));
    }

  private:
    static QMetaType TypeOf(Oid oid) {
        switch (oid) {
            case 16:  // bool
                return QMetaType::fromType<bool>();
            case 20:  // int8
                return QMetaType::fromType<qlonglong>();
            case 21:  // int2
            case 23:  // int4
            case 26:  // oid
                return QMetaType::fromType<int>();
            case 700:   // float4
            case 701:   // float8
            case 1700:  // numeric
                return QMetaType::fromType<double>();
            case 1082:  // date
                return QMetaType::fromType<QDate>();
            default:
                return QMetaType::fromType<QString>();
        }
    }

    const Pq& pq_;
    const PGresult* r_;
};

}  // namespace

// A server's statements with those waiting for them, in one round trip.
struct ServerBatch {
    // `kept`: the answer of the statement that many before the last (0: the
    // last one's).
    // `sent`, when given, is set once the text has gone to the server.
    static PgResult Run(DbConnection& cn, const QString& statement, bool commits = false,
                        int kept = 0, bool* sent = nullptr);
    static void Flush(DbConnection& cn) {
        if (!cn.deferred_.isEmpty()) Run(cn, {});
    }
    static void Reconnect(DbConnection& cn, const QSqlError& error, bool retry);
    static void ReconnectIfEnded(DbConnection& cn);
    // The server did not answer within the deadline: the connection is
    // dropped (the next command opens a new one) and the user told.
    [[noreturn]] static void Silent(DbConnection& cn, const QString& detail);
};

void ServerBatch::Silent(DbConnection& cn, const QString& detail) {
    const QString shown = cn.target_.Shown();
    cn.deferred_.clear();
    cn.Release();
    throw DatabaseBusy(
        detail, QStringLiteral("データベースサーバー（%1）が %2 秒待っても応答しないため、"
                               "処理を打ち切りました。\r\n"
                               "画面の内容はそのままです。サーバーとネットワークを確かめてから、"
                               "もう一度実行して下さい。")
                    .arg(shown)
                    .arg((ServerDeadline().count() + 999) / 1000));
}

// The waiting statements and then `statement` as one text; the answer is the
// last statement's, and a failure of any of them is the failure. A kept
// connection the server dropped gets one new connection, unless our
// transaction had begun there or the text commits it (it may have been done).
PgResult ServerBatch::Run(DbConnection& cn, const QString& statement, bool commits, int kept,
                          bool* sent) {
    const Pq* pq = LoadedPq();
    if (!pq) throw AppError(err::CannotCreateObject, QStringLiteral("libpq not loaded"));
    for (int attempt = 0;; ++attempt) {
        if (attempt == 0 && !cn.serverTransaction_) ReconnectIfEnded(cn);
        QStringList parts = cn.deferred_;
        if (!statement.isEmpty()) parts << statement;
        PGconn* conn = ServerHandle(cn.Database());
        StatementDeadline deadline(conn);
        const QByteArray text = parts.join(QStringLiteral(";\n")).toUtf8();
        PGresult* answer = nullptr;
        if (conn && sent) *sent = true;
        if (conn && kept == 0) RunBlockingCall([&] { answer = pq->exec(conn, text.constData()); });
        if (conn && kept > 0) {
            // Each statement's answer in turn: the one wanted, or the first failure.
            RunBlockingCall([&] {
                if (!pq->sendQuery(conn, text.constData())) return;
                std::vector<PGresult*> all;
                while (PGresult* one = pq->getResult(conn)) all.push_back(one);
                for (PGresult* one : all) {
                    const ExecStatusType st = pq->resultStatus(one);
                    if (!answer && st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) answer = one;
                }
                if (!answer && all.size() > size_t(kept)) answer = all[all.size() - 1 - kept];
                for (PGresult* one : all) {
                    if (one != answer) pq->clear(one);
                }
            });
        }
        PgResult r(answer);
        const ExecStatusType status = r ? pq->resultStatus(r.get()) : PGRES_FATAL_ERROR;
        const bool silent = deadline.Fired();
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            cn.deferred_.clear();
            if (cn.inTransaction_) cn.serverTransaction_ = true;
            return r;
        }
        // As the Qt driver words it, so a report reads the same either way.
        QString message = conn ? QString::fromUtf8(pq->errorMessage(conn)) : QString();
        QString state;
        if (r) {
            const char* code = pq->errorField(r.get(), PG_DIAG_SQLSTATE);
            state = QString::fromLatin1(code ? code : "");
            message += u'(' + state + u')';
        }
        const QSqlError error(QStringLiteral("QPSQL: Unable to create query"), message,
                              QSqlError::StatementError, state);
        if (silent) Silent(cn, error.text());
        if (!ServerLost(cn.Database()) && !ServerGone(state)) {
            const QString sent = parts.join(QStringLiteral(";\n"));
            cn.deferred_.clear();
            ThrowDbError(error, Engine::Postgres, sent);
        }
        Reconnect(cn, error, attempt == 0 && !cn.serverTransaction_ && !commits);
    }
}

// An idle connection has nothing to read unless the server ended it (its
// last word, or the socket closed): that is found out before anything is
// sent, so the command goes to a new connection with nothing in doubt, and
// a COMMIT sent with it can be told done or not.
void ServerBatch::ReconnectIfEnded(DbConnection& cn) {
    const Pq* pq = LoadedPq();
    PGconn* conn = ServerHandle(cn.Database());
    if (!conn || !pq) return;
    bool ended = ServerLost(cn.Database());
    if (!ended) {
        pollfd p{pq->socket(conn), POLLIN | POLLRDHUP, 0};
        ended = p.fd < 0 ||
                (::poll(&p, 1, 0) > 0 && ((p.revents & (POLLHUP | POLLRDHUP | POLLERR)) ||
                                          !pq->consumeInput(conn) || ServerLost(cn.Database())));
    }
    if (!ended) return;
    const QString message = QString::fromUtf8(pq->errorMessage(conn));
    Reconnect(cn,
              QSqlError(QStringLiteral("QPSQL: Unable to create query"), message,
                        QSqlError::ConnectionError),
              true);
}

// A kept connection the server dropped (a restart, an idle cut) gets one new
// connection when `retry` allows, with the statements still waiting; else,
// or when the server does not answer, the command ends as for a busy database.
void ServerBatch::Reconnect(DbConnection& cn, const QSqlError& error, bool retry) {
    const DbTarget target = cn.target_;
    const QStringList waiting = cn.deferred_;
    const bool inTransaction = cn.inTransaction_;
    cn.Release();
    if (!retry || !OpenDbConnection(target, cn)) {
        throw DatabaseBusy(error.text(),
                           ServerUnreachableMessage(target.Shown(), error.databaseText()));
    }
    cn.deferred_ = waiting;
    cn.inTransaction_ = inTransaction;
}

QString ServerPath::FromServerText(const QString& s) { return ondrel::FromServerText(s); }

bool ServerPath::Open(const ServerTarget& t, QSqlDatabase& db) {
    db.setHostName(t.host);
    if (t.port > 0) db.setPort(t.port);
    db.setDatabaseName(t.database);
    db.setUserName(t.user);
    QString options = t.options;
    if (!options.contains(QStringLiteral("options="))) options += u';' + ServerSessionOptions();
    // A network that goes silent is noticed within seconds, not TCP's minutes.
    if (!options.contains(QStringLiteral("keepalives")))
        options += QStringLiteral(
            ";keepalives=1;keepalives_idle=5;keepalives_interval=2;"
            "keepalives_count=2");
    if (!options.contains(QStringLiteral("tcp_user_timeout")))
        options += QStringLiteral(";tcp_user_timeout=%1").arg(ServerDeadline().count());
    db.setConnectOptions(options);
    bool opened = false;
    RunBlockingCall([&] { opened = db.open(); });
    if (!opened) {
        const QString reason = db.lastError().databaseText();
        throw DatabaseBusy(reason, ServerUnreachableMessage(t.shown, reason));
    }
    return true;
}

QString ServerPath::Person(QSqlDatabase& db) {
    QSqlQuery q(db);
    q.setForwardOnly(false);
    if (!q.exec(QStringLiteral("Select current_user")) || !q.next())
        ThrowDbError(q.lastError(), Engine::Postgres);
    return q.value(0).toString();
}

void ServerPath::Later(DbConnection& cn, const QString& sql, const QVariantList& values) {
    if (!cn.inTransaction_) {
        Change(cn, sql, values);
        return;
    }
    cn.deferred_ << WithValues(cn.Database().driver(), sql, values);
}

void ServerPath::Begin(DbConnection& cn) {
    // Sent with the transaction's first statement; the server's records
    // name the person signed in here for this transaction only.
    cn.deferred_ << QStringLiteral("BEGIN");
    if (const QString person = SignedInPerson(); !person.isEmpty()) {
        cn.deferred_ << WithValues(cn.Database().driver(),
                                   QStringLiteral("SELECT set_config('ondrel.staff', ?, true)"),
                                   {person});
    }
    cn.inTransaction_ = true;
}

void ServerPath::Commit(DbConnection& cn) { CommitAfter(cn, {}, {}, {}); }

// The statement, its rows, and the COMMIT in the same round trip: the
// transaction's locks are not held while its answer travels back and forth.
void ServerPath::CommitAfter(DbConnection& cn, const QString& sql, const QVariantList& values,
                             const std::function<void(const RowReader&)>& row) {
    const QString shown = cn.target_.Shown();
    PgResult r;
    bool sent = false;
    try {
        r = sql.isEmpty() ? ServerBatch::Run(cn, QStringLiteral("COMMIT"), true, 0, &sent)
                          : ServerBatch::Run(cn,
                                             WithValues(cn.Database().driver(), sql, values) +
                                                 QStringLiteral(";\nCOMMIT"),
                                             true, 1, &sent);
    } catch (const DatabaseBusy& e) {
        // The connection dropped with the COMMIT on its way: whether it was
        // kept only the server can tell, once it answers again.
        if (sent && !cn.IsOpen()) throw CommitUnanswered(e, shown);
        throw;
    }
    cn.serverTransaction_ = false;
    cn.inTransaction_ = false;
    if (!row) return;
    PgRow reader(*LoadedPq(), r.get());
    for (const int n = LoadedPq()->ntuples(r.get()); reader.row < n; ++reader.row) row(reader);
}

QSqlQuery ServerPath::Execute(DbConnection& cn, const QString& sql, const QVariantList& values) {
    ServerBatch::Flush(cn);
    const QString text = WithValues(cn.Database().driver(), sql, values);
    for (int attempt = 0;; ++attempt) {
        QSqlError error;
        {
            QSqlQuery q(cn.Database());
            // Not forward-only: the driver would fetch a server's rows one
            // message each; the whole result in one answer is several times faster.
            q.setForwardOnly(false);
            StatementDeadline deadline(ServerHandle(cn.Database()));
            bool done = false;
            RunBlockingCall([&] { done = q.exec(text); });
            const bool silent = deadline.Fired();
            if (done) return q;
            error = q.lastError();
            if (silent) {
                q.clear();
                ServerBatch::Silent(cn, error.text());
            }
        }
        if (!ServerLost(cn.Database()) && !ServerGone(error.nativeErrorCode()))
            ThrowDbError(error, Engine::Postgres, text);
        // Not inside a transaction: that one is gone with its connection.
        ServerBatch::Reconnect(cn, error, attempt == 0 && !cn.inTransaction_);
    }
}

int ServerPath::Change(DbConnection& cn, const QString& sql, const QVariantList& values) {
    const PgResult r = ServerBatch::Run(cn, WithValues(cn.Database().driver(), sql, values));
    return QByteArray(LoadedPq()->cmdTuples(r.get())).toInt();
}

void ServerPath::ForEachRow(DbConnection& cn, const QString& sql, const QVariantList& values,
                            const std::function<void(const RowReader&)>& row) {
    // The rows straight from libpq, the statements waiting sent with it.
    const PgResult r = ServerBatch::Run(cn, WithValues(cn.Database().driver(), sql, values));
    PgRow reader(*LoadedPq(), r.get());
    for (const int n = LoadedPq()->ntuples(r.get()); reader.row < n; ++reader.row) row(reader);
}

}  // namespace ondrel
