// The real velmora-time binary on a private X server with a tray host, driven
// like a person would: click the tray icon, type a setup link, press the
// buttons, watch the icon. The devserver shows what reached the server; the
// app's keyring is a private one, so no other test's token meets it.
//
// The steps build on each other; after a failed step the rest are skipped,
// and the screen at the failure is saved beside the test binary.

#include "devserver.h"
#include "xsession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

using xsession::Window;

namespace {

constexpr int appStartTimeoutMs = 30000;
constexpr int stepTimeoutMs = 20000;

const QString appClass = QStringLiteral("VelmoraTime");
const QString tokenService = QStringLiteral("de.velmora.zeit.token");
const QString tokenKey = QStringLiteral("device");

// The tray symbols: a filled red record dot, or a dark stopwatch.
bool isRecordRed(QRgb p) {
    return qRed(p) > 180 && qGreen(p) < 110 && qBlue(p) < 110;
}
bool isDark(QRgb p) {
    return qMax(qRed(p), qMax(qGreen(p), qBlue(p))) < 110 && qBlue(p) - qRed(p) < 50;
}
// The fill of the panel's prominent button: the highlight colour (darkened
// until its white text reads well), which the default style paints as a blue
// gradient. Links (pure blue) and focus frames (a thin line) do not match; a
// disabled button is grey.
bool isButtonFill(QRgb p) {
    return qRed(p) >= 40 && qRed(p) <= 150 && qGreen(p) >= 110 && qGreen(p) <= 225 &&
           qBlue(p) >= 150 && qBlue(p) - qRed(p) >= 80;
}

int countPixels(const QImage &image, const QRect &area, bool (*matches)(QRgb)) {
    int count = 0;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += matches(image.pixel(x, y)) ? 1 : 0;
    }
    return count;
}

// The enabled prominent button in the panel ("Gerät verbinden", "Timer
// starten", "Timer stoppen": the panel shows at most one), on the screen.
std::optional<QRect> prominentButton(const QImage &screen, const QRect &panel) {
    constexpr int minRowPixels = 30, minRows = 10;
    int runTop = -1;
    QRect found;
    for (int y = panel.top(); y <= panel.bottom() + 1; ++y) {
        int count = 0, left = panel.right(), right = panel.left();
        if (y <= panel.bottom()) {
            for (int x = panel.left(); x <= panel.right(); ++x) {
                if (isButtonFill(screen.pixel(x, y))) {
                    ++count;
                    left = qMin(left, x);
                    right = qMax(right, x);
                }
            }
        }
        if (count >= minRowPixels) {
            if (runTop < 0) {
                runTop = y;
                found = QRect(QPoint(left, y), QPoint(right, y));
            }
            found |= QRect(QPoint(left, y), QPoint(right, y));
        } else if (runTop >= 0) {
            if (y - runTop >= minRows)
                return found;
            runTop = -1;
        }
    }
    return std::nullopt;
}

// The dark words of the footer row, left to right: "Abmelden" and "Beenden"
// when signed in, "Beenden" alone when not (the link is blue, not dark).
QList<QRect> footerWords(const QImage &screen, const QRect &panel) {
    // The row sits above the panel's 16-point inset; the update button ends
    // well above this band.
    const QRect band(panel.left(), panel.bottom() - 40, panel.width(), 32);
    constexpr int wordGap = 6;
    QList<QRect> words;
    for (int x = band.left(); x <= band.right(); ++x) {
        int top = -1, bottom = -1;
        for (int y = band.top(); y <= band.bottom(); ++y) {
            if (isDark(screen.pixel(x, y))) {
                if (top < 0)
                    top = y;
                bottom = y;
            }
        }
        if (top < 0)
            continue;
        const QRect column(x, top, 1, bottom - top + 1);
        if (!words.isEmpty() && x - words.last().right() <= wordGap)
            words.last() |= column;
        else
            words.append(column);
    }
    return words;
}

QString describe(const QRect &r) {
    return QStringLiteral("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

QJsonObject bodyOf(const RecordedRequest &request) {
    return QJsonDocument::fromJson(request.body).object();
}

} // namespace

class TestE2eApp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void trayIconShowsTheStopwatch();
    void panelOpensBesideTheIconAndToggles();
    void signInWithSetupLink();
    void startingShowsTheRecordDot();
    void stoppingBringsBackTheStopwatch();
    void signOut();
    void secondStartShowsTheFirstPanel();
    void quitFromTheTrayMenu();

private:
    std::optional<QRect> trayIcon() const;
    std::optional<QRect> panel() const;
    QList<Window> otherWindows() const;
    // Polls until `probe` holds; `m_seen` then says what the last look found.
    bool waitFor(const std::function<bool()> &probe, int timeoutMs = stepTimeoutMs);
    bool lookAtPanel(QRect *panelArea, QImage *screen);
    bool iconShows(bool recording);
    QString seen() const { return QStringLiteral("last seen: ") + m_seen; }

    QTemporaryDir m_dir;
    xsession::XSession m_x;
    xsession::PrivateKeyring m_keyring;
    DevServer m_server;
    QProcessEnvironment m_appEnvironment;
    QProcess m_app;
    QRect m_icon;
    QString m_token;
    QString m_seen;
    bool m_broken = false;
};

void TestE2eApp::initTestCase() {
    const QStringList missing = xsession::missingPrograms();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("not installed: ") + missing.join(QStringLiteral(", "))));
    QVERIFY(m_dir.isValid());

    QString why;
    QVERIFY2(m_keyring.start(m_dir.filePath(QStringLiteral("keyring")), &why), qPrintable(why));
    QVERIFY2(m_x.start(&why), qPrintable(why));
    QVERIFY(m_server.start());
    // The member's demo data has a timer running since the morning; this
    // journey starts from the start form.
    m_server.stopEntryFor(m_server.memberId());

    // The user's own folders stay untouched: settings, data and the
    // single-instance socket all live in the temporary folder.
    QProcessEnvironment environment = m_x.environment();
    m_keyring.applyTo(environment);
    const std::pair<const char *, const char *> folders[] = {
        {"HOME", "home"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_CACHE_HOME", "cache"}};
    for (const auto &[variable, sub] : folders) {
        const QString path = m_dir.filePath(QString::fromLatin1(sub));
        QVERIFY(QDir().mkpath(path));
        environment.insert(QString::fromLatin1(variable), path);
    }
    {
        QSettings settings(m_dir.filePath(QStringLiteral("config/velmora/VelmoraTime.conf")),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("VelmoraTimeURL"), m_server.baseUrl());
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }
    m_appEnvironment = environment;

    m_app.setProcessEnvironment(m_appEnvironment);
    m_app.setProcessChannelMode(QProcess::MergedChannels);
    m_app.start(QStringLiteral(VELMORA_APP_BINARY), {});
    QVERIFY2(m_app.waitForStarted(appStartTimeoutMs), qPrintable(m_app.errorString()));

    const bool embedded = waitFor(
        [this] {
            const auto icon = trayIcon();
            if (icon)
                m_icon = *icon;
            return icon.has_value() || m_app.state() == QProcess::NotRunning;
        },
        appStartTimeoutMs);
    QVERIFY2(
        m_app.state() == QProcess::Running,
        qPrintable(QStringLiteral("the app ended: ") + QString::fromLocal8Bit(m_app.readAll())));
    QVERIFY2(embedded, qPrintable(QStringLiteral("no tray icon in trayer's area %1; %2")
                                      .arg(describe(m_x.trayArea()), seen())));
}

void TestE2eApp::init() {
    if (m_broken)
        QSKIP("an earlier step of the journey failed");
}

void TestE2eApp::cleanup() {
    if (!QTest::currentTestFailed())
        return;
    m_broken = true;
    const QString shot = QDir(QStringLiteral(VELMORA_BUILD_DIR "/tests"))
                             .filePath(QStringLiteral("tst_e2e_app-%1.png")
                                           .arg(QString::fromLatin1(QTest::currentTestFunction())));
    const QImage screen = m_x.grabScreen();
    if (!screen.isNull() && screen.save(shot))
        qWarning("the screen at the failure: %s", qPrintable(shot));
    qWarning("the app said: %s", m_app.readAll().constData());
}

void TestE2eApp::cleanupTestCase() {
    if (m_app.state() != QProcess::NotRunning) {
        m_app.terminate();
        if (!m_app.waitForFinished(5000)) {
            m_app.kill();
            m_app.waitForFinished(5000);
        }
    }
    m_server.stop();
    m_x.stop();
    m_keyring.stop();
}

std::optional<QRect> TestE2eApp::trayIcon() const {
    for (const Window &window : m_x.visibleWindows(appClass)) {
        if (m_x.trayArea().contains(window.geometry))
            return window.geometry;
    }
    return std::nullopt;
}

std::optional<QRect> TestE2eApp::panel() const {
    // The panel is the app's big window; the tray menu is small.
    for (const Window &window : otherWindows()) {
        if (window.geometry.width() >= 200 && window.geometry.height() >= 150)
            return window.geometry;
    }
    return std::nullopt;
}

QList<Window> TestE2eApp::otherWindows() const {
    QList<Window> windows = m_x.visibleWindows(appClass);
    windows.removeIf([this](const Window &w) { return m_x.trayArea().contains(w.geometry); });
    return windows;
}

bool TestE2eApp::waitFor(const std::function<bool()> &probe, int timeoutMs) {
    m_seen = QStringLiteral("nothing yet");
    return QTest::qWaitFor(probe, timeoutMs);
}

bool TestE2eApp::lookAtPanel(QRect *panelArea, QImage *screen) {
    const auto shown = panel();
    if (!shown) {
        m_seen = QStringLiteral("no panel");
        return false;
    }
    *panelArea = *shown;
    *screen = m_x.grabScreen();
    if (screen->isNull()) {
        m_seen =
            QStringLiteral("panel at %1, but the screen could not be read").arg(describe(*shown));
        return false;
    }
    const auto button = prominentButton(*screen, *shown);
    QStringList words;
    for (const QRect &word : footerWords(*screen, *shown))
        words.append(describe(word));
    m_seen = QStringLiteral("panel at %1, prominent button %2, footer words [%3]")
                 .arg(describe(*shown), button ? describe(*button) : QStringLiteral("none"),
                      words.join(QStringLiteral(", ")));
    return true;
}

bool TestE2eApp::iconShows(bool recording) {
    const QImage screen = m_x.grabScreen();
    const int red = countPixels(screen, m_icon, isRecordRed);
    const int dark = countPixels(screen, m_icon, isDark);
    m_seen = QStringLiteral("icon at %1: %2 red and %3 dark pixels")
                 .arg(describe(m_icon))
                 .arg(red)
                 .arg(dark);
    // The dot fills a good part of the icon; the stopwatch is a dark outline.
    return recording ? red >= 40 : red == 0 && dark >= 10;
}

void TestE2eApp::trayIconShowsTheStopwatch() {
    QVERIFY2(m_icon.width() >= 16 && m_icon.height() >= 16, qPrintable(describe(m_icon)));
    QVERIFY2(waitFor([this] { return iconShows(false); }), qPrintable(seen()));
    QVERIFY(!panel());
}

void TestE2eApp::panelOpensBesideTheIconAndToggles() {
    m_x.click(m_icon.center());
    QRect shown;
    QVERIFY2(waitFor([&] {
                 const auto p = panel();
                 m_seen = p ? describe(*p) : QStringLiteral("no panel");
                 if (p)
                     shown = *p;
                 return p.has_value();
             }),
             qPrintable(seen()));

    // The icon sits at the bottom, so the panel opens just above it, within
    // reach of it horizontally, and wholly on the screen.
    const QString where =
        QStringLiteral("panel %1, icon %2").arg(describe(shown), describe(m_icon));
    QCOMPARE(shown.width(), 340);
    QVERIFY2(m_x.screen().contains(shown), qPrintable(where));
    QVERIFY2(shown.bottom() < m_icon.top(), qPrintable(where));
    QVERIFY2(m_icon.top() - shown.bottom() <= 12, qPrintable(where));
    QVERIFY2(shown.left() <= m_icon.center().x() && m_icon.center().x() <= shown.right(),
             qPrintable(where));

    // A second click closes it, a third brings it back.
    m_x.click(m_icon.center());
    QVERIFY2(waitFor([this] { return !panel(); }), "the panel stayed open after a second click");
    m_x.click(m_icon.center());
    QVERIFY2(waitFor([this] { return panel().has_value(); }),
             "the panel did not open again after a third click");
}

void TestE2eApp::signInWithSetupLink() {
    QRect area;
    QImage screen;
    // Signed out: only "Beenden" in the footer, and "Gerät verbinden" is
    // disabled while the setup field is empty.
    QVERIFY2(waitFor([&] {
                 return lookAtPanel(&area, &screen) && footerWords(screen, area).size() == 1 &&
                        !prominentButton(screen, area);
             }),
             qPrintable(seen()));

    // The setup field has the focus when the signed-out panel opens.
    const QString code = m_server.createSetupCode(m_server.memberId());
    m_x.type(m_server.setupLink(code));
    QVERIFY2(waitFor([&] {
                 return lookAtPanel(&area, &screen) && prominentButton(screen, area).has_value();
             }),
             qPrintable(QStringLiteral("typing the link did not enable \"Gerät verbinden\"; ") +
                        seen()));

    // From the field, Tab reaches "Gerät verbinden" and space presses it.
    m_x.keys({QStringLiteral("Tab"), QStringLiteral("space")});
    QVERIFY2(waitFor([this] {
                 return !m_server.requestsTo(QStringLiteral("/api/setup")).isEmpty() &&
                        !m_server.requestsTo(QStringLiteral("/api/state")).isEmpty();
             }),
             "the server saw no setup and no state request");
    const auto setups = m_server.requestsTo(QStringLiteral("/api/setup"));
    QCOMPARE(setups.size(), 1);
    QCOMPARE(bodyOf(setups.first()).value(QStringLiteral("code")).toString(), code);

    // The token went into the keyring, and the state was asked for with it.
    QVERIFY2(waitFor([this] {
                 const auto token = m_keyring.lookup(tokenService, tokenKey);
                 m_token = token.value_or(QString());
                 return !m_token.isEmpty();
             }),
             "no token in the keyring after the setup");
    const auto states = m_server.requestsTo(QStringLiteral("/api/state"));
    QCOMPARE(states.last().headers.value(QStringLiteral("authorization")),
             QStringLiteral("Bearer ") + m_token);

    // The start form: "Timer starten" is there, and so is "Abmelden".
    QVERIFY2(waitFor([&] {
                 return lookAtPanel(&area, &screen) && footerWords(screen, area).size() == 2 &&
                        prominentButton(screen, area).has_value();
             }),
             qPrintable(seen()));
    QVERIFY2(iconShows(false), qPrintable(seen()));
    QVERIFY2(m_server.surprises().isEmpty(),
             qPrintable(m_server.surprises().join(QLatin1Char('\n'))));
}

void TestE2eApp::startingShowsTheRecordDot() {
    QRect area;
    QImage screen;
    QVERIFY2(lookAtPanel(&area, &screen), qPrintable(seen()));
    const auto start = prominentButton(screen, area);
    QVERIFY2(start, qPrintable(seen()));
    QVERIFY(!m_server.hasRunningEntry(m_server.memberId()));

    m_x.click(start->center());
    QVERIFY2(waitFor([this] { return m_server.hasRunningEntry(m_server.memberId()); }),
             "pressing \"Timer starten\" started no timer on the server");
    QCOMPARE(m_server.requestsTo(QStringLiteral("/api/time/start")).size(), 1);
    QVERIFY2(waitFor([this] { return iconShows(true); }), qPrintable(seen()));
    // The running entry's "Timer stoppen" takes the button's place.
    QVERIFY2(waitFor([&] {
                 return lookAtPanel(&area, &screen) && prominentButton(screen, area).has_value();
             }),
             qPrintable(seen()));
}

void TestE2eApp::stoppingBringsBackTheStopwatch() {
    QRect area;
    QImage screen;
    QVERIFY2(lookAtPanel(&area, &screen), qPrintable(seen()));
    const auto stop = prominentButton(screen, area);
    QVERIFY2(stop, qPrintable(seen()));

    m_x.click(stop->center());
    QVERIFY2(waitFor([this] { return !m_server.hasRunningEntry(m_server.memberId()); }),
             "pressing \"Timer stoppen\" left the timer running on the server");
    QCOMPARE(m_server.requestsTo(QStringLiteral("/api/time/stop")).size(), 1);
    QVERIFY2(waitFor([this] { return iconShows(false); }), qPrintable(seen()));
}

void TestE2eApp::signOut() {
    QRect area;
    QImage screen;
    QList<QRect> words;
    QVERIFY2(waitFor([&] {
                 if (!lookAtPanel(&area, &screen))
                     return false;
                 words = footerWords(screen, area);
                 return words.size() == 2;
             }),
             qPrintable(seen()));

    m_x.click(words.first().center()); // "Abmelden"
    QVERIFY2(
        waitFor([this] { return !m_server.requestsTo(QStringLiteral("/api/logout")).isEmpty(); }),
        "the server saw no logout");
    QCOMPARE(m_server.requestsTo(QStringLiteral("/api/logout"))
                 .first()
                 .headers.value(QStringLiteral("authorization")),
             QStringLiteral("Bearer ") + m_token);
    QVERIFY2(waitFor([this] { return !m_keyring.lookup(tokenService, tokenKey).has_value(); }),
             "the token stayed in the keyring after signing out");
    QVERIFY2(waitFor([&] {
                 return lookAtPanel(&area, &screen) && footerWords(screen, area).size() == 1;
             }),
             qPrintable(QStringLiteral("the panel did not go back to signed out; ") + seen()));
    QVERIFY2(iconShows(false), qPrintable(seen()));
}

void TestE2eApp::secondStartShowsTheFirstPanel() {
    m_x.click(m_icon.center());
    QVERIFY2(waitFor([this] { return !panel(); }), "the panel did not close on a click");

    QProcess second;
    second.setProcessEnvironment(m_appEnvironment);
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QStringLiteral(VELMORA_APP_BINARY), {});
    QVERIFY2(second.waitForFinished(stepTimeoutMs), "a second start kept running");
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QVERIFY2(waitFor([this] { return panel().has_value(); }),
             "the running app did not show its panel for the second start");
    QCOMPARE(m_app.state(), QProcess::Running);
    // Still one icon in the tray.
    int icons = 0;
    for (const Window &window : m_x.visibleWindows(appClass))
        icons += m_x.trayArea().contains(window.geometry) ? 1 : 0;
    QCOMPARE(icons, 1);
}

void TestE2eApp::quitFromTheTrayMenu() {
    m_x.click(m_icon.center(), 3);
    QRect menu;
    QVERIFY2(waitFor([&] {
                 QStringList all;
                 for (const Window &window : otherWindows()) {
                     all.append(describe(window.geometry));
                     if (window.geometry.width() != 340 && window.geometry.height() < 150)
                         menu = window.geometry;
                 }
                 m_seen = all.join(QStringLiteral(", "));
                 return !menu.isEmpty();
             }),
             qPrintable(QStringLiteral("no tray menu; windows: ") + m_seen));

    // "Öffnen" above, "Beenden" below.
    m_x.click(QPoint(menu.center().x(), menu.top() + menu.height() * 3 / 4));
    QVERIFY2(m_app.waitForFinished(stepTimeoutMs), "\"Beenden\" did not end the app");
    QCOMPARE(m_app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_app.exitCode(), 0);
    QVERIFY2(waitFor([this] { return !trayIcon(); }), "the tray icon stayed after quitting");
}

QTEST_GUILESS_MAIN(TestE2eApp)
#include "tst_e2e_app.moc"
