#include "client/endpoint.h"

namespace {

// The host exactly as typed in "//userinfo@host:port/..." (what follows the scheme's
// ":"), or empty when there is no authority. QUrl would hand it back lower-cased and
// percent-decoded.
QStringView rawHost(QStringView afterScheme) {
    if (!afterScheme.startsWith(u"//"))
        return {};
    QStringView authority = afterScheme.mid(2);
    for (const QChar end : {u'/', u'?', u'#'}) {
        const qsizetype at = authority.indexOf(end);
        if (at >= 0)
            authority.truncate(at);
    }
    const qsizetype at = authority.lastIndexOf(u'@');
    QStringView host = at >= 0 ? authority.mid(at + 1) : authority;
    const qsizetype colon = host.indexOf(u':');
    return colon >= 0 ? host.left(colon) : host;
}

} // namespace

std::optional<QUrl> resolveEndpoint(const QString &serverURL) {
    // Scheme and host are compared as typed: QUrl lower-cases both, and "HTTPS://" or
    // "http://LOCALHOST" must not count. A leading blank leaves no scheme at all.
    const bool https = serverURL.startsWith(u"https:");
    if (!https && !serverURL.startsWith(u"http:"))
        return std::nullopt;
    const QUrl url(serverURL, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    if (https)
        return url;
    const QStringView host = rawHost(QStringView(serverURL).mid(5));
    if ((host == u"localhost" || host == u"127.0.0.1") && url.host() == host)
        return url;
    return std::nullopt;
}

QUrl appendPath(const QUrl &base, const QString &path) {
    QString joined = base.path(QUrl::FullyEncoded);
    while (joined.endsWith(u'/'))
        joined.chop(1);
    QStringView tail(path);
    while (tail.startsWith(u'/'))
        tail = tail.mid(1);
    joined += u'/' + QString::fromLatin1(QUrl::toPercentEncoding(tail.toString(), "/"));
    QUrl url = base; // query and fragment stay where they are
    url.setPath(joined, QUrl::TolerantMode);
    return url;
}

std::optional<QUrl> inboxURLFor(const QUrl &base) {
    if (!base.isValid() || base.isRelative())
        return std::nullopt;
    const QUrl inbox = base.resolved(QUrl(QStringLiteral("/?tab=inbox")));
    if (!inbox.isValid())
        return std::nullopt;
    return inbox;
}
