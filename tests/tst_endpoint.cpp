// The typed server address: which ones the client will talk to, how request
// paths join a base path, and where the web inbox is.

#include "client/endpoint.h"

#include <QTest>

namespace {
// One row of strings; an empty `expected` means no address at all.
void row(const char *name, const char *input, const char *expected, const char *path = "") {
    QTest::newRow(name) << QString::fromUtf8(input) << QString::fromUtf8(path)
                        << QString::fromUtf8(expected);
}

void columns() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
}
} // namespace

class TestEndpoint : public QObject {
    Q_OBJECT

private slots:
    void resolve_data() {
        columns();
        row("https host", "https://zeit.example", "https://zeit.example");
        row("https kept as typed", "https://u:p@zeit.example:8443/zeit/?q=1#f",
            "https://u:p@zeit.example:8443/zeit/?q=1#f");
        row("https ipv6", "https://[::1]:9/", "https://[::1]:9/");
        row("https without host", "https://", "https://");
        row("http localhost", "http://localhost", "http://localhost");
        row("http loopback with port", "http://127.0.0.1:8080/x", "http://127.0.0.1:8080/x");
        row("http localhost with user", "http://a@localhost/", "http://a@localhost/");

        row("empty", "", "");
        row("leading blank", "  https://zeit.example", "");
        row("trailing blank", "https://zeit.example ", "");
        row("no scheme", "zeit.example", "");
        row("upper-case scheme", "HTTPS://zeit.example", "");
        row("other scheme", "ftp://zeit.example", "");
        row("http other host", "http://zeit.example", "");
        row("http upper-case host", "http://LOCALHOST", "");
        row("http percent-encoded host", "http://local%68ost", "");
        row("http ipv6 loopback", "http://[::1]", "");
        row("http lookalike host", "http://localhost.evil.com", "");
        row("http localhost as user", "http://localhost:80@evil.com", "");
        row("http localhost in path", "http:/a://localhost", "");
        row("http without authority", "http:localhost", "");
        row("bad port", "https://zeit.example:abc", "");
        row("space in path", "https://zeit.example/a b", "");
    }

    void resolve() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const std::optional<QUrl> url = resolveEndpoint(input);
        QCOMPARE(url.has_value(), !expected.isEmpty());
        if (url)
            QCOMPARE(url->toString(), expected);
    }

    void appendPath_data() {
        columns();
        row("bare host", "https://h", "https://h/api/state", "api/state");
        row("root", "https://h/", "https://h/api/state", "api/state");
        row("base path", "https://h/zeit", "https://h/zeit/api/state", "api/state");
        row("base path with slash", "https://h/zeit/", "https://h/zeit/api/state", "api/state");
        row("several slashes", "https://h/zeit//", "https://h/zeit/api/state", "/api/state");
        row("query stays", "https://h/zeit?x=1", "https://h/zeit/api/state?x=1", "api/state");
        row("encoded base path kept", "https://h/a%2Fb", "https://h/a%2Fb/api/state", "api/state");
        row("no host", "https:", "https:/api/state", "api/state");
    }

    void appendPath() {
        QFETCH(QString, input);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(::appendPath(QUrl(input, QUrl::StrictMode), path).toString(QUrl::FullyEncoded),
                 expected);
    }

    void inboxURL_data() {
        columns();
        row("bare host", "https://h", "https://h/?tab=inbox");
        row("path, query and fragment dropped", "https://h/zeit/app?x=1#top",
            "https://h/?tab=inbox");
        row("authority kept", "https://u:p@h:8443/z", "https://u:p@h:8443/?tab=inbox");
        row("https without host", "https://", "https:///?tab=inbox");
        row("invalid base", "https://h:abc", "");
        row("relative base", "zeit", "");
    }

    void inboxURL() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const std::optional<QUrl> url = inboxURLFor(QUrl(input, QUrl::StrictMode));
        QCOMPARE(url.has_value(), !expected.isEmpty());
        if (url)
            QCOMPARE(url->toString(), expected);
    }
};

QTEST_GUILESS_MAIN(TestEndpoint)
#include "tst_endpoint.moc"
