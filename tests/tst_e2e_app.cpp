// The real velmora-time on a private desktop, used the way its users do:
// through the accessibility tree (what a screen reader sees and operates) and
// the keyboard, with the pointer only to click the tray icon. The devserver
// shows what reached the server; the keyring what the app kept.

#include "atspidriver.h"
#include "devserver.h"
#include "testsupport.h"
#include "xsession.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int timeoutMs = 30000;
const QString tokenService = u"de.velmora.zeit.token"_s;
const QString tokenKey = u"device"_s;

// Role and name of everything shown, in tree order, for each condition of
// the panel: what a screen reader user finds there.
const QStringList title{u"label\tvelmora."_s, u"label\tProjektzeit"_s};
const QStringList settings{u"push button\tEinstellungen"_s};
const QStringList header = title + settings;
const QStringList footer{u"push button\tAuf Updates prüfen …"_s, u"link\tWeb-App öffnen"_s,
                         u"push button\tAbmelden"_s, u"push button\tBeenden"_s};
const QStringList signedInHeader =
    title + QStringList{u"push button\tDaten neu laden"_s} + settings;
const QStringList startForm{u"text\tKunde suchen"_s,        u"label\tKunde"_s,
                            u"combo box\tKunde"_s,          u"label\tGrund"_s,
                            u"combo box\tGrund"_s,          u"text\tNotiz (optional)"_s,
                            u"push button\tTimer starten"_s};
// The same after the member's start: the pair is offered under the pickers.
const QStringList startFormWithRecent =
    startForm.mid(0, 5) +
    QStringList{u"label\tZuletzt genutzt"_s,
                u"push button\tStarten: MÜLLER Logistik · Beratung"_s} +
    startForm.mid(5);
const QHash<QString, QStringList> shownControls{
    {u"signed out"_s,
     header + QStringList{u"text\tServer"_s, u"text\tEinrichtungslink einfügen"_s,
                          u"push button\tGerät verbinden"_s, u"check box\tMit Passwort anmelden"_s,
                          u"push button\tAuf Updates prüfen …"_s, u"link\tWeb-App öffnen"_s,
                          u"push button\tBeenden"_s}},
    {u"password sign-in"_s,
     header + QStringList{u"text\tServer"_s, u"text\tEinrichtungslink einfügen"_s,
                          u"push button\tGerät verbinden"_s, u"check box\tMit Passwort anmelden"_s,
                          u"text\tE-Mail"_s, u"password text\tPasswort"_s,
                          u"push button\tAnmelden"_s, u"push button\tAuf Updates prüfen …"_s,
                          u"link\tWeb-App öffnen"_s, u"push button\tBeenden"_s}},
    {u"loading"_s, signedInHeader +
                       QStringList{u"progress bar\tLade Daten …"_s, u"label\tLade Daten …"_s} +
                       footer},
    {u"start form"_s, signedInHeader + startForm + footer},
    {u"running"_s,
     signedInHeader +
         QStringList{u"label\tMÜLLER Logistik"_s, u"label\tBeratung · 100.00 € / Std."_s,
                     u"label\tTastatur"_s, u"label\tLaufzeit"_s, u"push button\tTimer stoppen"_s} +
         footer},
    {u"administrator"_s,
     signedInHeader + startFormWithRecent +
         QStringList{u"link\tEingangsmappe öffnen"_s, u"push button\tHandy verbinden"_s} + footer},
    {u"QR code"_s, signedInHeader + startFormWithRecent +
                       QStringList{u"link\tEingangsmappe öffnen"_s,
                                   u"push button\tHandy verbinden"_s, u"image\tQR-Code"_s,
                                   u"label\tEinmaligen QR-Code mit der Handy-Kamera scannen."_s,
                                   u"push button\tLink kopieren"_s} +
                       footer},
};

// The focusable controls in Tab order, from the one holding the focus.
const QStringList startFormFocus{u"text „Kunde suchen“"_s, u"combo box „Kunde“"_s,
                                 u"combo box „Grund“"_s, u"text „Notiz (optional)“"_s,
                                 u"push button „Timer starten“"_s};
const QStringList footerFocus{u"push button „Auf Updates prüfen …“"_s,
                              u"link „Web-App öffnen“"_s,
                              u"push button „Abmelden“"_s,
                              u"push button „Beenden“"_s,
                              u"push button „Daten neu laden“"_s,
                              u"push button „Einstellungen“"_s};
const QHash<QString, QStringList> tabOrder{
    {u"start form"_s, startFormFocus + footerFocus},
    {u"QR code"_s,
     QStringList{u"push button „Handy verbinden“"_s, u"push button „Link kopieren“"_s} +
         footerFocus + startFormFocus.mid(0, 3) +
         QStringList{u"push button „Starten: MÜLLER Logistik · Beratung“"_s} +
         startFormFocus.mid(3) + QStringList{u"link „Eingangsmappe öffnen“"_s}},
};

} // namespace

// Runs a driver command whose output does not matter.
#define DO(...)                                                                                    \
    do {                                                                                           \
        QString out_;                                                                              \
        DRIVE(out_, __VA_ARGS__);                                                                  \
    } while (false)
// The controls shown now are those of `condition` in the table. The message
// line comes and goes with the automatic reload; its announcements are
// checked on their own.
#define SHOWS(condition)                                                                           \
    do {                                                                                           \
        QString shown_;                                                                            \
        DRIVE(shown_, u"controls"_s);                                                              \
        QStringList lines_ = shown_.split(u'\n');                                                  \
        lines_.removeIf([](const QString &line) { return line.startsWith(u"alert\t"_s); });        \
        QCOMPARE(lines_.join(u'\n'), shownControls.value(condition).join(u'\n'));                  \
    } while (false)

class TestE2eApp : public QObject {
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() {
        QString why;
        QVERIFY2(m_x.start(m_dir.filePath(u"session"_s), &why), qPrintable(why));
        QVERIFY(m_server.start());
        // The member's demo data has a timer running; the journey starts stopped.
        m_server.stopEntryFor(m_server.memberId());

        // Settings, data and the single-instance socket stay in the temporary
        // folder, and the keyring is the private one. The "browser" writes down
        // what it was asked to open.
        QProcessEnvironment environment = m_x.environment();
        testsupport::isolateUserDirs(m_dir.filePath(u"home"_s), &environment);
        QFile browser(m_dir.filePath(u"browser"_s));
        QVERIFY(browser.open(QIODevice::WriteOnly));
        browser.write("#!/bin/sh\necho \"$1\" >>\"$0.log\"\n");
        browser.close();
        browser.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        environment.insert(u"BROWSER"_s, browser.fileName());
        QSettings settings(m_dir.filePath(u"home/.config/velmora/VelmoraTime.conf"_s),
                           QSettings::IniFormat);
        settings.setValue(u"VelmoraTimeURL"_s, m_server.baseUrl());
        settings.sync();
        m_app.setProcessEnvironment(environment);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        m_app.start(QStringLiteral(VELMORA_APP_BINARY), {});
        QVERIFY(m_app.waitForStarted(timeoutMs));

        QVERIFY(m_driver.start(m_x.environment()));
        DO(u"wait-app"_s);
        QString state;
        DRIVE(state, u"tray-state"_s, QStringLiteral(VELMORA_TRAY_ICONS_BINARY));
        QCOMPARE(state, u"stoppuhr"_s);
        DO(u"click-tray"_s);
        DO(u"find"_s, u"push button"_s, u"Beenden"_s);
    }

    void cleanupTestCase() {
        m_app.terminate(); // the destructor kills it if this is not enough
        m_app.waitForFinished(5000);
    }

    // Signs in, picks a client, starts and stops a timer and signs out with the
    // keyboard alone; Tab and Shift+Tab walk the same controls both ways.
    void memberWithTheKeyboard() {
        QString out;
        SHOWS(u"signed out"_s);
        // The settings behind the header's button, as a screen reader hears them.
        const qsizetype windows = m_x.windows(u"VelmoraTime"_s).size();
        DO(u"tab-to"_s, u"push button"_s, u"Einstellungen"_s);
        DO(u"key"_s, u"space"_s);
        // The menu tells no screen reader it opened until an entry is chosen, and
        // a key sent before it holds the keyboard is lost: wait for its window,
        // and a moment for the grab that follows it.
        WAIT_UNTIL(m_x.windows(u"VelmoraTime"_s).size() > windows, timeoutMs);
        QTest::qWait(200);
        DO(u"key"_s, u"Down"_s);
        DO(u"focus-heard"_s, u"menu item"_s, u"Beim Anmelden starten"_s);
        DO(u"key"_s, u"Down"_s);
        DO(u"focus-heard"_s, u"menu item"_s, u"Erinnern nach"_s);
        DO(u"key"_s, u"Escape"_s);
        DO(u"tab-to"_s, u"check box"_s, u"Mit Passwort anmelden"_s);
        DO(u"key"_s, u"space"_s);
        DO(u"find"_s, u"check box"_s, u"Mit Passwort anmelden"_s, u"checked"_s);
        SHOWS(u"password sign-in"_s);
        DO(u"key"_s, u"space"_s);
        DO(u"tab-to"_s, u"text"_s, u"Einrichtungslink einfügen"_s, u"zurück"_s);
        QVERIFY2(signIn(m_server.memberId(), &out), qPrintable(out));
        DO(u"find"_s, u"text"_s, u"Kunde suchen"_s, u"focused"_s);
        // The app keeps its token in the desktop's keyring, until signing out.
        WAIT_UNTIL(m_x.secret(tokenService, tokenKey), timeoutMs);
        SHOWS(u"start form"_s);

        walkRound(u"start form"_s);
        if (QTest::currentTestFailed())
            return;

        // The second client with the arrow key, a note, then Space on "Timer starten".
        DO(u"key"_s, u"Tab"_s, u"Down"_s);
        DRIVE(out, u"value"_s, u"combo box"_s, u"Kunde"_s);
        QCOMPARE(out, u"MÜLLER Logistik"_s);
        DO(u"tab-to"_s, u"text"_s, u"Notiz (optional)"_s);
        DO(u"type"_s, u"text"_s, u"Notiz (optional)"_s, u"Tastatur"_s);
        DO(u"tab-to"_s, u"push button"_s, u"Timer starten"_s);
        DO(u"key"_s, u"space"_s);
        QTRY_VERIFY_WITH_TIMEOUT(m_server.hasRunningEntry(m_server.memberId()), timeoutMs);
        DO(u"find"_s, u"push button"_s, u"Timer stoppen"_s, u"focused"_s);
        SHOWS(u"running"_s);
        DRIVE(out, u"value"_s, u"label"_s, u"Laufzeit"_s);
        QVERIFY2(QRegularExpression(u"^00:00:\\d\\d$"_s).match(out).hasMatch(), qPrintable(out));
        DRIVE(out, u"tray-state"_s, QStringLiteral(VELMORA_TRAY_ICONS_BINARY));
        QCOMPARE(out, u"aufnahme"_s);

        DO(u"key"_s, u"space"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!m_server.hasRunningEntry(m_server.memberId()), timeoutMs);
        DO(u"find"_s, u"text"_s, u"Kunde suchen"_s, u"focused"_s);
        DRIVE(out, u"tray-state"_s, QStringLiteral(VELMORA_TRAY_ICONS_BINARY));
        QCOMPARE(out, u"stoppuhr"_s);

        DO(u"tab-to"_s, u"push button"_s, u"Abmelden"_s, u"zurück"_s);
        DO(u"key"_s, u"space"_s);
        WAIT_UNTIL(!m_x.secret(tokenService, tokenKey), timeoutMs);
        DO(u"find"_s, u"text"_s, u"Einrichtungslink einfügen"_s, u"focused"_s);
    }

    // The links open the browser by Enter, Space and the accessibility action;
    // "Handy verbinden" keeps the focus and is announced; "Link kopieren" puts
    // the link the QR code shows on both clipboards.
    void administratorCopiesTheLink() {
        QString out;
        // The first state comes late: the panel says it is loading meanwhile.
        m_server.setFault(u"/api/state"_s, Fault{.delayMs = 6000, .times = 1});
        QVERIFY2(signIn(m_server.adminId(), &out), qPrintable(out));
        DO(u"find"_s, u"progress bar"_s, u"Lade Daten …"_s, u"busy"_s);
        SHOWS(u"loading"_s);
        DO(u"find"_s, u"text"_s, u"Kunde suchen"_s, u"focused"_s);
        SHOWS(u"administrator"_s);
        DO(u"tab-to"_s, u"link"_s, u"Eingangsmappe öffnen"_s);
        DO(u"key"_s, u"Return"_s);
        DO(u"tab-to"_s, u"link"_s, u"Web-App öffnen"_s);
        DO(u"key"_s, u"space"_s);
        DO(u"press"_s, u"link"_s, u"Eingangsmappe öffnen"_s);
        const QString inbox = m_server.baseUrl() + u"/?tab=inbox"_s;
        QTRY_COMPARE_WITH_TIMEOUT(opened(), QStringList({inbox, m_server.baseUrl(), inbox}),
                                  timeoutMs);

        DO(u"announcements"_s);
        DO(u"tab-to"_s, u"push button"_s, u"Handy verbinden"_s, u"zurück"_s);
        DO(u"key"_s, u"space"_s);
        DRIVE(out, u"find"_s, u"image"_s, u"QR-Code"_s);
        QVERIFY2(out.contains(u"mit der Handy-Kamera scannen"_s), qPrintable(out));
        DO(u"find"_s, u"push button"_s, u"Handy verbinden"_s, u"enabled"_s, u"focused"_s);
        // The event crosses the accessibility bus; on a slow machine it comes later.
        DO(u"announced"_s, u"Mit dem Handy scannen · 15 Minuten gültig."_s);
        SHOWS(u"QR code"_s);
        walkRound(u"QR code"_s);
        if (QTest::currentTestFailed())
            return;

        DO(u"tab-to"_s, u"push button"_s, u"Link kopieren"_s);
        DO(u"key"_s, u"space"_s);
        DO(u"find"_s, u"push button"_s, u"Kopiert ✓"_s, u"focused"_s);
        QString clipboard, primary;
        DRIVE(clipboard, u"clipboard"_s, u"clipboard"_s);
        DRIVE(primary, u"clipboard"_s, u"primary"_s);
        QVERIFY2(clipboard.startsWith(m_server.setupLink(QString())), qPrintable(clipboard));
        QCOMPARE(primary, clipboard);
        // The same link as the QR code, as a phone's camera reads it.
        const QString shot = m_dir.filePath(u"screen.png"_s);
        QVERIFY(m_x.grabScreen().save(shot));
        QProcess zbar;
        zbar.start(u"zbarimg"_s, {u"--raw"_s, u"-q"_s, shot});
        QVERIFY(zbar.waitForFinished(timeoutMs));
        QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), clipboard);
        // The confirmation passes; nothing was said on the message line.
        DO(u"find"_s, u"push button"_s, u"Link kopieren"_s, u"focused"_s);
        DRIVE(out, u"announcements"_s);
        QCOMPARE(out, QString());

        // A timer started on the phone; the tray menu switches to the recent pair.
        m_server.startEntryFor(m_server.adminId(), u"c1"_s, 2, QString(),
                               double(QDateTime::currentMSecsSinceEpoch()));
        DO(u"press"_s, u"push button"_s, u"Daten neu laden"_s);
        DO(u"find"_s, u"label"_s, u"Müller GmbH"_s);
        // Counted once the panel's window is gone from the X server too, which
        // on a busy machine comes after the accessibility tree hears of it.
        const qsizetype windows = m_x.windows(u"VelmoraTime"_s).size() - 1;
        DO(u"key"_s, u"Escape"_s);
        DO(u"gone"_s, u"push button"_s, u"Beenden"_s);
        WAIT_UNTIL(m_x.windows(u"VelmoraTime"_s).size() == windows, timeoutMs);
        DO(u"click-tray"_s, u"3"_s);
        WAIT_UNTIL(m_x.windows(u"VelmoraTime"_s).size() > windows, timeoutMs);
        QTest::qWait(200); // as for the settings menu: its grab follows the window
        DO(u"key"_s, u"Down"_s);
        DO(u"focus-heard"_s, u"menu item"_s, u"Timer stoppen – Müller GmbH · Entwicklung"_s);
        DO(u"key"_s, u"Down"_s);
        DO(u"focus-heard"_s, u"menu item"_s, u"MÜLLER Logistik · Beratung"_s);
        DO(u"key"_s, u"Return"_s);
        DO(u"click-tray"_s);
        DO(u"find"_s, u"label"_s, u"MÜLLER Logistik"_s);
        QVERIFY(m_server.hasRunningEntry(m_server.adminId()));

        DO(u"press"_s, u"push button"_s, u"Abmelden"_s);
        DO(u"find"_s, u"text"_s, u"Einrichtungslink einfügen"_s, u"focused"_s);
    }

    void secondStartShowsTheFirstPanel() {
        DO(u"click-tray"_s);
        DO(u"gone"_s, u"push button"_s, u"Beenden"_s);
        QProcess second;
        second.setProcessEnvironment(m_app.processEnvironment());
        second.start(QStringLiteral(VELMORA_APP_BINARY), {});
        QVERIFY(second.waitForFinished(timeoutMs));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        DO(u"find"_s, u"push button"_s, u"Beenden"_s);
        QCOMPARE(m_app.state(), QProcess::Running);
    }

private:
    // Types a fresh setup link of `userId` into the focused field and presses
    // "Gerät verbinden".
    bool signIn(const QString &userId, QString *why);
    // Tab round the panel and Shift+Tab back, as the table says for `condition`.
    void walkRound(const QString &condition);
    QStringList opened() const;

    QTemporaryDir m_dir;
    XSession m_x;
    DevServer m_server;
    QProcess m_app;
    AtspiDriver m_driver;
};

bool TestE2eApp::signIn(const QString &userId, QString *why) {
    const QString code = m_server.createSetupCode(userId);
    // The setup field has the focus; Tab leads to "Gerät verbinden".
    return m_driver.run({u"focused"_s}, why) && *why == u"text „Einrichtungslink einfügen“"_s &&
           m_driver.run(
               {u"type"_s, u"text"_s, u"Einrichtungslink einfügen"_s, m_server.setupLink(code)},
               why) &&
           m_driver.run({u"key"_s, u"Tab"_s, u"space"_s}, why);
}

void TestE2eApp::walkRound(const QString &condition) {
    // Round the panel with Tab, and back with Shift+Tab in exactly the
    // reverse order: nothing is skipped and nothing holds the focus.
    QString out;
    DRIVE(out, u"focus-cycle"_s);
    QStringList forward, backward;
    for (const QString &line : out.split(u'\n')) {
        forward << line.section(u'\t', 0, 0);
        backward << line.section(u'\t', 1, 1);
    }
    const QStringList order = tabOrder.value(condition);
    QCOMPARE(forward, order.mid(1) + order.mid(0, 1));
    QStringList reversed(forward.crbegin() + 1, forward.crend());
    QCOMPARE(backward, reversed << forward.last());
}

QStringList TestE2eApp::opened() const {
    QFile log(m_dir.filePath(u"browser.log"_s));
    return log.open(QIODevice::ReadOnly)
               ? QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts)
               : QStringList();
}

QTEST_GUILESS_MAIN(TestE2eApp)
#include "tst_e2e_app.moc"
