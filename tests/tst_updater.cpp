// The update checker against the devserver's feed over real HTTP, and the
// version rules it decides by.

#include "app/updater.h"
#include "devserver.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using Outcome = UpdateResult::Outcome;
Q_DECLARE_METATYPE(Outcome)

namespace {

// A feed with the given <item> bodies.
QByteArray feed(const QList<QByteArray> &items) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<rss version=\"2.0\" "
                     "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
                     "<channel><title>velmora Zeit</title>";
    for (const QByteArray &item : items)
        xml += "<item>" + item + "</item>";
    return xml + "</channel></rss>";
}

QByteArray item(const QByteArray &version, const QByteArray &link = {}) {
    QByteArray text =
        "<title>Version " + version + "</title><sparkle:version>" + version + "</sparkle:version>";
    if (!link.isEmpty())
        text += "<link>" + link + "</link>";
    return text;
}

UpdateResult checkOnce(Updater &updater) {
    auto result = std::make_shared<std::optional<UpdateResult>>();
    [](Updater *u, std::shared_ptr<std::optional<UpdateResult>> out) -> QCoro::Task<> {
        *out = co_await u->check();
    }(&updater, result);
    if (!QTest::qWaitFor([&] { return result->has_value(); }, 20000))
        return UpdateResult{Outcome::Failed, {}, {}, QStringLiteral("(keine Antwort)")};
    return **result;
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

public Q_SLOTS:
    // Stands in for the browser.
    void openUrl(const QUrl &url) { m_opened.append(url); }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void compareVersions_data();
    void compareVersions();
    void parseItemFields();

    void check_data();
    void check();
    void brokenFeed_data();
    void brokenFeed();
    void refusesPlainHttpElsewhere();

    void buttonShowsOutcome_data();
    void buttonShowsOutcome();
    void downloadOpensPage();
    void automaticCheckShowsOnlyNewer_data();
    void automaticCheckShowsOnlyNewer();
    void goneBeforeTheAnswer();

private:
    QUrl feedUrl() const { return QUrl(m_server->baseUrl() + QStringLiteral("/appcast.xml")); }

    std::unique_ptr<DevServer> m_server;
    QList<QUrl> m_opened;
};

void TestUpdater::initTestCase() {
    m_server = std::make_unique<DevServer>();
    QVERIFY(m_server->start());
}

void TestUpdater::init() {
    m_server->clearFaults();
    m_server->setAppcastVersion(QStringLiteral("1.0.0"));
    m_server->clearRequests();
    m_opened.clear();
}

void TestUpdater::cleanup() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(m_server->surprises(), QStringList());
}

void TestUpdater::compareVersions_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected"); // 2: not comparable

    QTest::newRow("equal") << "1.0.0"
                           << "1.0.0" << 0;
    QTest::newRow("missing parts are zero") << "1.0"
                                            << "1.0.0" << 0;
    QTest::newRow("single part") << "2"
                                 << "1.9.9" << 1;
    QTest::newRow("numeric, not text") << "1.10.0"
                                       << "1.9.2" << 1;
    QTest::newRow("older patch") << "1.2.3"
                                 << "1.2.4" << -1;
    QTest::newRow("extra non-zero part") << "1.0.0.1"
                                         << "1.0" << 1;
    QTest::newRow("leading zeros") << "1.02"
                                   << "1.2" << 0;
    QTest::newRow("large parts") << "2024.123456789"
                                 << "2024.99" << 1;
    QTest::newRow("empty") << ""
                           << "1.0" << 2;
    QTest::newRow("suffix") << "1.2.0-beta"
                            << "1.0" << 2;
    QTest::newRow("leading v") << "v1.2"
                               << "1.0" << 2;
    QTest::newRow("double dot") << "1..2"
                                << "1.0" << 2;
    QTest::newRow("trailing dot") << "1.2."
                                  << "1.0" << 2;
    QTest::newRow("too long to be a number") << "1.1234567890"
                                             << "1.0" << 2;
    QTest::newRow("blank inside") << "1. 2"
                                  << "1.0" << 2;
    QTest::newRow("other digits") << "١.٢"
                                  << "1.0" << 2;
}

void TestUpdater::compareVersions() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    const std::optional<int> forward = ::compareVersions(a, b);
    const std::optional<int> backward = ::compareVersions(b, a);
    if (expected == 2) {
        QVERIFY(!forward);
        QVERIFY(!backward);
        return;
    }
    QVERIFY(forward && backward);
    QCOMPARE(*forward, expected);
    QCOMPARE(*backward, -expected);
}

void TestUpdater::parseItemFields() {
    // Elements win over the enclosure's attributes, whatever comes first.
    const QByteArray xml = feed({
        "<enclosure url=\"https://example.org/f-2.tar.gz\" sparkle:version=\"9.9\" "
        "sparkle:shortVersionString=\"9.9 beta\"/>"
        "<sparkle:version>2.0.1</sparkle:version>"
        "<sparkle:shortVersionString>2.0.1 (Herbst)</sparkle:shortVersionString>"
        "<link>https://example.org/download</link><description><![CDATA[<p>Neu</p>]]>"
        "</description>",
        "<enclosure url=\"https://example.org/f-3.tar.gz\" sparkle:version=\"3.0\"/>",
        "<link>javascript:alert(1)</link><enclosure url=\"file:///etc/passwd\" "
        "sparkle:version=\"4.0\"/>",
    });
    const QList<AppcastItem> items = parseAppcast(xml);
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0].version, QStringLiteral("2.0.1"));
    QCOMPARE(items[0].displayVersion(), QStringLiteral("2.0.1 (Herbst)"));
    QCOMPARE(items[0].downloadUrl(), QUrl(QStringLiteral("https://example.org/download")));
    QCOMPARE(items[1].version, QStringLiteral("3.0"));
    QCOMPARE(items[1].displayVersion(), QStringLiteral("3.0"));
    // Without a page the file itself is offered.
    QCOMPARE(items[1].downloadUrl(), QUrl(QStringLiteral("https://example.org/f-3.tar.gz")));
    // Nothing but web addresses is ever opened.
    QCOMPARE(items[2].downloadUrl(), QUrl());
}

void TestUpdater::check_data() {
    QTest::addColumn<QString>("current");
    QTest::addColumn<QByteArray>("body"); // empty: the server's own feed for `offered`
    QTest::addColumn<QString>("offered");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("version");

    QTest::newRow("newer") << "1.0.0" << QByteArray() << "1.2.0" << Outcome::NewerAvailable
                           << "1.2.0";
    QTest::newRow("same") << "1.0.0" << QByteArray() << "1.0.0" << Outcome::UpToDate << "1.0.0";
    QTest::newRow("same, shorter")
        << "1.0.0" << QByteArray() << "1.0" << Outcome::UpToDate << "1.0.0";
    QTest::newRow("older") << "1.0.0" << QByteArray() << "0.9.9" << Outcome::UpToDate << "1.0.0";
    QTest::newRow("ten after nine")
        << "1.9.2" << QByteArray() << "1.10.0" << Outcome::NewerAvailable << "1.10.0";
    QTest::newRow("newest item wins, not the first")
        << "1.0.0" << feed({item("1.1.0"), item("1.3.0"), item("1.2.0")}) << QString()
        << Outcome::NewerAvailable << "1.3.0";
    QTest::newRow("items without a usable version are passed over")
        << "1.0.0" << feed({item("1.5-rc1"), "<title>ohne Version</title>", item("1.4")})
        << QString() << Outcome::NewerAvailable << "1.4";
    QTest::newRow("shown version is the short one")
        << "1.0.0"
        << feed({"<sparkle:version>1.1.0</sparkle:version>"
                 "<sparkle:shortVersionString>1.1</sparkle:shortVersionString>"})
        << QString() << Outcome::NewerAvailable << "1.1";
    QTest::newRow("version only on the enclosure")
        << "1.0.0"
        << feed({"<enclosure url=\"https://example.org/x.tar.gz\" sparkle:version=\"1.0.1\"/>"})
        << QString() << Outcome::NewerAvailable << "1.0.1";
}

void TestUpdater::check() {
    QFETCH(QString, current);
    QFETCH(QByteArray, body);
    QFETCH(QString, offered);
    QFETCH(Outcome, outcome);
    QFETCH(QString, version);
    if (body.isEmpty())
        m_server->setAppcastVersion(offered);
    else
        m_server->setAppcastBody(body);

    Updater updater(feedUrl(), current);
    const UpdateResult result = checkOnce(updater);
    QCOMPARE(result.errorText, QString());
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.version, version);
    QCOMPARE(m_server->requestsTo(QStringLiteral("/appcast.xml")).size(), 1);
    if (body.isEmpty() && outcome == Outcome::NewerAvailable)
        QVERIFY(result.downloadUrl.toString().endsWith(QLatin1String("/download")));
}

void TestUpdater::brokenFeed_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // the whole text, or how it begins

    const QString prefix = QStringLiteral("Die Suche nach Updates ist fehlgeschlagen. ");
    QTest::newRow("HTTP 500") << QByteArray("kaputt") << 500
                              << prefix + QStringLiteral("Serverfehler 500.");
    QTest::newRow("HTTP 404") << QByteArray() << 404
                              << prefix + QStringLiteral("Serverfehler 404.");
    QTest::newRow("garbage") << QByteArray("\x01\x02 kein XML") << 0
                             << prefix + QStringLiteral("Die Update-Informationen sind kein "
                                                        "gültiges XML (Zeile 1, Spalte 1).");
    QTest::newRow("cut off") << feed({item("2.0")}).left(120) << 0
                             << prefix + QStringLiteral("Die Update-Informationen sind kein "
                                                        "gültiges XML (Zeile 2");
    QTest::newRow("rubbish after the feed")
        << feed({item("2.0")}) + "<rss/>" << 0
        << prefix + QStringLiteral("Die Update-Informationen sind kein gültiges XML (Zeile 2");
    QTest::newRow("HTML page") << QByteArray("<html><body>Wartung</body></html>") << 0
                               << prefix + QStringLiteral(
                                               "Die Update-Informationen sind kein RSS-Feed.");
    QTest::newRow("empty body") << QByteArray("") << 0
                                << prefix + QStringLiteral("Die Update-Informationen sind kein "
                                                           "gültiges XML (Zeile 1, Spalte 0).");
    QTest::newRow("no items") << feed({}) << 0
                              << prefix + QStringLiteral(
                                              "Die Update-Informationen enthalten keine Version.");
    QTest::newRow("no usable version")
        << feed({item("neu"), item("")}) << 0
        << prefix + QStringLiteral("Die Update-Informationen enthalten keine gültige "
                                   "Versionsnummer.");
}

void TestUpdater::brokenFeed() {
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, error);
    Fault fault;
    fault.status = status;
    fault.body = body;
    fault.rawBody = status == 0;
    fault.contentType = QStringLiteral("application/xml");
    m_server->setFault(QStringLiteral("/appcast.xml"), fault);

    Updater updater(feedUrl(), QStringLiteral("1.0.0"));
    const UpdateResult result = checkOnce(updater);
    QCOMPARE(result.outcome, Outcome::Failed);
    if (error.endsWith(u'.'))
        QCOMPARE(result.errorText, error);
    else
        QVERIFY2(result.errorText.startsWith(error), qPrintable(result.errorText));
}

void TestUpdater::refusesPlainHttpElsewhere() {
    Updater updater(QUrl(QStringLiteral("http://updates.example.org/appcast.xml")),
                    QStringLiteral("1.0.0"));
    const UpdateResult result = checkOnce(updater);
    QCOMPARE(result.outcome, Outcome::Failed);
    QVERIFY2(result.errorText.contains(QLatin1String("nur https")), qPrintable(result.errorText));
}

void TestUpdater::buttonShowsOutcome_data() {
    QTest::addColumn<QString>("offered");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("buttons");

    QTest::newRow("up to date") << "1.0.0" << 0
                                << "VelmoraTime ist auf dem neuesten Stand (Version 1.0.0)."
                                << QStringList{QStringLiteral("OK")};
    QTest::newRow("newer") << "1.1.0" << 0 << "Version 1.1.0 ist verfügbar."
                           << QStringList{QStringLiteral("Herunterladen"),
                                          QStringLiteral("Später")};
    QTest::newRow("failed") << "1.0.0" << 503
                            << "Die Suche nach Updates ist fehlgeschlagen. Serverfehler 503."
                            << QStringList{QStringLiteral("OK")};
}

void TestUpdater::buttonShowsOutcome() {
    QFETCH(QString, offered);
    QFETCH(int, status);
    QFETCH(QString, text);
    QFETCH(QStringList, buttons);
    m_server->setAppcastVersion(offered);
    if (status) {
        Fault fault;
        fault.status = status;
        m_server->setFault(QStringLiteral("/appcast.xml"), fault);
    }

    Updater updater(feedUrl(), QStringLiteral("1.0.0"));
    QSignalSpy finished(&updater, &Updater::checkFinished);
    updater.checkForUpdates();
    // A second press while the first runs sends no second request.
    updater.checkForUpdates();
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][1].toBool(), true);
    QCOMPARE(m_server->requestsTo(QStringLiteral("/appcast.xml")).size(), 1);

    const QPointer<QMessageBox> box = updater.outcomeWindow();
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QCOMPARE(box->windowModality(), Qt::NonModal);
    QCOMPARE(box->text(), text);
    QStringList labels;
    for (QAbstractButton *button : box->buttons())
        labels.append(button->text().remove(u'&'));
    labels.sort();
    buttons.sort();
    QCOMPARE(labels, buttons);

    // Asking again replaces the window rather than stacking a second one.
    updater.checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
    QVERIFY(updater.outcomeWindow());
    QVERIFY(updater.outcomeWindow()->isVisible());
    QTRY_VERIFY(!box || !box->isVisible());
}

void TestUpdater::downloadOpensPage() {
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    m_server->setAppcastVersion(QStringLiteral("2.0.0"));
    Updater updater(feedUrl(), QStringLiteral("1.0.0"));
    QSignalSpy finished(&updater, &Updater::checkFinished);
    updater.checkForUpdates();
    QVERIFY(finished.wait(20000));
    QMessageBox *box = updater.outcomeWindow();
    QVERIFY(box);
    QAbstractButton *download = nullptr;
    for (QAbstractButton *button : box->buttons()) {
        if (button->text().remove(u'&') == QLatin1String("Herunterladen"))
            download = button;
    }
    QVERIFY(download);
    download->click();
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened[0].path(), QStringLiteral("/download"));
    QCOMPARE(m_opened[0].port(), m_server->port());
}

void TestUpdater::automaticCheckShowsOnlyNewer_data() {
    QTest::addColumn<QString>("offered");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("shown");

    QTest::newRow("same") << "1.0.0" << 0 << false;
    QTest::newRow("failed") << "1.0.0" << 500 << false;
    QTest::newRow("newer") << "1.0.1" << 0 << true;
}

void TestUpdater::automaticCheckShowsOnlyNewer() {
    QFETCH(QString, offered);
    QFETCH(int, status);
    QFETCH(bool, shown);
    m_server->setAppcastVersion(offered);
    if (status) {
        Fault fault;
        fault.status = status;
        m_server->setFault(QStringLiteral("/appcast.xml"), fault);
    }
    Updater updater(feedUrl(), QStringLiteral("1.0.0"));
    QSignalSpy finished(&updater, &Updater::checkFinished);
    updater.start();
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished[0][1].toBool(), shown);
    QCOMPARE(updater.outcomeWindow() != nullptr, shown);
}

void TestUpdater::goneBeforeTheAnswer() {
    Fault slow;
    slow.delayMs = 300;
    m_server->setFault(QStringLiteral("/appcast.xml"), slow);
    {
        Updater updater(feedUrl(), QStringLiteral("1.0.0"));
        updater.checkForUpdates();
        QTRY_COMPARE(m_server->requestsTo(QStringLiteral("/appcast.xml")).size(), 1);
    }
    // The answer arrives for nobody; nothing may touch the gone updater.
    QTest::qWait(600);
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows)
        QVERIFY(!window->isVisible());
}

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
