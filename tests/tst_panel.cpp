// The panel over real models that talk to the devserver: which variant shows
// in which condition, what is enabled when, that edits reach the model at
// once and the model's changes come back without disturbing the user.

#include "modelfixture.h"
#include "tray/panelwindow.h"
#include "ui/adminsection.h"
#include "ui/format.h"
#include "ui/menu.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

template <typename T = QWidget> T *part(QWidget &root, const char *name) {
    return root.findChild<T *>(QLatin1String(name));
}

// The one content variant on screen, "" when none, "several" when more.
QString shownVariant(Menu &menu) {
    QStringList shown;
    for (const char *name : {"signedOutSection", "runningEntryView", "startForm", "loadingView"}) {
        if (part(menu, name)->isVisible())
            shown << QLatin1String(name);
    }
    return shown.size() > 1 ? u"several"_s : shown.value(0);
}

// The shown actions that cannot be pressed now.
QStringList disabledActions(Menu &menu) {
    QStringList names;
    for (const char *name :
         {"connectButton", "loginButton", "startButton", "stopButton", "phoneButton",
          "reloadButton", "updateButton", "logoutButton", "quitButton"}) {
        // The update button exists only in builds with the update check.
        if (!VELMORA_UPDATER && qstrcmp(name, "updateButton") == 0)
            continue;
        if (part(menu, name)->isVisible() && !part(menu, name)->isEnabled())
            names << QLatin1String(name);
    }
    return names;
}

QStringList texts(QComboBox *combo) {
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

// Types text key by key, umlauts included (QTest::keyClicks takes ASCII only).
void type(QWidget *widget, const QString &text) {
    for (const QChar ch : text) {
        const auto key = Qt::Key(ch.toUpper().unicode());
        QTest::sendKeyEvent(QTest::Press, widget, key, QString(ch), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, key, QString(ch), Qt::NoModifier);
    }
}

// Picks an entry from the open list, as a user would.
bool choose(QComboBox *combo, const QString &text) {
    const int target = combo->findText(text, Qt::MatchExactly);
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    if (target < 0 || !QTest::qWaitFor([list] { return list->isVisible(); }, 5000))
        return false;
    list->setCurrentIndex(list->model()->index(target, 0));
    QTest::keyClick(list, Qt::Key_Return);
    return !list->isVisible() && combo->currentIndex() == target;
}

Fault failing(int status, const QString &text) {
    return Fault{.status = status, .body = uR"({"error":"%1"})"_s.arg(text).toUtf8(), .times = 1};
}

// A state in the server's snake_case shape: one client, one reason, one rate.
QByteArray stateJson(const QString &role, const QString &running = u"null"_s) {
    return uR"({"user":{"id":"u1","name":"Clara Chefin","role":"%1"},
        "clients":[{"id":"c1","name":"Müller GmbH","enabled":1,"archived":0}],
        "reasons":[{"id":1,"name":"Beratung","active":1}],
        "rates":[{"client_id":"c1","reason_id":1,"cents":9550}],"running":%2})"_s.arg(role, running)
        .toUtf8();
}

// The clock shows the time since the start, now or a second ago (a tick may
// just be due).
bool clockShowsNow(Menu &menu, double startedAt) {
    const QString text = part(menu, "clockLabel")->property("text").toString();
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    return text == formatElapsed(now, startedAt) || text == formatElapsed(now - 1.0, startedAt);
}

// Shows the panel and waits until its reload on showing is done: once a later
// reload has been applied, the model drops any earlier answer.
bool showAndSettle(Menu &menu, Model &model) {
    menu.show();
    return QTest::qWaitForWindowExposed(&menu) && finishes(model.refresh());
}

} // namespace

class PanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<ModelFixture>();
        QVERIFY(m_fixture->started());
        m_server = &m_fixture->server();
    }
    void cleanup() {
        QVERIFY2(m_server->surprises().isEmpty(), qPrintable(m_server->surprises().join('\n')));
        m_fixture.reset();
    }

    void signedOut();
    void variantsAndTheirRules();
    void pickersAndTheirChangeHandlers();
    void modelEchoKeepsTheCursor();
    void runningEntry_data();
    void runningEntry();
    void adminSection_data();
    void adminSection();
    void reloadButtonTurnsWhileWaiting();
    void goneWithFocusInside();
    void lateActivationKeepsTheFocus();

private:
    std::unique_ptr<ModelFixture> m_fixture;
    DevServer *m_server = nullptr;
};

void PanelTest::signedOut() {
    auto model = m_fixture->newModel();
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));
    auto *server = part<QLineEdit>(menu, "serverField");
    auto *setup = part<QLineEdit>(menu, "setupField");

    QCOMPARE(shownVariant(menu), u"signedOutSection"_s);
    QCOMPARE(server->text(), m_server->baseUrl());
    QCOMPARE(menu.focusWidget(), setup);
    QCOMPARE(disabledActions(menu), QStringList{u"connectButton"_s});
    for (const char *name :
         {"reloadButton", "logoutButton", "adminSection", "messageLabel", "settingsButton"})
        QVERIFY2(!part(menu, name)->isVisible(), name);
    // Settings given, their button opens them from the keyboard too.
    QMenu settings;
    settings.addAction(u"Beim Anmelden starten"_s);
    menu.setSettingsMenu(&settings);
    auto *settingsButton = part<QToolButton>(menu, "settingsButton");
    QVERIFY(settingsButton->isVisible());
    QTimer::singleShot(100, &settings, [&] {
        QCOMPARE(QApplication::activePopupWidget(), &settings);
        settings.close();
    });
    QTest::keyClick(settingsButton, Qt::Key_Space);
    QTRY_VERIFY(!settings.isVisible());
    menu.setSettingsMenu(nullptr);
    QVERIFY(!settingsButton->isVisible());
    // A single blank is input too; the model says what is wrong with it.
    type(setup, u" "_s);
    QCOMPARE(model->setupInput(), u" "_s);
    QCOMPARE(disabledActions(menu), QStringList());
    // A sign-in the server refuses hands the focus back to its button, not to
    // the password toggle behind it, where a stray Space would unfold the form.
    setup->clear();
    type(setup, u"https://zeit.example/#setup="_s + QString(43, u'A'));
    auto *connectButton = part<QPushButton>(menu, "connectButton");
    connectButton->setFocus();
    connectButton->click();
    QTRY_VERIFY(!model->busy() && !model->message().isEmpty());
    QCOMPARE(menu.focusWidget(), connectButton);
    setup->clear();
    type(setup, u" "_s);

    // The password sign-in starts folded.
    QVERIFY(!part(menu, "emailField")->isVisible());
    part<QToolButton>(menu, "passwordToggle")->click();
    QVERIFY(part(menu, "emailField")->isVisible());
    QCOMPARE(part<QLineEdit>(menu, "passwordField")->echoMode(), QLineEdit::Password);

    // "Web-App öffnen" follows the Server field keystroke by keystroke.
    auto *webApp = part(menu, "webAppLink");
    QVERIFY(webApp->isVisible());
    server->selectAll();
    type(server, u"ftp://x"_s);
    QCOMPARE(model->serverURL(), u"ftp://x"_s);
    QVERIFY(!webApp->isVisible());
    server->selectAll();
    type(server, u"http://localhost:8080"_s);
    QVERIFY(webApp->isVisible());
    QCOMPARE(webApp->toolTip(), u"http://localhost:8080"_s);

    // The footer's buttons hand over to the app.
    QSignalSpy updates(&menu, &Menu::checkForUpdatesRequested);
    QSignalSpy quits(&menu, &Menu::quitRequested);
    if (VELMORA_UPDATER)
        part<QPushButton>(menu, "updateButton")->click();
    else
        QVERIFY(!part(menu, "updateButton"));
    part<QToolButton>(menu, "quitButton")->click();
    QCOMPARE(updates.size(), VELMORA_UPDATER ? 1 : 0);
    QCOMPARE(quits.size(), 1);
}

// Every variant in turn: what shows, what waits for an action in flight, the
// message line, and that Return starts nothing.
void PanelTest::variantsAndTheirRules() {
    auto model = m_fixture->newModel();
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));
    const auto click = [&](const char *name) { part<QAbstractButton>(menu, name)->click(); };
    auto *message = part<QLabel>(menu, "messageLabel");
    const auto shownMessage = [&] { return message->isVisible() ? message->text() : QString(); };
    // Presses the button with the answer held back: what was disabled meanwhile.
    const auto whileBusy = [&](const char *button, const char *path) {
        m_server->setFault(QLatin1String(path), Fault{.delayMs = 1500, .times = 1});
        click(button);
        if (!QTest::qWaitFor([&] { return model->busy(); }))
            return QStringList{u"never busy"_s};
        const QStringList disabled = disabledActions(menu);
        return QTest::qWaitFor([&] { return !model->busy(); }) ? disabled : QStringList();
    };
    const auto pressReturnIn = [&](QList<const char *> fields) {
        for (const char *field : fields) {
            QTest::keyClick(part(menu, field), Qt::Key_Return);
            QTest::keyClick(part(menu, field), Qt::Key_Enter);
        }
        QTest::qWait(300);
        return m_server->requests().isEmpty();
    };

    model->setSetupInput(m_server->setupLink(m_server->createSetupCode(m_server->adminId())));
    model->setEmail(QString::fromLatin1(DevServer::memberEmail));
    model->setPassword(u"falsch"_s);
    click("passwordToggle");
    QVERIFY(pressReturnIn({"serverField", "setupField", "emailField", "passwordField"}));
    QCOMPARE(whileBusy("loginButton", "/api/login"),
             QStringList({u"connectButton"_s, u"loginButton"_s}));
    QCOMPARE(shownMessage(), u"E-Mail oder Passwort ist falsch."_s);
    const int hue = message->palette().color(QPalette::WindowText).hue();
    QVERIFY2(hue >= 20 && hue <= 45, "the message line is orange");

    // Signed in, the state not loaded: loading, with header and footer.
    m_server->setFault(u"/api/state"_s, failing(503, u"Wartungsarbeiten."_s));
    click("connectButton");
    QTRY_COMPARE(shownMessage(), u"Wartungsarbeiten."_s);
    QCOMPARE(shownVariant(menu), u"loadingView"_s);
    QCOMPARE(menu.focusWidget(), &menu); // held for the form, not passed to a button
    QCOMPARE(part<QLabel>(menu, "loadingLabel")->text(), u"Lade Daten …"_s);
    QVERIFY(part(menu, "reloadButton")->isVisible() && part(menu, "logoutButton")->isVisible());
    QVERIFY(!part(menu, "adminSection")->isVisible());

    // Loaded, nothing running: the start form, and this user is an administrator.
    click("reloadButton");
    QTRY_COMPARE(shownVariant(menu), u"startForm"_s);
    QCOMPARE(menu.focusWidget(), part(menu, "clientSearchField"));
    QVERIFY(part(menu, "adminSection")->isVisible());
    m_server->clearRequests();
    QVERIFY(pressReturnIn({"clientSearchField", "noteField"}));
    m_server->setFault(u"/api/time/start"_s, failing(422, u"Kunde nicht verfügbar."_s));
    click("startButton");
    QTRY_COMPARE(shownMessage(), u"Kunde nicht verfügbar."_s);
    QCOMPARE(whileBusy("startButton", "/api/time/start"),
             QStringList({u"startButton"_s, u"phoneButton"_s}));
    QTRY_COMPARE(shownVariant(menu), u"runningEntryView"_s);
    QCOMPARE(menu.focusWidget(), part(menu, "stopButton"));
    QVERIFY(part(menu, "adminSection")->isVisible());
    QCOMPARE(whileBusy("stopButton", "/api/time/stop"),
             QStringList({u"stopButton"_s, u"phoneButton"_s}));
    QTRY_COMPARE(shownVariant(menu), u"startForm"_s);
    // The stop button lost the focus while disabled; the form gets it back.
    QCOMPARE(menu.focusWidget(), part(menu, "clientSearchField"));
    QCOMPARE(disabledActions(menu), QStringList());

    // A timer started elsewhere shows after a reload; stopped elsewhere, it says so.
    m_server->startEntryFor(m_server->adminId(), u"c6"_s, 1, QString(),
                            QDateTime::currentMSecsSinceEpoch());
    click("reloadButton");
    QTRY_COMPARE(shownVariant(menu), u"runningEntryView"_s);
    m_server->stopEntryFor(m_server->adminId());
    click("stopButton");
    QTRY_COMPARE(shownMessage(), u"Dieser Eintrag läuft nicht mehr."_s);
    QCOMPARE(shownVariant(menu), u"runningEntryView"_s);

    // Signed out by the server: the old state stays, the panel signs out anyway.
    m_server->setFault(u"/api/state"_s, failing(401, u"Bitte erneut anmelden."_s));
    click("reloadButton");
    QTRY_COMPARE(shownVariant(menu), u"signedOutSection"_s);
    QVERIFY(model->state().has_value());
    for (const char *name : {"reloadButton", "logoutButton", "adminSection"})
        QVERIFY2(!part(menu, name)->isVisible(), name);
    QCOMPARE(menu.focusWidget(), part(menu, "setupField"));
}

void PanelTest::pickersAndTheirChangeHandlers() {
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    QVERIFY(showAndSettle(menu, *model));
    auto *clients = part<QComboBox>(menu, "clientPicker");
    auto *reasons = part<QComboBox>(menu, "reasonPicker");
    auto *search = part<QLineEdit>(menu, "clientSearchField");
    auto *hint = part<QLabel>(menu, "missingRateHint");
    auto *start = part<QPushButton>(menu, "startButton");

    // The server's order, without disabled and archived clients.
    QCOMPARE(texts(clients),
             QStringList({"Müller GmbH", "MÜLLER Logistik", "Muller & Co", "Bäckerei Schäfer",
                          "Öko-Hof Jürgens", "Praxis Dr. Weiß", "Straßenbau Groß KG",
                          "Café Übersee", "Blumen Fröhlich", "Ingenieurbüro Nüßlein"}));
    QCOMPARE(texts(reasons),
             QStringList({"Beratung · 95.50 € / Std.", "Entwicklung · 120.00 € / Std.",
                          "Support · 80.00 € / Std."}));
    QVERIFY(!hint->isVisible());
    QVERIFY(choose(reasons, u"Entwicklung · 120.00 € / Std."_s));
    QCOMPARE(model->selectedReason(), 2);

    // A reason the next client also has stays chosen, with that client's rate;
    // otherwise the new client's first reason is taken.
    QVERIFY(choose(clients, u"Ingenieurbüro Nüßlein"_s));
    QCOMPARE(reasons->currentText(), u"Entwicklung · 130.00 € / Std."_s);
    QVERIFY(choose(clients, u"Bäckerei Schäfer"_s));
    QCOMPARE(texts(reasons),
             QStringList({"Beratung · 85.00 € / Std.", "Support · 60.00 € / Std."}));
    QCOMPARE(model->selectedReason(), 1);

    // No rate: no reasons, the hint, and no start.
    QVERIFY(choose(clients, u"Café Übersee"_s));
    QCOMPARE(reasons->count(), 0);
    QVERIFY(hint->isVisible());
    QCOMPARE(hint->text(), u"Für diesen Kunden fehlt noch ein Stundensatz in den Einstellungen."_s);
    QVERIFY(!start->isEnabled());

    // Each keystroke filters; a choice no longer listed moves to the first client.
    type(search, u"ül"_s);
    QCOMPARE(texts(clients), QStringList({"Müller GmbH", "MÜLLER Logistik"}));
    QCOMPARE(model->selectedClient(), u"c1"_s);
    QCOMPARE(model->selectedReason(), 1);
    QVERIFY(choose(clients, u"MÜLLER Logistik"_s));
    type(search, u"l"_s);
    QCOMPARE(model->selectedClient(), u"c2"_s);
    type(search, u"x"_s);
    QCOMPARE(clients->count(), 0);
    QCOMPARE(model->selectedClient(), QString());
    QVERIFY(!start->isEnabled());
    search->selectAll();
    QTest::keyClick(search, Qt::Key_Backspace);
    QCOMPARE(clients->count(), 10);
}

void PanelTest::modelEchoKeepsTheCursor() {
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    QVERIFY(showAndSettle(menu, *model));
    auto *note = part<QLineEdit>(menu, "noteField");
    note->setFocus();
    type(note, u"Abnahme"_s);
    note->setCursorPosition(2);
    type(note, u"X"_s);
    QCOMPARE(model->note(), u"AbXnahme"_s);
    QCOMPARE(note->cursorPosition(), 3);
    // The model's echo of what was typed leaves the field be: Ctrl+Z still
    // takes back the last key.
    QVERIFY(note->isUndoAvailable());
    // A change made by the model shows at once and leaves the cursor alone.
    model->setNote(u"AbXnahme vor Ort"_s);
    QCOMPARE(note->text(), u"AbXnahme vor Ort"_s);
    QCOMPARE(note->cursorPosition(), 3);

    // Ten megabytes pasted, twice: cut, never silently, and never within a
    // character made of two UTF-16 units.
    const QString pasted =
        QString(Model::maxNoteLength - 1, u'x') + u"🙂"_s + QString(10 << 20, u'y');
    for (int time = 0; time < 2; ++time) {
        note->selectAll();
        QGuiApplication::clipboard()->setText(pasted);
        note->paste();
        QCOMPARE(model->note(), pasted.left(Model::maxNoteLength - 1));
        QCOMPARE(note->text(), model->note());
        QCOMPARE(model->message(), u"Eine Notiz darf höchstens 32.767 Zeichen lang sein; der "
                                   u"eingefügte Text wurde darauf gekürzt."_s);
    }

    // A reload while someone types takes neither focus nor cursor.
    auto *search = part<QLineEdit>(menu, "clientSearchField");
    search->setFocus();
    type(search, u"Mül"_s);
    search->setCursorPosition(1);
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(menu.focusWidget(), search);
    QCOMPARE(search->cursorPosition(), 1);
    QCOMPARE(search->text(), u"Mül"_s);
}

void PanelTest::runningEntry_data() {
    QTest::addColumn<QString>("note");
    QTest::addColumn<qint64>("rateCents");
    QTest::addColumn<QString>("rateLine");
    QTest::newRow("note") << u"Schnittstelle"_s << qint64(9550) << u"Beratung · 95.50 € / Std."_s;
    QTest::newRow("no note") << QString() << qint64(0) << u"Beratung · 0.00 € / Std."_s;
    QTest::newRow("blanks are a note")
        << u"   "_s << qint64(-150) << u"Beratung · -1.50 € / Std."_s;
    QTest::newRow("markup shown as written")
        << u"<b>fett</b>"_s << qint64(123456) << u"Beratung · 1234.56 € / Std."_s;
}

void PanelTest::runningEntry() {
    QFETCH(QString, note);
    QFETCH(qint64, rateCents);
    QFETCH(QString, rateLine);
    const double startedAt = QDateTime::currentMSecsSinceEpoch() - 3725'000.0;
    const QString running = uR"({"id":"e1","client_name":"Müller GmbH","reason_name":"Beratung",
        "rate_cents":%1,"note":"%2","started_at":%3})"_s;
    m_server->setStateOverride(
        stateJson(u"member"_s, running.arg(QString::number(rateCents), note,
                                           QString::number(startedAt, 'f', 0))));
    auto model = m_fixture->signedInModel(m_server->memberId());
    QVERIFY(model);
    Menu menu(model.get());
    QVERIFY(showAndSettle(menu, *model));

    QCOMPARE(shownVariant(menu), u"runningEntryView"_s);
    QCOMPARE(part<QLabel>(menu, "clientNameLabel")->text(), u"Müller GmbH"_s);
    QCOMPARE(part<QLabel>(menu, "rateLabel")->text(), rateLine);
    auto *noteLabel = part<QLabel>(menu, "noteLabel");
    QCOMPARE(noteLabel->isVisible(), !note.isEmpty());
    QCOMPARE(noteLabel->text(), note);
    QCOMPARE(noteLabel->textFormat(), Qt::PlainText);
    QCOMPARE(disabledActions(menu), QStringList());

    // The clock ticks while the panel is shown, and only then.
    QWidget *clock = part(menu, "clockLabel");
    auto *ticker = part<QTimer>(menu, "clockTicker");
    const QString first = clock->property("text").toString();
    QVERIFY2(first.startsWith(u"01:02:"_s) && clockShowsNow(menu, startedAt), qPrintable(first));
    QTRY_VERIFY_WITH_TIMEOUT(clock->property("text").toString() != first, 8000);
    menu.hide();
    QVERIFY(!ticker->isActive());
    menu.show();
    QVERIFY(ticker->isActive());
    QVERIFY(clockShowsNow(menu, startedAt));
}

void PanelTest::adminSection_data() {
    QTest::addColumn<QString>("role");
    QTest::newRow("admin") << u"admin"_s;
    QTest::newRow("Admin") << u"Admin"_s;
    QTest::newRow("trailing blank") << u"admin "_s;
    QTest::newRow("member") << u"member"_s;
}

void PanelTest::adminSection() {
    QFETCH(QString, role);
    m_server->setStateOverride(stateJson(role));
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    QVERIFY(showAndSettle(menu, *model));
    QCOMPARE(shownVariant(menu), u"startForm"_s);
    QCOMPARE(part(menu, "adminSection")->isVisible(), role == u"admin"_s);
    if (role != u"admin"_s)
        return;
    auto *inbox = part(menu, "inboxLink");
    QVERIFY(inbox->isVisible());
    QCOMPARE(inbox->toolTip(), m_server->baseUrl() + u"/?tab=inbox"_s);
    QWidget *qr = part(menu, "qrImage");
    QVERIFY(!qr->isVisible() && !part(menu, "qrCaption")->isVisible());

    // "Handy verbinden": the code at 220 by 220, centred, with its caption.
    part<QPushButton>(menu, "phoneButton")->click();
    QTRY_VERIFY(!model->setupImage().isNull());
    QTRY_VERIFY(!model->busy());
    QVERIFY(qr->isVisible() && part(menu, "qrCaption")->isVisible());
    QCOMPARE(qr->size(), QSize(220, 220));
    QCOMPARE(qr->mapTo(&menu, QPoint(0, 0)).x(), (menu.width() - 220) / 2);
    QCOMPARE(part<QLabel>(menu, "messageLabel")->text(),
             u"Mit dem Handy scannen · 15 Minuten gültig."_s);
    // No smoothing: nothing but black and white.
    const QImage shown = qr->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(220, 220));
    QSet<QRgb> colours;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x)
            colours.insert(shown.pixel(x, y));
    }
    QCOMPARE(colours, QSet<QRgb>({qRgb(0, 0, 0), qRgb(255, 255, 255)}));

    // The copied link is marked secret for clipboard managers and goes after
    // its time, unless something else was copied meanwhile.
    AdminSection::clipboardLifetime = 300ms;
    QClipboard *clipboard = QGuiApplication::clipboard();
    part<QPushButton>(menu, "copyLinkButton")->click();
    QCOMPARE(clipboard->text(), model->setupLink());
    QCOMPARE(clipboard->mimeData()->data(u"x-kde-passwordManagerHint"_s), "secret");
    QTRY_VERIFY(clipboard->text().isEmpty());
    part<QPushButton>(menu, "copyLinkButton")->click();
    clipboard->setText(u"eigener Text"_s);
    QTest::qWait(500);
    QCOMPARE(clipboard->text(), u"eigener Text"_s);
}

void PanelTest::reloadButtonTurnsWhileWaiting() {
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    QVERIFY(showAndSettle(menu, *model));
    auto *button = part<QToolButton>(menu, "reloadButton");
    const QRect place = button->geometry();
    const auto shown = [button] { return button->icon().pixmap(QSize(16, 16)).toImage(); };
    const QImage still = shown();
    m_server->setFault(u"/api/state"_s, Fault{.delayMs = 1500, .times = 1});
    button->click();
    QTRY_VERIFY(shown() != still);
    const qint64 turned = button->icon().cacheKey();
    QTRY_VERIFY(button->icon().cacheKey() != turned); // and on, frame by frame
    QCOMPARE(button->geometry(), place);
    QTRY_VERIFY(!model->reloading());
    QCOMPARE(shown(), still);
}

// Panel and model destroyed while the panel holds the focus and its reload
// on showing still waits: the focus moving out during destruction reaches no
// half-destroyed panel, and the reload ends without touching either.
void PanelTest::goneWithFocusInside() {
    auto model = m_fixture->signedInModel(m_server->memberId());
    QVERIFY(model);
    auto menu = std::make_unique<Menu>(model.get());
    m_server->setFault(u"/api/state"_s, Fault{.delayMs = 1000, .times = 1});
    menu->show();
    QVERIFY(QTest::qWaitForWindowActive(menu.get()));
    QTRY_VERIFY(menu->isAncestorOf(QApplication::focusWidget()));
    QTRY_COMPARE(m_server->requestsTo(u"/api/state"_s).size(), 2);
    menu.reset();
    model.reset();
    QTest::qWait(100);
}

// A compositor may activate the panel after a quick open and close hid it;
// Qt then hands the focus to the next control shown (past the disabled
// "Gerät verbinden" to the password toggle). The next opening starts where
// the user was.
void PanelTest::lateActivationKeepsTheFocus() {
    auto model = m_fixture->newModel();
    PanelWindow window(new Menu(model.get()));
    window.popUp({});
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QWidget *setup = part(window, "setupField");
    QCOMPARE(window.focusWidget(), setup);
    window.hide();
    QApplication::setActiveWindow(&window);
    QTest::qWait(50);
    window.popUp({});
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.focusWidget(), setup);
}

QTEST_MAIN(PanelTest)
#include "tst_panel.moc"
