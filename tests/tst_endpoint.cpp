#include "client/endpoint.h"

#include <QTest>

class TestEndpoint : public QObject {
    Q_OBJECT

private slots:
    void resolve_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected"); // empty: no base address

        QTest::newRow("https host") << "https://zeit.example"
                                    << "https://zeit.example";
        QTest::newRow("https kept as typed") << "https://u:p@zeit.example:8443/zeit/?q=1#f"
                                             << "https://u:p@zeit.example:8443/zeit/?q=1#f";
        QTest::newRow("https private address") << "https://10.0.0.5"
                                               << "https://10.0.0.5";
        QTest::newRow("https ipv6") << "https://[::1]:9/"
                                    << "https://[::1]:9/";
        QTest::newRow("https without host") << "https://"
                                            << "https://";
        QTest::newRow("https path only") << "https:/zeit"
                                         << "https:/zeit";
        QTest::newRow("https host is lower-cased by the parser") << "https://Zeit.Example"
                                                                 << "https://zeit.example";
        QTest::newRow("http localhost") << "http://localhost"
                                        << "http://localhost";
        QTest::newRow("http loopback with port") << "http://127.0.0.1:8080/x"
                                                 << "http://127.0.0.1:8080/x";
        QTest::newRow("http localhost with user") << "http://a@localhost/"
                                                  << "http://a@localhost/";

        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("leading blank") << "  https://zeit.example"
                                       << "";
        QTest::newRow("trailing blank") << "https://zeit.example "
                                        << "";
        QTest::newRow("no scheme") << "zeit.example"
                                   << "";
        QTest::newRow("upper-case scheme") << "HTTPS://zeit.example"
                                           << "";
        QTest::newRow("mixed-case scheme") << "Https://zeit.example"
                                           << "";
        QTest::newRow("other scheme") << "ftp://zeit.example"
                                      << "";
        QTest::newRow("http other host") << "http://zeit.example"
                                         << "";
        QTest::newRow("http private address") << "http://192.168.1.2"
                                              << "";
        QTest::newRow("http upper-case host") << "http://LOCALHOST"
                                              << "";
        QTest::newRow("http percent-encoded host") << "http://local%68ost"
                                                   << "";
        QTest::newRow("http ipv6 loopback") << "http://[::1]"
                                            << "";
        QTest::newRow("http lookalike host") << "http://localhost.evil.com"
                                             << "";
        QTest::newRow("http localhost as user") << "http://localhost@evil.com"
                                                << "";
        QTest::newRow("http localhost as port user") << "http://localhost:80@evil.com"
                                                     << "";
        QTest::newRow("http localhost in path") << "http:/a://localhost"
                                                << "";
        QTest::newRow("http without authority") << "http:localhost"
                                                << "";
        QTest::newRow("http without host") << "http://"
                                           << "";
        QTest::newRow("bad port") << "https://zeit.example:abc"
                                  << "";
        QTest::newRow("space in path") << "https://zeit.example/a b"
                                       << "";
        QTest::newRow("bad percent escape") << "https://zeit.example/a%zz"
                                            << "";
    }

    void resolve() {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        const std::optional<QUrl> url = resolveEndpoint(typed);
        QCOMPARE(url.has_value(), !expected.isEmpty());
        if (url)
            QCOMPARE(url->toString(), expected);
    }

    void appendPath_data() {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");

        QTest::newRow("bare host") << "https://h"
                                   << "api/state"
                                   << "https://h/api/state";
        QTest::newRow("root") << "https://h/"
                              << "api/state"
                              << "https://h/api/state";
        QTest::newRow("base path") << "https://h/zeit"
                                   << "api/state"
                                   << "https://h/zeit/api/state";
        QTest::newRow("base path with slash") << "https://h/zeit/"
                                              << "api/state"
                                              << "https://h/zeit/api/state";
        QTest::newRow("several slashes") << "https://h/zeit//"
                                         << "/api/state"
                                         << "https://h/zeit/api/state";
        QTest::newRow("port and user") << "http://u@127.0.0.1:8080"
                                       << "api/login"
                                       << "http://u@127.0.0.1:8080/api/login";
        QTest::newRow("query stays") << "https://h/zeit?x=1"
                                     << "api/state"
                                     << "https://h/zeit/api/state?x=1";
        QTest::newRow("encoded base path kept") << "https://h/a%2Fb"
                                                << "api/state"
                                                << "https://h/a%2Fb/api/state";
        QTest::newRow("no host") << "https:"
                                 << "api/state"
                                 << "https:/api/state";
    }

    void appendPath() {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(::appendPath(QUrl(base, QUrl::StrictMode), path).toString(QUrl::FullyEncoded),
                 expected);
    }

    void inboxURL_data() {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("expected"); // empty: none

        QTest::newRow("bare host") << "https://h"
                                   << "https://h/?tab=inbox";
        QTest::newRow("path dropped") << "https://h/zeit/app"
                                      << "https://h/?tab=inbox";
        QTest::newRow("query and fragment dropped") << "https://h/zeit?x=1#top"
                                                    << "https://h/?tab=inbox";
        QTest::newRow("authority kept") << "https://u:p@h:8443/z"
                                        << "https://u:p@h:8443/?tab=inbox";
        QTest::newRow("loopback") << "http://127.0.0.1:8080/x"
                                  << "http://127.0.0.1:8080/?tab=inbox";
        QTest::newRow("invalid base") << "https://h:abc"
                                      << "";
        QTest::newRow("relative base") << "zeit"
                                       << "";
    }

    void inboxURL() {
        QFETCH(QString, base);
        QFETCH(QString, expected);
        const std::optional<QUrl> url = inboxURLFor(QUrl(base, QUrl::StrictMode));
        QCOMPARE(url.has_value(), !expected.isEmpty());
        if (url)
            QCOMPARE(url->toString(), expected);
    }
};

QTEST_GUILESS_MAIN(TestEndpoint)
#include "tst_endpoint.moc"
