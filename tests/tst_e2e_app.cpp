// The real velmora-time on a private desktop, driven like a person would:
// click the tray icon, type a setup link, press the buttons, watch the icon.
// The devserver shows what reached the server.

#include "devserver.h"
#include "xsession.h"

#include <QDir>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int timeoutMs = 30000;
const QString tokenService = QStringLiteral("de.velmora.zeit.token");
const QString tokenKey = QStringLiteral("device");

// The tray symbols: a filled red record dot, or a dark stopwatch.
bool isRed(QRgb p) {
    return qRed(p) > 180 && qGreen(p) < 110 && qBlue(p) < 110;
}
bool isDark(QRgb p) {
    return qMax(qRed(p), qMax(qGreen(p), qBlue(p))) < 110 && qBlue(p) - qRed(p) < 50;
}
// The prominent button's fill: the default style paints the highlight colour
// as a blue gradient. Links are pure blue, a disabled button is grey.
bool isButtonFill(QRgb p) {
    return qRed(p) >= 40 && qRed(p) <= 150 && qGreen(p) >= 110 && qGreen(p) <= 225 &&
           qBlue(p) >= 150 && qBlue(p) - qRed(p) >= 80;
}

// The enabled prominent button ("Gerät verbinden", "Timer starten" or "Timer
// stoppen"): the first run of at least 10 rows with 30 fill pixels each.
std::optional<QRect> prominentButton(const QImage &screen, const QRect &panel) {
    QRect run;
    for (int y = panel.top(); y <= panel.bottom(); ++y) {
        int count = 0;
        QRect row;
        for (int x = panel.left(); x <= panel.right(); ++x) {
            if (isButtonFill(screen.pixel(x, y))) {
                ++count;
                row |= QRect(x, y, 1, 1);
            }
        }
        if (count >= 30)
            run |= row;
        else if (run.height() >= 10)
            return run;
        else
            run = QRect();
    }
    return std::nullopt;
}

// The dark words of the footer row, left to right: "Abmelden" and "Beenden"
// when signed in, "Beenden" alone when not. The row sits above the panel's
// bottom inset.
QList<QRect> footerWords(const QImage &screen, const QRect &panel) {
    QList<QRect> words;
    for (int x = panel.left(); x <= panel.right(); ++x) {
        QRect column;
        for (int y = panel.bottom() - 40; y < panel.bottom() - 8; ++y) {
            if (isDark(screen.pixel(x, y)))
                column |= QRect(x, y, 1, 1);
        }
        if (column.isEmpty())
            continue;
        if (!words.isEmpty() && x - words.last().right() <= 6)
            words.last() |= column;
        else
            words.append(column);
    }
    return words;
}

// What the screen shows of the app.
struct Look {
    QRect icon, panel; // empty when not shown
    int red = 0, dark = 0;
    std::optional<QRect> button;
    QList<QRect> footer;
    bool recording() const { return red >= 40; }
    bool stopwatch() const { return red == 0 && dark >= 10; }
};

} // namespace

// Looks at the screen until `condition` (over the Look `l`) holds.
#define UNTIL(condition)                                                                           \
    QVERIFY2(QTest::qWaitFor([&] { return [&](const Look &l) { return condition; }(look()); },     \
                             timeoutMs),                                                           \
             qPrintable(m_seen))

class TestE2eApp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void panelOpensBesideTheIcon();
    void signInStartStopSignOut();
    void secondStartShowsTheFirstPanel();

private:
    const Look &look();
    // Of the first request the server saw to `path`.
    QString authorization(const QString &path) const {
        return m_server.requestsTo(path).value(0).headers.value(QStringLiteral("authorization"));
    }

    QTemporaryDir m_dir;
    XSession m_x;
    DevServer m_server;
    QProcess m_app;
    QRect m_icon;
    Look m_look;
    QString m_seen;
};

void TestE2eApp::initTestCase() {
    QString why;
    QVERIFY2(m_x.start(m_dir.filePath(QStringLiteral("keyring")), &why), qPrintable(why));
    QVERIFY(m_server.start());
    // The member's demo data has a timer running; the journey starts stopped.
    m_server.stopEntryFor(m_server.memberId());

    // Settings, data and the single-instance socket stay in the temporary
    // folder, and the keyring is the private one.
    QProcessEnvironment environment = m_x.environment();
    for (const char *variable : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        const QString path = m_dir.filePath(QString::fromLatin1(variable));
        QVERIFY(QDir().mkpath(path));
        environment.insert(QString::fromLatin1(variable), path);
    }
    QSettings settings(m_dir.filePath(QStringLiteral("XDG_CONFIG_HOME/velmora/VelmoraTime.conf")),
                       QSettings::IniFormat);
    settings.setValue(QStringLiteral("VelmoraTimeURL"), m_server.baseUrl());
    settings.sync();
    m_app.setProcessEnvironment(environment);
    m_app.setProcessChannelMode(QProcess::ForwardedChannels);
    m_app.start(QStringLiteral(VELMORA_APP_BINARY), {});

    UNTIL(!l.icon.isEmpty() && l.stopwatch() && l.panel.isEmpty());
    m_icon = m_look.icon;
}

void TestE2eApp::cleanupTestCase() {
    m_app.terminate(); // the destructor kills it if this is not enough
    m_app.waitForFinished(5000);
}

const Look &TestE2eApp::look() {
    Look &l = m_look = Look();
    for (const QRect &window : m_x.windows(QStringLiteral("VelmoraTime"))) {
        if (m_x.trayArea().contains(window))
            l.icon = window;
        else if (window.width() >= 200 && window.height() >= 150) // not the tray menu
            l.panel = window;
    }
    const QImage screen = m_x.grabScreen();
    for (int y = l.icon.top(); !screen.isNull() && y <= l.icon.bottom(); ++y) {
        for (int x = l.icon.left(); x <= l.icon.right(); ++x) {
            l.red += isRed(screen.pixel(x, y)) ? 1 : 0;
            l.dark += isDark(screen.pixel(x, y)) ? 1 : 0;
        }
    }
    if (!screen.isNull() && !l.panel.isEmpty()) {
        l.button = prominentButton(screen, l.panel);
        l.footer = footerWords(screen, l.panel);
    }
    m_seen.clear();
    QDebug(&m_seen) << "icon" << l.icon << l.red << "red," << l.dark << "dark pixels; panel"
                    << l.panel << "button" << l.button.value_or(QRect()) << "footer words"
                    << l.footer.size() << "screen read" << !screen.isNull();
    return l;
}

void TestE2eApp::panelOpensBesideTheIcon() {
    m_x.click(m_icon.center());
    UNTIL(!l.panel.isEmpty());
    // The icon sits at the bottom: the panel opens just above it, reaching
    // over it, wholly on the screen.
    const QRect panel = m_look.panel;
    QVERIFY2(m_x.screen().contains(panel) && panel.bottom() < m_icon.top() &&
                 m_icon.top() - panel.bottom() <= 12 && panel.left() <= m_icon.center().x() &&
                 m_icon.center().x() <= panel.right(),
             qPrintable(m_seen));
}

void TestE2eApp::signInStartStopSignOut() {
    // Signed out, "Gerät verbinden" is disabled while the setup field (which
    // has the focus) is empty.
    UNTIL(l.footer.size() == 1 && !l.button);
    const QString code = m_server.createSetupCode(m_server.memberId());
    m_x.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"),
                 m_server.setupLink(code)});
    UNTIL(l.button.has_value());
    // From the field, Tab reaches "Gerät verbinden" and space presses it.
    m_x.xdotool({QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("space")});
    QString token;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(token = m_x.secret(tokenService, tokenKey).value_or(QString())).isEmpty(), timeoutMs);
    const QString bearer = QStringLiteral("Bearer ") + token;
    QTRY_COMPARE_WITH_TIMEOUT(authorization(QStringLiteral("/api/state")), bearer, timeoutMs);
    const QByteArray setup = m_server.requestsTo(QStringLiteral("/api/setup")).value(0).body;
    QCOMPARE(QJsonDocument::fromJson(setup)[QStringLiteral("code")].toString(), code);

    // The start form has "Timer starten", and "Abmelden" in the footer.
    UNTIL(l.footer.size() == 2 && l.button && l.stopwatch());
    m_x.click(m_look.button->center());
    QTRY_VERIFY_WITH_TIMEOUT(m_server.hasRunningEntry(m_server.memberId()), timeoutMs);
    // "Timer stoppen" takes the button's place.
    UNTIL(l.recording() && l.button);
    m_x.click(m_look.button->center());
    QTRY_VERIFY_WITH_TIMEOUT(!m_server.hasRunningEntry(m_server.memberId()), timeoutMs);
    UNTIL(l.stopwatch() && l.footer.size() == 2);

    m_x.click(m_look.footer.first().center()); // "Abmelden"
    QTRY_COMPARE_WITH_TIMEOUT(authorization(QStringLiteral("/api/logout")), bearer, timeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!m_x.secret(tokenService, tokenKey), timeoutMs);
    UNTIL(l.footer.size() == 1 && l.stopwatch());
}

void TestE2eApp::secondStartShowsTheFirstPanel() {
    m_x.click(m_icon.center());
    UNTIL(l.panel.isEmpty());
    QProcess second;
    second.setProcessEnvironment(m_app.processEnvironment());
    second.start(QStringLiteral(VELMORA_APP_BINARY), {});
    QVERIFY(second.waitForFinished(timeoutMs));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    UNTIL(!l.panel.isEmpty());
    QCOMPARE(m_app.state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestE2eApp)
#include "tst_e2e_app.moc"
