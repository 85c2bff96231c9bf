#include "server_uri.h"

#include <QUrl>
#include <QUrlQuery>

namespace ondrel {

bool IsServerUri(const QString& systemDb) {
    return systemDb.startsWith(QStringLiteral("postgresql://"), Qt::CaseInsensitive) ||
           systemDb.startsWith(QStringLiteral("postgres://"), Qt::CaseInsensitive);
}

std::optional<ServerTarget> ParseServerUri(const QString& uri, QString* error) {
    auto fail = [&](const QString& why) -> std::optional<ServerTarget> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (!IsServerUri(uri))
        return fail(QStringLiteral("postgresql:// で始まる URI ではありません。"));
    const QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid())
        return fail(QStringLiteral("URI の書き方が正しくありません: ") + url.errorString());
    if (!url.password().isEmpty()) {
        return fail(QStringLiteral("URI にパスワードは書けません。~/.pgpass などを使って下さい。"));
    }
    ServerTarget t;
    t.host = url.host(QUrl::FullyDecoded);
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
