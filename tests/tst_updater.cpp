// The update checker against the devserver's feed over real HTTP, and the
// version rules it decides by.

#include "app/updater.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

static QByteArray feed(const QByteArray &items) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak."
           "org/xml-namespaces/sparkle\"><channel><title>velmora Zeit</title>" +
           items + "</channel></rss>";
}

static QByteArray item(const QByteArray &version) {
    return "<item><sparkle:version>" + version + "</sparkle:version></item>";
}

class TestUpdater : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void openUrl(const QUrl &url) { m_opened.append(url); } // stands in for the browser

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init();
    void compareVersions_data();
    void compareVersions();
    void check_data();
    void check();
    void goneBeforeTheAnswer();

private:
    QUrl feedUrl() const { return QUrl(m_server.baseUrl() + u"/appcast.xml"_s); }

    DevServer m_server;
    QList<QUrl> m_opened;
};

void TestUpdater::init() {
    m_server.clearFaults();
    m_server.setAppcastVersion(u"1.0.0"_s);
    m_server.clearRequests();
    QCOMPARE(m_server.surprises(), QStringList());
}

void TestUpdater::compareVersions_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected"); // 2: not comparable
    QTest::newRow("missing parts are zero") << u"1.0"_s << u"1.0.0"_s << 0;
    QTest::newRow("numeric, not text") << u"1.10.0"_s << u"1.9.2"_s << 1;
    QTest::newRow("extra part") << u"1.0.0.1"_s << u"1.0"_s << 1;
    QTest::newRow("empty") << QString() << u"1.0"_s << 2;
    QTest::newRow("suffix") << u"1.2.0-beta"_s << u"1.0"_s << 2;
    QTest::newRow("double dot") << u"1..2"_s << u"1.0"_s << 2;
    QTest::newRow("too long for a number") << u"1.1234567890"_s << u"1.0"_s << 2;
}

void TestUpdater::compareVersions() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    const std::optional<int> forward = ::compareVersions(a, b);
    const std::optional<int> backward = ::compareVersions(b, a);
    QCOMPARE(forward, expected == 2 ? std::nullopt : std::optional<int>(expected));
    QCOMPARE(backward, expected == 2 ? std::nullopt : std::optional<int>(-expected));
}

void TestUpdater::check_data() {
    QTest::addColumn<QString>("offered"); // the server's own feed with this version,
    QTest::addColumn<QByteArray>("body"); // or this body
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text"); // what the window says

    const QString upToDate = u"VelmoraTime ist auf dem neuesten Stand (Version 1.0.0)."_s;
    const QString broken = u"Die Suche nach Updates ist fehlgeschlagen. "_s;
    const QString feedIs = broken + u"Die Update-Informationen "_s;
    QTest::newRow("newer") << u"1.2.0"_s << QByteArray() << 0 << u"Version 1.2.0 ist verfügbar."_s;
    QTest::newRow("same") << u"1.0"_s << QByteArray() << 0 << upToDate;
    QTest::newRow("older") << u"0.9.9"_s << QByteArray() << 0 << upToDate;
    QTest::newRow("newest item, not the first")
        << QString() << feed(item("1.1.0") + item("1.3.0") + item("1.2.0") + item("1.5-rc1")) << 0
        << u"Version 1.3.0 ist verfügbar."_s;
    QTest::newRow("another system's file is no offer")
        << QString()
        << feed(item("1.1.0") + "<item><sparkle:version>1.4.0</sparkle:version><enclosure "
                                "url=\"https://h/a.dmg\" sparkle:os=\"macos\"/></item>")
        << 0 << u"Version 1.1.0 ist verfügbar."_s;
    QTest::newRow("HTTP 503") << u"2.0"_s << QByteArray() << 503 << broken + u"Serverfehler 503."_s;
    QTest::newRow("garbage") << QString() << "\x01 kein XML"_ba << 0
                             << feedIs + u"sind kein gültiges XML (Zeile 1, Spalte 1)."_s;
    QTest::newRow("cut off") << QString() << feed(item("2.0")).left(120) << 0
                             << feedIs + u"sind kein gültiges XML (Zeile 1, Spalte 120)."_s;
    QTest::newRow("HTML page") << QString() << "<html><body>Wartung</body></html>"_ba << 0
                               << feedIs + u"sind kein RSS-Feed."_s;
    QTest::newRow("no usable version") << QString() << feed(item("neu")) << 0
                                       << feedIs + u"enthalten keine gültige Versionsnummer."_s;
}

void TestUpdater::check() {
    QFETCH(QString, offered);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, text);
    if (offered.isEmpty())
        m_server.setAppcastBody(body);
    else
        m_server.setAppcastVersion(offered);
    if (status)
        m_server.setFault(u"/appcast.xml"_s, Fault{.status = status});
    const bool newer = text.endsWith(u"verfügbar."_s);
    const bool download = newer && !offered.isEmpty(); // only the server's feed names a page

    // Asked for, it always answers; a second press meanwhile asks nothing more.
    Updater updater(feedUrl(), u"1.0.0"_s);
    QSignalSpy finished(&updater, &Updater::checkFinished);
    updater.checkForUpdates();
    updater.checkForUpdates();
    QVERIFY(finished.wait(20000));
    QCOMPARE(m_server.requestsTo(u"/appcast.xml"_s).size(), 1);
    QMessageBox *box = updater.outcomeWindow();
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->text(), text);
    QStringList labels;
    for (QAbstractButton *button : box->buttons())
        labels.append(button->text().remove(u'&'));
    QCOMPARE(labels,
             download ? QStringList({u"Herunterladen"_s, u"Später"_s}) : QStringList(u"OK"_s));
    if (download) {
        QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
        box->buttons().constFirst()->click();
        QDesktopServices::unsetUrlHandler(u"https"_s);
        QCOMPARE(m_opened.value(0).path(), u"/download"_s);
    }

    // By itself it shows only a newer version; the second press above
    // wanted that one outcome, not every later one.
    box->close();
    updater.start();
    QVERIFY(finished.wait(20000));
    QCOMPARE(updater.outcomeWindow() && updater.outcomeWindow()->isVisible(), newer);
}

void TestUpdater::goneBeforeTheAnswer() {
    m_server.setFault(u"/appcast.xml"_s, Fault{.delayMs = 1000});
    auto updater = std::make_unique<Updater>(feedUrl(), u"1.0.0"_s);
    updater->checkForUpdates(); // would show its outcome
    QCoro::Task<UpdateResult> check = updater->check();
    QTRY_COMPARE(m_server.requestsTo(u"/appcast.xml"_s).size(), 2);
    updater.reset();
    // Both checks end at once as failed; the answers arrive for nobody and
    // nothing touches the gone updater.
    const auto outcome = testsupport::awaitTask(std::move(check), std::chrono::milliseconds(1));
    QVERIFY(outcome.ok());
    QCOMPARE(outcome.value->outcome, UpdateResult::Outcome::Failed);
    QTest::qWait(1500);
    for (QWidget *window : QApplication::topLevelWidgets())
        QVERIFY(!window->isVisible());
}

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
