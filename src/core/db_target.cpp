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
    if (text.mid(hostStart, 3).compare(QStringLiteral("%2F"), Qt::CaseInsensitive) == 0) {
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
    t.host = socketFolder.isEmpty() ? url.host(QUrl::FullyDecoded) : socketFolder;
    t.port = url.port(-1);
    t.database = url.path(QUrl::FullyDecoded).mid(1);
    t.user = url.userName(QUrl::FullyDecoded);
    QStringList options;
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
