#include "core/db_target.h"

#include <QUrl>
#include <QUrlQuery>
#include <algorithm>

namespace ondrel {

namespace {

bool IsServerUri(const QString& systemDb) {
    return systemDb.startsWith(QStringLiteral("postgresql://"), Qt::CaseInsensitive) ||
           systemDb.startsWith(QStringLiteral("postgres://"), Qt::CaseInsensitive);
}

}  // namespace

DbTarget DbTarget::Of(const QString& systemDb) {
    DbTarget t;
    t.text_ = systemDb;
    t.isServer_ = IsServerUri(systemDb);
    if (t.isServer_) t.server_ = ParseServerUri(systemDb, &t.problem_);
    return t;
}

std::optional<ServerTarget> ParseServerUri(const QString& uri, QString* error) {
    auto fail = [&](const QString& why) -> std::optional<ServerTarget> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (!IsServerUri(uri))
        return fail(QStringLiteral("postgresql:// で始まる URI ではありません。"));
    // libpq takes a socket folder as a percent-encoded host
    // ("postgresql://%2Frun%2Fpostgresql/ondrel"); QUrl wants a host name.
    QString text = uri;
    QString socketFolder;
    const qsizetype authority = text.indexOf(QStringLiteral("://")) + 3;
    qsizetype authorityEnd = authority;
    while (authorityEnd < text.size() && text[authorityEnd] != u'/' && text[authorityEnd] != u'?')
        ++authorityEnd;
    const qsizetype hostStart = std::max(authority, text.lastIndexOf(u'@', authorityEnd - 1) + 1);
    // Several servers, tried in turn ("postgresql://a:5432,b:5432/ondrel"): a
    // primary and its standby. libpq takes the lists as they are.
    QStringList hostList, portList;
    if (text.mid(hostStart, authorityEnd - hostStart).contains(u',')) {
        for (const QString& entry : text.mid(hostStart, authorityEnd - hostStart).split(u',')) {
            const qsizetype colon = entry.lastIndexOf(u':');
            const bool bracketed = entry.startsWith(u'[');
            const bool hasPort = colon >= 0 && (!bracketed || colon > entry.indexOf(u']'));
            QString host =
                QUrl::fromPercentEncoding((hasPort ? entry.left(colon) : entry).toUtf8());
            if (bracketed) host = host.mid(1, host.size() - 2);
            const QString port = hasPort ? entry.mid(colon + 1) : QString();
            bool ok = port.isEmpty();
            if (!ok) port.toInt(&ok);
            if (host.isEmpty() || !ok || host.contains(u' ') || host.contains(u';'))
                return fail(QStringLiteral("URI のサーバーの並びが正しくありません: ") + entry);
            hostList << host;
            portList << port;
        }
        text.replace(hostStart, authorityEnd - hostStart, QStringLiteral("localhost"));
    } else if (text.mid(hostStart, 3).compare(QStringLiteral("%2F"), Qt::CaseInsensitive) == 0) {
        qsizetype hostEnd = text.indexOf(u':', hostStart);
        if (hostEnd < 0 || hostEnd > authorityEnd) hostEnd = authorityEnd;
        socketFolder = QUrl::fromPercentEncoding(text.mid(hostStart, hostEnd - hostStart).toUtf8());
        text.replace(hostStart, hostEnd - hostStart, QStringLiteral("localhost"));
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return fail(QStringLiteral("URI の書き方が正しくありません: ") + url.errorString());
    if (!url.password().isEmpty()) {
        return fail(QStringLiteral("URI にパスワードは書けません。~/.pgpass などを使って下さい。"));
    }
    ServerTarget t;
    t.host = !hostList.isEmpty()      ? hostList.join(u',')
             : socketFolder.isEmpty() ? url.host(QUrl::FullyDecoded)
                                      : socketFolder;
    t.port = hostList.isEmpty() ? url.port(-1) : -1;
    QStringList options;
    if (std::any_of(portList.begin(), portList.end(),
                    [](const QString& p) { return !p.isEmpty(); }))
        options << QStringLiteral("port=") + portList.join(u',');
    t.database = url.path(QUrl::FullyDecoded).mid(1);
    t.user = url.userName(QUrl::FullyDecoded);
    bool timeoutGiven = false;
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key == u"password") {
            return fail(
                QStringLiteral("URI にパスワードは書けません。~/.pgpass などを使って下さい。"));
        }
        if (value.contains(u';') || value.contains(u' ') || key.contains(u'='))
            return fail(QStringLiteral("URI の値に使えない文字があります: ") + key);
        if (key == u"host") {
            t.host = value;  // a socket folder: ?host=/run/postgresql
        } else if (key == u"port" && value.contains(u',')) {
            for (const QString& p : value.split(u',')) {
                bool ok = p.isEmpty();
                if (!ok) p.toInt(&ok);
                if (!ok) return fail(QStringLiteral("ポート番号が数字ではありません: ") + value);
            }
            t.port = -1;
            options.removeIf(
                [](const QString& o) { return o.startsWith(QStringLiteral("port=")); });
            options << QStringLiteral("port=") + value;
        } else if (key == u"port") {
            bool ok = false;
            t.port = value.toInt(&ok);
            if (!ok) return fail(QStringLiteral("ポート番号が数字ではありません: ") + value);
        } else if (key == u"dbname") {
            t.database = value;
        } else if (key == u"user") {
            t.user = value;
        } else {
            timeoutGiven = timeoutGiven || key == u"connect_timeout";
            options << key + u'=' + value;
        }
    }
    // A server that does not answer must never freeze the window for long.
    if (!timeoutGiven) options << QStringLiteral("connect_timeout=5");
    t.options = options.join(u';');
    t.shown = (t.host.isEmpty() ? QStringLiteral("localhost") : t.host) +
              (t.port > 0 ? u':' + QString::number(t.port) : QString()) + u'/' + t.database;
    return t;
}

}  // namespace ondrel
