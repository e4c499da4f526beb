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

struct Text {
    const char *name;
    QString text;
};

} // namespace

class PanelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ModelFixture> m_fixture;
    DevServer *m_server = nullptr;
    std::unique_ptr<Model> m_model;
    std::unique_ptr<Menu> m_menu;

    template <typename T = QWidget> T *part(const char *name) const {
        return m_menu->findChild<T *>(QLatin1String(name));
    }

    // Shows the panel over `model` and waits until its reload on showing is
    // done: once a later reload has been applied, the model drops any earlier
    // answer.
    bool show(std::unique_ptr<Model> model) {
        m_model = std::move(model);
        if (!m_model)
            return false;
        m_menu = std::make_unique<Menu>(m_model.get());
        m_menu->show();
        return QTest::qWaitForWindowExposed(m_menu.get()) && finishes(m_model->refresh());
    }

    // Those of `names` that are on screen.
    QStringList shown(std::initializer_list<const char *> names) const {
        QStringList list;
        for (const char *name : names)
            if (const QWidget *widget = part(name); widget && widget->isVisible())
                list << QLatin1String(name);
        return list;
    }
    // The one content variant on screen, "" when none, "several" when more.
    QString shownVariant() const {
        const QStringList variants =
            shown({"signedOutSection", "runningEntryView", "startForm", "loadingView"});
        return variants.size() > 1 ? u"several"_s : variants.value(0);
    }
    // The shown actions that cannot be pressed now (the update button is
    // only in builds with the update check).
    QStringList disabledActions() const {
        QStringList names =
            shown({"connectButton", "loginButton", "startButton", "stopButton", "phoneButton",
                   "reloadButton", "updateButton", "logoutButton", "quitButton"});
        names.removeIf([this](const QString &name) { return part(qPrintable(name))->isEnabled(); });
        return names;
    }

    // The clock shows the time since the start, now or a second ago (a tick
    // may just be due).
    bool clockShowsNow(double startedAt) const {
        const QString text = part("clockLabel")->property("text").toString();
        const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        return text == formatElapsed(now, startedAt) || text == formatElapsed(now - 1.0, startedAt);
    }

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<ModelFixture>();
        QVERIFY(m_fixture->started());
        m_server = &m_fixture->server();
    }
    void cleanup() {
        m_menu.reset();
        m_model.reset();
        QVERIFY2(m_server->surprises().isEmpty(), qPrintable(m_server->surprises().join('\n')));
        m_fixture.reset();
    }

    void signedOut() {
        QVERIFY(show(m_fixture->newModel()));
        auto *server = part<QLineEdit>("serverField");
        auto *setup = part<QLineEdit>("setupField");
        QCOMPARE(shownVariant(), u"signedOutSection"_s);
        QCOMPARE(server->text(), m_server->baseUrl());
        QCOMPARE(m_menu->focusWidget(), setup);
        QCOMPARE(disabledActions(), QStringList{u"connectButton"_s});
        QCOMPARE(shown({"reloadButton", "logoutButton", "adminSection", "messageLabel",
                        "settingsButton", "emailField"}),
                 QStringList()); // the password sign-in starts folded
        // Settings given, their button opens them from the keyboard too.
        QMenu settings;
        settings.addAction(u"Beim Anmelden starten"_s);
        m_menu->setSettingsMenu(&settings);
        auto *settingsButton = part<QToolButton>("settingsButton");
        QVERIFY(settingsButton->isVisible());
        QTimer::singleShot(100, &settings, [&] {
            QCOMPARE(QApplication::activePopupWidget(), &settings);
            settings.close();
        });
        QTest::keyClick(settingsButton, Qt::Key_Space);
        QTRY_VERIFY(!settings.isVisible());
        m_menu->setSettingsMenu(nullptr);
        QVERIFY(!settingsButton->isVisible());
        // A single blank is input too; the model says what is wrong with it.
        type(setup, u" "_s);
        QCOMPARE(m_model->setupInput(), u" "_s);
        QCOMPARE(disabledActions(), QStringList());
        // A sign-in the server refuses hands the focus back to its button, not
        // to the password toggle behind it, where a stray Space would unfold
        // the form.
        setup->clear();
        type(setup, u"https://zeit.example/#setup="_s + QString(43, u'A'));
        auto *connectButton = part<QPushButton>("connectButton");
        connectButton->setFocus();
        connectButton->click();
        QTRY_VERIFY(!m_model->busy() && !m_model->message().isEmpty());
        QCOMPARE(m_menu->focusWidget(), connectButton);
        setup->clear();
        type(setup, u" "_s);

        part<QToolButton>("passwordToggle")->click();
        QVERIFY(part("emailField")->isVisible());
        QCOMPARE(part<QLineEdit>("passwordField")->echoMode(), QLineEdit::Password);

        // "Web-App öffnen" follows the Server field keystroke by keystroke.
        auto *webApp = part("webAppLink");
        QVERIFY(webApp->isVisible());
        server->selectAll();
        type(server, u"ftp://x"_s);
        QCOMPARE(m_model->serverURL(), u"ftp://x"_s);
        QVERIFY(!webApp->isVisible());
        server->selectAll();
        type(server, u"http://localhost:8080"_s);
        QVERIFY(webApp->isVisible());
        QCOMPARE(webApp->toolTip(), u"http://localhost:8080"_s);

        // The footer's buttons hand over to the app.
        QSignalSpy updates(m_menu.get(), &Menu::checkForUpdatesRequested);
        QSignalSpy quits(m_menu.get(), &Menu::quitRequested);
        if (VELMORA_UPDATER)
            part<QPushButton>("updateButton")->click();
        else
            QVERIFY(!part("updateButton"));
        part<QToolButton>("quitButton")->click();
        QCOMPARE(updates.size(), VELMORA_UPDATER ? 1 : 0);
        QCOMPARE(quits.size(), 1);
    }

    // Every variant in turn: what shows, what waits for an action in flight,
    // the message line, and that Return starts nothing.
    void variantsAndTheirRules() {
        QVERIFY(show(m_fixture->newModel()));
        Model *model = m_model.get();
        const auto click = [&](const char *name) { part<QAbstractButton>(name)->click(); };
        auto *message = part<QLabel>("messageLabel");
        const auto shownMessage = [&] {
            return message->isVisible() ? message->text() : QString();
        };
        // Presses the button with the answer held back: what was disabled meanwhile.
        const auto whileBusy = [&](const char *button, const char *path) {
            m_server->setFault(QLatin1String(path), Fault{.delayMs = 1500, .times = 1});
            click(button);
            if (!QTest::qWaitFor([&] { return model->busy(); }))
                return QStringList{u"never busy"_s};
            const QStringList disabled = disabledActions();
            return QTest::qWaitFor([&] { return !model->busy(); }) ? disabled : QStringList();
        };
        const auto pressReturnIn = [&](QList<const char *> fields) {
            for (const char *field : fields) {
                QTest::keyClick(part(field), Qt::Key_Return);
                QTest::keyClick(part(field), Qt::Key_Enter);
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
        QCOMPARE(shownVariant(), u"loadingView"_s);
        QCOMPARE(m_menu->focusWidget(), m_menu.get()); // held for the form, not given to a button
        QCOMPARE(part<QLabel>("loadingLabel")->text(), u"Lade Daten …"_s);
        QCOMPARE(shown({"reloadButton", "logoutButton", "adminSection"}),
                 QStringList({u"reloadButton"_s, u"logoutButton"_s}));

        // Loaded, nothing running: the start form, and this user is an administrator.
        click("reloadButton");
        QTRY_COMPARE(shownVariant(), u"startForm"_s);
        QCOMPARE(m_menu->focusWidget(), part("clientSearchField"));
        QVERIFY(part("adminSection")->isVisible());
        m_server->clearRequests();
        QVERIFY(pressReturnIn({"clientSearchField", "noteField"}));
        m_server->setFault(u"/api/time/start"_s, failing(422, u"Kunde nicht verfügbar."_s));
        click("startButton");
        QTRY_COMPARE(shownMessage(), u"Kunde nicht verfügbar."_s);
        QCOMPARE(whileBusy("startButton", "/api/time/start"),
                 QStringList({u"startButton"_s, u"phoneButton"_s}));
        QTRY_COMPARE(shownVariant(), u"runningEntryView"_s);
        QCOMPARE(m_menu->focusWidget(), part("stopButton"));
        QVERIFY(part("adminSection")->isVisible());
        QCOMPARE(whileBusy("stopButton", "/api/time/stop"),
                 QStringList({u"stopButton"_s, u"phoneButton"_s}));
        QTRY_COMPARE(shownVariant(), u"startForm"_s);
        // The stop button lost the focus while disabled; the form gets it back.
        QCOMPARE(m_menu->focusWidget(), part("clientSearchField"));
        QCOMPARE(disabledActions(), QStringList());

        // A timer started elsewhere shows after a reload; stopped elsewhere, it says so.
        m_server->startEntryFor(m_server->adminId(), u"c6"_s, 1, QString(),
                                QDateTime::currentMSecsSinceEpoch());
        click("reloadButton");
        QTRY_COMPARE(shownVariant(), u"runningEntryView"_s);
        m_server->stopEntryFor(m_server->adminId());
        click("stopButton");
        QTRY_COMPARE(shownMessage(), u"Dieser Eintrag läuft nicht mehr."_s);
        QCOMPARE(shownVariant(), u"runningEntryView"_s);

        // Signed out by the server: the old state stays, the panel signs out anyway.
        m_server->setFault(u"/api/state"_s, failing(401, u"Bitte erneut anmelden."_s));
        click("reloadButton");
        QTRY_COMPARE(shownVariant(), u"signedOutSection"_s);
        QVERIFY(model->state().has_value());
        QCOMPARE(shown({"reloadButton", "logoutButton", "adminSection"}), QStringList());
        QCOMPARE(m_menu->focusWidget(), part("setupField"));
    }

    // The pickers show the model's lists and write a choice back; which
    // clients and reasons are offered and chosen is the model's to decide.
    void pickersAndTheirChangeHandlers() {
        QVERIFY(show(m_fixture->signedInModel(m_server->adminId())));
        auto *clients = part<QComboBox>("clientPicker");
        auto *reasons = part<QComboBox>("reasonPicker");
        auto *search = part<QLineEdit>("clientSearchField");
        auto *hint = part<QLabel>("missingRateHint");
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
        QCOMPARE(m_model->selectedReason(), 2);

        // Another client's list replaces the reasons, the choice shown with
        // it; a choice that client lacks is replaced.
        QVERIFY(choose(clients, u"Ingenieurbüro Nüßlein"_s));
        QCOMPARE(reasons->currentText(), u"Entwicklung · 130.00 € / Std."_s);
        QVERIFY(choose(clients, u"Bäckerei Schäfer"_s));
        QCOMPARE(m_model->selectedReason(), 1);
        QVERIFY(choose(clients, u"Café Übersee"_s));
        QCOMPARE(reasons->count(), 0);
        QCOMPARE(hint->text(),
                 u"Für diesen Kunden fehlt noch ein Stundensatz in den Einstellungen."_s);
        QVERIFY(hint->isVisible() && !part("startButton")->isEnabled());

        // Each keystroke filters; a choice no longer listed moves to the first client.
        type(search, u"ül"_s);
        QCOMPARE(texts(clients), QStringList({"Müller GmbH", "MÜLLER Logistik"}));
        QCOMPARE(m_model->selectedClient(), u"c1"_s);
        search->selectAll();
        QTest::keyClick(search, Qt::Key_Backspace);
        QCOMPARE(clients->count(), 10);
    }

    void modelEchoKeepsTheCursor() {
        QVERIFY(show(m_fixture->signedInModel(m_server->adminId())));
        auto *note = part<QLineEdit>("noteField");
        note->setFocus();
        type(note, u"Abnahme"_s);
        note->setCursorPosition(2);
        type(note, u"X"_s);
        QCOMPARE(m_model->note(), u"AbXnahme"_s);
        QCOMPARE(note->cursorPosition(), 3);
        // The model's echo of what was typed leaves the field be: Ctrl+Z still
        // takes back the last key.
        QVERIFY(note->isUndoAvailable());
        // A change made by the model shows at once and leaves the cursor alone.
        m_model->setNote(u"AbXnahme vor Ort"_s);
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
            QCOMPARE(m_model->note(), pasted.left(Model::maxNoteLength - 1));
            QCOMPARE(note->text(), m_model->note());
            QCOMPARE(m_model->message(), u"Eine Notiz darf höchstens 32.767 Zeichen lang sein; "
                                         u"der eingefügte Text wurde darauf gekürzt."_s);
        }

        // A reload while someone types takes neither focus nor cursor.
        auto *search = part<QLineEdit>("clientSearchField");
        search->setFocus();
        type(search, u"Mül"_s);
        search->setCursorPosition(1);
        QVERIFY(finishes(m_model->refresh()));
        QCOMPARE(m_menu->focusWidget(), search);
        QCOMPARE(search->cursorPosition(), 1);
        QCOMPARE(search->text(), u"Mül"_s);
    }

    void runningEntry_data() {
        testsupport::rows<Text>({{"note", u"Schnittstelle"_s},
                                 {"no note", QString()},
                                 {"blanks are a note", u"   "_s},
                                 {"markup shown as written", u"<b>fett</b>"_s}});
    }
    void runningEntry() {
        FETCH_ROW(Text);
        const double startedAt = QDateTime::currentMSecsSinceEpoch() - 3725'000.0;
        const QString running = uR"({"id":"e1","client_name":"Müller GmbH","reason_name":"Beratung",
            "rate_cents":9550,"note":"%1","started_at":%2})"_s;
        m_server->setStateOverride(
            stateJson(u"member"_s, running.arg(row.text, QString::number(startedAt, 'f', 0))));
        QVERIFY(show(m_fixture->signedInModel(m_server->memberId())));

        QCOMPARE(shownVariant(), u"runningEntryView"_s);
        QCOMPARE(part<QLabel>("clientNameLabel")->text(), u"Müller GmbH"_s);
        QCOMPARE(part<QLabel>("rateLabel")->text(), u"Beratung · 95.50 € / Std."_s);
        auto *note = part<QLabel>("noteLabel");
        QCOMPARE(note->isVisible(), !row.text.isEmpty());
        QCOMPARE(note->text(), row.text);
        QCOMPARE(note->textFormat(), Qt::PlainText);
        QCOMPARE(disabledActions(), QStringList());

        // The clock ticks while the panel is shown, and only then.
        QWidget *clock = part("clockLabel");
        auto *ticker = part<QTimer>("clockTicker");
        const QString first = clock->property("text").toString();
        QVERIFY2(first.startsWith(u"01:02:"_s) && clockShowsNow(startedAt), qPrintable(first));
        QTRY_VERIFY_WITH_TIMEOUT(clock->property("text").toString() != first, 8000);
        m_menu->hide();
        QVERIFY(!ticker->isActive());
        m_menu->show();
        QVERIFY(ticker->isActive());
        QVERIFY(clockShowsNow(startedAt));
    }

    void adminSection_data() {
        testsupport::rows<Text>({{"admin", u"admin"_s},
                                 {"Admin", u"Admin"_s},
                                 {"trailing blank", u"admin "_s},
                                 {"member", u"member"_s}});
    }
    void adminSection() {
        FETCH_ROW(Text);
        m_server->setStateOverride(stateJson(row.text));
        QVERIFY(show(m_fixture->signedInModel(m_server->adminId())));
        QCOMPARE(shownVariant(), u"startForm"_s);
        QCOMPARE(part("adminSection")->isVisible(), row.text == u"admin"_s);
        if (row.text != u"admin"_s)
            return;
        auto *inbox = part("inboxLink");
        QVERIFY(inbox->isVisible());
        QCOMPARE(inbox->toolTip(), m_server->baseUrl() + u"/?tab=inbox"_s);
        QWidget *qr = part("qrImage");
        QVERIFY(!qr->isVisible() && !part("qrCaption")->isVisible());

        // "Handy verbinden": the code at 220 by 220, centred, with its caption.
        part<QPushButton>("phoneButton")->click();
        QTRY_VERIFY(!m_model->setupImage().isNull() && !m_model->busy());
        QVERIFY(qr->isVisible() && part("qrCaption")->isVisible());
        QCOMPARE(qr->size(), QSize(220, 220));
        QCOMPARE(qr->mapTo(m_menu.get(), QPoint(0, 0)).x(), (m_menu->width() - 220) / 2);
        // No smoothing: nothing but black and white.
        const QImage shown = qr->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto *pixels = reinterpret_cast<const QRgb *>(shown.constBits());
        QCOMPARE(QSet<QRgb>(pixels, pixels + shown.width() * shown.height()),
                 QSet<QRgb>({qRgb(0, 0, 0), qRgb(255, 255, 255)}));

        // The copied link is marked secret for clipboard managers and goes
        // after its time, unless something else was copied meanwhile; on X11
        // from the middle click's selection too.
        AdminSection::clipboardLifetime = 300ms;
        QClipboard *clipboard = QGuiApplication::clipboard();
        QList<QClipboard::Mode> modes{QClipboard::Clipboard};
        if (clipboard->supportsSelection())
            modes << QClipboard::Selection;
        const auto holdAll = [&](const QString &text) {
            return std::all_of(modes.cbegin(), modes.cend(), [&](QClipboard::Mode mode) {
                return clipboard->text(mode) == text;
            });
        };
        part<QPushButton>("copyLinkButton")->click();
        QVERIFY(holdAll(m_model->setupLink()));
        for (const QClipboard::Mode mode : modes)
            QCOMPARE(clipboard->mimeData(mode)->data(u"x-kde-passwordManagerHint"_s), "secret");
        QTRY_VERIFY(holdAll(QString()));
        part<QPushButton>("copyLinkButton")->click();
        for (const QClipboard::Mode mode : modes)
            clipboard->setText(u"eigener Text"_s, mode);
        QTest::qWait(500);
        QVERIFY(holdAll(u"eigener Text"_s));
    }

    void reloadButtonTurnsWhileWaiting() {
        QVERIFY(show(m_fixture->signedInModel(m_server->adminId())));
        auto *button = part<QToolButton>("reloadButton");
        const QRect place = button->geometry();
        const auto shown = [button] { return button->icon().pixmap(QSize(16, 16)).toImage(); };
        const QImage still = shown();
        m_server->setFault(u"/api/state"_s, Fault{.delayMs = 1500, .times = 1});
        button->click();
        QTRY_VERIFY(shown() != still);
        const qint64 turned = button->icon().cacheKey();
        QTRY_VERIFY(button->icon().cacheKey() != turned); // and on, frame by frame
        QCOMPARE(button->geometry(), place);
        QTRY_VERIFY(!m_model->reloading());
        QCOMPARE(shown(), still);
    }

    // Panel and model destroyed while the panel holds the focus and its
    // reload on showing still waits: the focus moving out during destruction
    // reaches no half-destroyed panel, and the reload ends without touching
    // either.
    void goneWithFocusInside() {
        m_model = m_fixture->signedInModel(m_server->memberId());
        QVERIFY(m_model);
        m_menu = std::make_unique<Menu>(m_model.get());
        m_server->setFault(u"/api/state"_s, Fault{.delayMs = 1000, .times = 1});
        m_menu->show();
        QVERIFY(QTest::qWaitForWindowActive(m_menu.get()));
        QTRY_VERIFY(m_menu->isAncestorOf(QApplication::focusWidget()));
        QTRY_COMPARE(m_server->requestsTo(u"/api/state"_s).size(), 2);
        m_menu.reset();
        m_model.reset();
        QTest::qWait(100);
    }

    // A compositor may activate the panel after a quick open and close hid
    // it; Qt then hands the focus to the next control shown (past the
    // disabled "Gerät verbinden" to the password toggle). The next opening
    // starts where the user was.
    void lateActivationKeepsTheFocus() {
        m_model = m_fixture->newModel();
        PanelWindow window(new Menu(m_model.get()));
        window.popUp({});
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *setup = window.findChild<QWidget *>(u"setupField"_s);
        QCOMPARE(window.focusWidget(), setup);
        window.hide();
        QApplication::setActiveWindow(&window);
        QTest::qWait(50);
        window.popUp({});
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.focusWidget(), setup);
    }
};

QTEST_MAIN(PanelTest)
#include "tst_panel.moc"
