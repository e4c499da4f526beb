// The typed server address: which ones the client will talk to, how request
// paths join a base path, and where the web inbox is.

#include "client/endpoint.h"
#include "testsupport.h"

#include <QTest>

namespace {

// `expected` is "-" for no address at all.
struct Address {
    const char *name;
    QString input, expected, path = {};
};

QString shown(const std::optional<QUrl> &url) {
    return url ? url->toString() : QStringLiteral("-");
}

} // namespace

class TestEndpoint : public QObject {
    Q_OBJECT

private slots:
    void resolve_data() {
        testsupport::rows<Address>({
            {"https kept as typed", "https://u:p@zeit.example:8443/zeit/?q=1#f",
             "https://u:p@zeit.example:8443/zeit/?q=1#f"},
            {"https ipv6", "https://[::1]:9/", "https://[::1]:9/"},
            {"https without host", "https://", "https://"},
            {"http loopback with port", "http://127.0.0.1:8080/x", "http://127.0.0.1:8080/x"},
            {"http localhost with user", "http://a@localhost/", "http://a@localhost/"},
            {"leading blank", "  https://zeit.example", "-"},
            {"trailing blank", "https://zeit.example ", "-"},
            {"upper-case scheme", "HTTPS://zeit.example", "-"},
            {"other scheme", "ftp://zeit.example", "-"},
            {"http other host", "http://zeit.example", "-"},
            {"http upper-case host", "http://LOCALHOST", "-"},
            {"http percent-encoded host", "http://local%68ost", "-"},
            {"http ipv6 loopback", "http://[::1]", "-"},
            {"http lookalike host", "http://localhost.evil.com", "-"},
            {"http localhost as user", "http://localhost:80@evil.com", "-"},
            {"http localhost in path", "http:/a://localhost", "-"},
            {"http without authority", "http:localhost", "-"},
        });
    }

    void resolve() {
        FETCH_ROW(Address);
        QCOMPARE(shown(resolveEndpoint(row.input)), row.expected);
    }

    void appendPath_data() {
        testsupport::rows<Address>({
            {"bare host", "https://h", "https://h/api/state", "api/state"},
            {"root", "https://h/", "https://h/api/state", "api/state"},
            {"base path", "https://h/zeit", "https://h/zeit/api/state", "api/state"},
            {"base path with slash", "https://h/zeit/", "https://h/zeit/api/state", "api/state"},
            {"several slashes", "https://h/zeit//", "https://h/zeit/api/state", "/api/state"},
            {"query stays", "https://h/zeit?x=1", "https://h/zeit/api/state?x=1", "api/state"},
            {"encoded base path kept", "https://h/a%2Fb", "https://h/a%2Fb/api/state", "api/state"},
            {"no host", "https:", "https:/api/state", "api/state"},
        });
    }

    void appendPath() {
        FETCH_ROW(Address);
        const QUrl base(row.input, QUrl::StrictMode);
        QCOMPARE(::appendPath(base, row.path).toString(QUrl::FullyEncoded), row.expected);
    }

    void inboxURL_data() {
        testsupport::rows<Address>({
            {"path, query and fragment dropped", "https://h/zeit/app?x=1#top",
             "https://h/?tab=inbox"},
            {"authority kept", "https://u:p@h:8443/z", "https://u:p@h:8443/?tab=inbox"},
            {"https without host", "https://", "https:///?tab=inbox"},
            {"invalid base", "https://h:abc", "-"},
            {"relative base", "zeit", "-"},
        });
    }

    void inboxURL() {
        FETCH_ROW(Address);
        QCOMPARE(shown(inboxURLFor(QUrl(row.input, QUrl::StrictMode))), row.expected);
    }
};

QTEST_GUILESS_MAIN(TestEndpoint)
#include "tst_endpoint.moc"
