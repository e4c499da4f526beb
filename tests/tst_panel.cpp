// The panel over real models that talk to the devserver: which variant shows
// in which condition, what is enabled when, that edits reach the model at
// once and the model's changes come back without disturbing the user.

#include "modelfixture.h"
#include "ui/format.h"
#include "ui/menu.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

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
    return shown.size() > 1 ? QStringLiteral("several") : shown.value(0);
}

QStringList texts(QComboBox *combo) {
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

QVariantList ids(QComboBox *combo) {
    QVariantList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemData(i);
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
    if (target < 0)
        return false;
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    if (!QTest::qWaitFor([list] { return list->isVisible(); }, 5000))
        return false;
    list->setCurrentIndex(list->model()->index(target, 0));
    QTest::keyClick(list, Qt::Key_Return);
    return !list->isVisible() && combo->currentIndex() == target;
}

QByteArray errorBody(const QString &text) {
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), text}}).toJson();
}

Fault delayed(int ms = 1500) {
    Fault fault;
    fault.delayMs = ms;
    fault.times = 1;
    return fault;
}

Fault failing(int status, const QString &text) {
    Fault fault;
    fault.status = status;
    fault.body = errorBody(text);
    fault.times = 1;
    return fault;
}

// A state answer in the server's snake_case shape.
QJsonObject stateWithRole(const QString &role) {
    return QJsonObject{
        {QStringLiteral("user"),
         QJsonObject{{QStringLiteral("id"), QStringLiteral("u1")},
                     {QStringLiteral("name"), QStringLiteral("Clara Chefin")},
                     {QStringLiteral("role"), role}}},
        {QStringLiteral("clients"),
         QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("c1")},
                                {QStringLiteral("name"), QStringLiteral("Müller GmbH")},
                                {QStringLiteral("enabled"), 1},
                                {QStringLiteral("archived"), 0}}}},
        {QStringLiteral("reasons"),
         QJsonArray{QJsonObject{{QStringLiteral("id"), 1},
                                {QStringLiteral("name"), QStringLiteral("Beratung")},
                                {QStringLiteral("active"), 1}}}},
        {QStringLiteral("rates"),
         QJsonArray{QJsonObject{{QStringLiteral("client_id"), QStringLiteral("c1")},
                                {QStringLiteral("reason_id"), 1},
                                {QStringLiteral("cents"), 9550}}}},
        {QStringLiteral("running"), QJsonValue::Null},
    };
}

QJsonObject runningEntryJson(const QString &note, qint64 rateCents, double startedAt) {
    return QJsonObject{{QStringLiteral("id"), QStringLiteral("e1")},
                       {QStringLiteral("client_name"), QStringLiteral("Müller GmbH")},
                       {QStringLiteral("reason_name"), QStringLiteral("Beratung")},
                       {QStringLiteral("rate_cents"), rateCents},
                       {QStringLiteral("note"), note},
                       {QStringLiteral("started_at"), startedAt}};
}

QByteArray json(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

double nowMs() {
    return double(QDateTime::currentMSecsSinceEpoch());
}

// The clock shows the elapsed time of now or of the second before (a tick
// may just be due).
bool clockShowsNow(QWidget *clock, double startedAt) {
    const QString text = clock->property("text").toString();
    const double now = nowMs() / 1000.0;
    return text == formatElapsed(now, startedAt) || text == formatElapsed(now - 1.0, startedAt);
}

// The controls the Tab key visits, in order.
QStringList tabOrder(Menu &menu) {
    QStringList names;
    for (QWidget *w = menu.nextInFocusChain(); w != &menu; w = w->nextInFocusChain()) {
        if (w->window() == &menu && w->isVisible() && w->isEnabled() &&
            (w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty())
            names << w->objectName();
    }
    return names;
}

// Shows the panel and waits until its reload on showing is done: once a later
// reload has been applied, the model drops any earlier answer.
bool showAndSettle(Menu &menu, Model &model, DevServer &server) {
    menu.show();
    if (!QTest::qWaitForWindowExposed(&menu))
        return false;
    if (model.signedIn() && !QTest::qWaitFor([&] {
            return !server.requestsTo(QStringLiteral("/api/state")).isEmpty();
        }))
        return false;
    return finishes(model.refresh());
}

} // namespace

class PanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void signedOut();
    void returnStartsNothing();
    void variantsFollowTheModel();
    void busyDisablesActions();
    void pickersListAndChoose();
    void searchMovesTheSelection();
    void textFieldsKeepTheCursor();
    void runningEntry_data();
    void runningEntry();
    void clockTicksOnlyWhileShown();
    void adminSection_data();
    void adminSection();
    void qrCodeAt220();
    void messageInEveryVariant_data();
    void messageInEveryVariant();
    void reloadsWhenShownAndOnDemand();
    void buttonsThatLeaveThePanel();
    void sizeFollowsContent();
    void thousandsOfClients();

private:
    std::unique_ptr<ModelFixture> m_fixture;
    DevServer *m_server = nullptr;
};

void PanelTest::init() {
    m_fixture = std::make_unique<ModelFixture>();
    QVERIFY(m_fixture->started());
    m_server = &m_fixture->server();
}

void PanelTest::cleanup() {
    QVERIFY2(m_server->surprises().isEmpty(), qPrintable(m_server->surprises().join('\n')));
    m_server = nullptr;
    m_fixture.reset();
}

void PanelTest::signedOut() {
    auto model = m_fixture->newModel();
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));

    QCOMPARE(shownVariant(menu), QStringLiteral("signedOutSection"));
    auto *server = part<QLineEdit>(menu, "serverField");
    auto *setup = part<QLineEdit>(menu, "setupField");
    auto *connect = part<QPushButton>(menu, "connectButton");
    QCOMPARE(server->text(), m_server->baseUrl());
    QCOMPARE(server->placeholderText(), QStringLiteral("Server"));
    QCOMPARE(setup->placeholderText(), QStringLiteral("Einrichtungslink einfügen"));
    QCOMPARE(menu.focusWidget(), setup);
    QVERIFY(!connect->isEnabled());
    QVERIFY(!part(menu, "reloadButton")->isVisible());
    QVERIFY(!part(menu, "logoutButton")->isVisible());
    QVERIFY(!part(menu, "adminSection")->isVisible());
    QVERIFY(!part(menu, "messageLabel")->isVisible());
    QVERIFY(part(menu, "quitButton")->isVisible());
    QVERIFY(part(menu, "updateButton")->isVisible());
    QCOMPARE(part<QPushButton>(menu, "updateButton")->text(),
             QStringLiteral("Auf Updates prüfen …"));

    // A single blank is input too; the model says what is wrong with it.
    type(setup, QStringLiteral(" "));
    QCOMPARE(model->setupInput(), QStringLiteral(" "));
    QVERIFY(connect->isEnabled());
    QTest::keyClick(setup, Qt::Key_Backspace);
    QCOMPARE(model->setupInput(), QString());
    QVERIFY(!connect->isEnabled());

    // The password sign-in starts folded.
    auto *toggle = part<QToolButton>(menu, "passwordToggle");
    QCOMPARE(toggle->text(), QStringLiteral("Mit Passwort anmelden"));
    QVERIFY(!toggle->isChecked());
    QVERIFY(!part(menu, "emailField")->isVisible());
    toggle->click();
    QVERIFY(part(menu, "emailField")->isVisible());
    QCOMPARE(part<QLineEdit>(menu, "passwordField")->echoMode(), QLineEdit::Password);
    QVERIFY(part(menu, "loginButton")->isEnabled()); // empty fields are the model's business
    toggle->click();
    QVERIFY(!part(menu, "passwordField")->isVisible());

    // "Web-App öffnen" follows the Server field keystroke by keystroke.
    auto *webApp = part(menu, "webAppLink");
    QVERIFY(webApp->isVisible());
    QCOMPARE(webApp->toolTip(), m_server->baseUrl());
    server->selectAll();
    type(server, QStringLiteral("ftp://x"));
    QCOMPARE(model->serverURL(), QStringLiteral("ftp://x"));
    QVERIFY(!webApp->isVisible());
    server->selectAll();
    type(server, QStringLiteral("http://localhost:8080"));
    QVERIFY(webApp->isVisible());
    QCOMPARE(webApp->toolTip(), QStringLiteral("http://localhost:8080"));
}

void PanelTest::returnStartsNothing() {
    auto model = m_fixture->newModel();
    // Even inside a dialog with a default button, Return goes nowhere.
    QDialog dialog;
    auto *layout = new QVBoxLayout(&dialog);
    auto *menu = new Menu(model.get(), &dialog);
    layout->addWidget(menu);
    auto *dialogDefault = new QPushButton(QStringLiteral("OK"), &dialog);
    dialogDefault->setDefault(true);
    layout->addWidget(dialogDefault);
    QSignalSpy defaultClicked(dialogDefault, &QPushButton::clicked);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    model->setSetupInput(m_server->setupLink(m_server->createSetupCode(m_server->adminId())));
    model->setEmail(QString::fromLatin1(DevServer::adminEmail));
    model->setPassword(QString::fromLatin1(DevServer::adminPassword));
    part<QToolButton>(*menu, "passwordToggle")->click();
    for (const char *field : {"serverField", "setupField", "emailField", "passwordField"}) {
        QTest::keyClick(part(*menu, field), Qt::Key_Return);
        QTest::keyClick(part(*menu, field), Qt::Key_Enter);
    }
    QTest::qWait(300);
    QVERIFY(m_server->requestsTo(QStringLiteral("/api/setup")).isEmpty());
    QVERIFY(m_server->requestsTo(QStringLiteral("/api/login")).isEmpty());
    QCOMPARE(defaultClicked.count(), 0);
    QVERIFY(dialog.isVisible());
    QVERIFY(!model->signedIn());

    // Only the button does it.
    part<QPushButton>(*menu, "connectButton")->click();
    QTRY_COMPARE(shownVariant(*menu), QStringLiteral("startForm"));
    m_server->clearRequests();
    for (const char *field : {"clientSearchField", "noteField"}) {
        QTest::keyClick(part(*menu, field), Qt::Key_Return);
        QTest::keyClick(part(*menu, field), Qt::Key_Enter);
    }
    QTest::qWait(300);
    QVERIFY(m_server->requestsTo(QStringLiteral("/api/time/start")).isEmpty());
    QCOMPARE(defaultClicked.count(), 0);
}

void PanelTest::variantsFollowTheModel() {
    auto model = m_fixture->newModel();
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));

    // Signed in, the state held back: loading, with header and footer.
    Fault slow;
    slow.delayMs = 1000;
    m_server->setFault(QStringLiteral("/api/state"), slow);
    model->setSetupInput(m_server->setupLink(m_server->createSetupCode(m_server->adminId())));
    part<QPushButton>(menu, "connectButton")->click();
    QTRY_VERIFY(model->signedIn());
    QVERIFY(!model->state());
    QCOMPARE(shownVariant(menu), QStringLiteral("loadingView"));
    QVERIFY(part(menu, "loadingIndicator")->isVisible());
    QCOMPARE(part<QLabel>(menu, "loadingLabel")->text(), QStringLiteral("Lade Daten …"));
    QVERIFY(part(menu, "reloadButton")->isVisible());
    QVERIFY(part(menu, "reloadButton")->isEnabled());
    QCOMPARE(part(menu, "reloadButton")->toolTip(), QStringLiteral("Daten neu laden"));
    QVERIFY(part(menu, "logoutButton")->isVisible());
    QVERIFY(!part(menu, "adminSection")->isVisible());
    m_server->clearFaults();

    // Loaded, nothing running: the start form, and this user is an administrator.
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("startForm"));
    QVERIFY(part(menu, "adminSection")->isVisible());
    // Nothing animates out of sight.
    QVERIFY(!part(menu, "loadingIndicator")->property("animating").toBool());

    // A timer started elsewhere shows after a reload.
    m_server->startEntryFor(m_server->adminId(), QStringLiteral("c6"), 1, QString(), nowMs());
    part<QToolButton>(menu, "reloadButton")->click();
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("runningEntryView"));
    QVERIFY(part(menu, "adminSection")->isVisible());

    part<QPushButton>(menu, "stopButton")->click();
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("startForm"));

    // Signed out by the server: the old state stays, the panel signs out anyway.
    m_server->setFault(QStringLiteral("/api/state"),
                       failing(401, QStringLiteral("Bitte erneut anmelden.")));
    part<QToolButton>(menu, "reloadButton")->click();
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("signedOutSection"));
    QVERIFY(model->state().has_value());
    QVERIFY(!part(menu, "adminSection")->isVisible());
    QVERIFY(!part(menu, "reloadButton")->isVisible());
    QVERIFY(!part(menu, "logoutButton")->isVisible());
    QCOMPARE(menu.focusWidget(), part(menu, "setupField"));
}

void PanelTest::busyDisablesActions() {
    auto model = m_fixture->newModel();
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));
    const auto alwaysEnabled = [&](QStringList names) {
        for (const QString &name : names) {
            if (!menu.findChild<QWidget *>(name)->isEnabled())
                return false;
        }
        return true;
    };

    // Signed out: both sign-in buttons wait for the action in flight.
    model->setSetupInput(QStringLiteral("irgendwas"));
    model->setEmail(QString::fromLatin1(DevServer::memberEmail));
    model->setPassword(QStringLiteral("falsch"));
    part<QToolButton>(menu, "passwordToggle")->click();
    m_server->setFault(QStringLiteral("/api/login"), delayed());
    part<QPushButton>(menu, "loginButton")->click();
    QTRY_VERIFY(model->busy());
    QVERIFY(!part(menu, "connectButton")->isEnabled());
    QVERIFY(!part(menu, "loginButton")->isEnabled());
    QVERIFY(alwaysEnabled({"updateButton", "quitButton", "passwordToggle", "serverField"}));
    QTRY_VERIFY(!model->busy());
    QVERIFY(part(menu, "connectButton")->isEnabled());
    QVERIFY(part(menu, "loginButton")->isEnabled());

    // Signed in as administrator: start, then stop.
    model->setSetupInput(m_server->setupLink(m_server->createSetupCode(m_server->adminId())));
    part<QPushButton>(menu, "connectButton")->click();
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("startForm"));
    QTRY_VERIFY(!model->busy());
    QVERIFY(part(menu, "startButton")->isEnabled());
    QVERIFY(part(menu, "phoneButton")->isEnabled());
    m_server->setFault(QStringLiteral("/api/time/start"), delayed());
    part<QPushButton>(menu, "startButton")->click();
    QTRY_VERIFY(model->busy());
    QVERIFY(!part(menu, "startButton")->isEnabled());
    QVERIFY(!part(menu, "phoneButton")->isEnabled());
    QVERIFY(alwaysEnabled({"reloadButton", "updateButton", "logoutButton", "quitButton",
                           "clientPicker", "reasonPicker", "noteField"}));
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("runningEntryView"));
    QTRY_VERIFY(!model->busy());
    QVERIFY(part(menu, "stopButton")->isEnabled());

    m_server->setFault(QStringLiteral("/api/time/stop"), delayed());
    part<QPushButton>(menu, "stopButton")->click();
    QTRY_VERIFY(model->busy());
    QVERIFY(!part(menu, "stopButton")->isEnabled());
    QVERIFY(!part(menu, "phoneButton")->isEnabled());
    QVERIFY(alwaysEnabled({"reloadButton", "updateButton", "logoutButton", "quitButton"}));
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("startForm"));
    QTRY_VERIFY(!model->busy());
    QVERIFY(part(menu, "phoneButton")->isEnabled());
}

void PanelTest::pickersListAndChoose() {
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    QVERIFY(showAndSettle(menu, *model, *m_server));
    QCOMPARE(shownVariant(menu), QStringLiteral("startForm"));
    auto *clients = part<QComboBox>(menu, "clientPicker");
    auto *reasons = part<QComboBox>(menu, "reasonPicker");
    auto *start = part<QPushButton>(menu, "startButton");
    auto *hint = part<QLabel>(menu, "missingRateHint");

    // The server's order; disabled and archived clients are left out.
    QCOMPARE(texts(clients),
             QStringList({"Müller GmbH", "MÜLLER Logistik", "Muller & Co", "Bäckerei Schäfer",
                          "Öko-Hof Jürgens", "Praxis Dr. Weiß", "Straßenbau Groß KG",
                          "Café Übersee", "Blumen Fröhlich", "Ingenieurbüro Nüßlein"}));
    QCOMPARE(ids(clients),
             QVariantList({"c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c11", "c12"}));
    QCOMPARE(clients->currentText(), QStringLiteral("Müller GmbH"));
    QCOMPARE(texts(reasons),
             QStringList({"Beratung · 95.50 € / Std.", "Entwicklung · 120.00 € / Std.",
                          "Support · 80.00 € / Std."}));
    QCOMPARE(ids(reasons), QVariantList({qint64(1), qint64(2), qint64(3)}));
    QCOMPARE(reasons->currentIndex(), 0);
    QVERIFY(!hint->isVisible());
    QVERIFY(start->isEnabled());
    QCOMPARE(tabOrder(menu),
             QStringList({"reloadButton", "clientSearchField", "clientPicker", "reasonPicker",
                          "noteField", "startButton", "inboxLink", "phoneButton", "updateButton",
                          "webAppLink", "logoutButton", "quitButton"}));

    QVERIFY(choose(reasons, QStringLiteral("Entwicklung · 120.00 € / Std.")));
    QCOMPARE(model->selectedReason(), 2);

    // A reason the next client also has stays chosen, with that client's rate.
    QVERIFY(choose(clients, QStringLiteral("Ingenieurbüro Nüßlein")));
    QCOMPARE(model->selectedClient(), QStringLiteral("c12"));
    QCOMPARE(model->selectedReason(), 2);
    QCOMPARE(texts(reasons),
             QStringList({"Beratung · 125.00 € / Std.", "Entwicklung · 130.00 € / Std.",
                          "Support · 99.00 € / Std."}));
    QCOMPARE(reasons->currentText(), QStringLiteral("Entwicklung · 130.00 € / Std."));

    // Otherwise the first reason of the new client is taken.
    QVERIFY(choose(clients, QStringLiteral("Bäckerei Schäfer")));
    QCOMPARE(model->selectedReason(), 1);
    QCOMPARE(texts(reasons),
             QStringList({"Beratung · 85.00 € / Std.", "Support · 60.00 € / Std."}));

    // No rate (or only one for an inactive reason): the hint, and no start.
    for (const QString &name :
         {QStringLiteral("Café Übersee"), QStringLiteral("Straßenbau Groß KG")}) {
        QVERIFY(choose(clients, name));
        QCOMPARE(model->selectedReason(), 0);
        QCOMPARE(reasons->count(), 0);
        QVERIFY(hint->isVisible());
        QCOMPARE(
            hint->text(),
            QStringLiteral("Für diesen Kunden fehlt noch ein Stundensatz in den Einstellungen."));
        QVERIFY(!start->isEnabled());
    }

    // Starting takes the pickers' choice and the note.
    QVERIFY(choose(clients, QStringLiteral("Praxis Dr. Weiß")));
    QCOMPARE(model->selectedReason(), 1);
    QVERIFY(choose(reasons, QStringLiteral("Reisezeit · 50.00 € / Std.")));
    type(part(menu, "noteField"), QStringLiteral("Anfahrt"));
    start->click();
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("runningEntryView"));
    QCOMPARE(part<QLabel>(menu, "clientNameLabel")->text(), QStringLiteral("Praxis Dr. Weiß"));
    QCOMPARE(part<QLabel>(menu, "rateLabel")->text(), QStringLiteral("Reisezeit · 50.00 € / Std."));
    QCOMPARE(part<QLabel>(menu, "noteLabel")->text(), QStringLiteral("Anfahrt"));
}

void PanelTest::searchMovesTheSelection() {
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));
    auto *search = part<QLineEdit>(menu, "clientSearchField");
    auto *clients = part<QComboBox>(menu, "clientPicker");
    auto *start = part<QPushButton>(menu, "startButton");
    QCOMPARE(search->placeholderText(), QStringLiteral("Kunde suchen"));
    QVERIFY(choose(clients, QStringLiteral("Praxis Dr. Weiß")));
    QVERIFY(choose(part<QComboBox>(menu, "reasonPicker"),
                   QStringLiteral("Reisezeit · 50.00 € / Std.")));

    // Each keystroke filters and, once the chosen client is hidden, moves on.
    type(search, QStringLiteral("m"));
    QCOMPARE(model->clientSearch(), QStringLiteral("m"));
    QCOMPARE(model->selectedClient(), QStringLiteral("c1"));
    QCOMPARE(clients->currentText(), QStringLiteral("Müller GmbH"));
    QCOMPARE(model->selectedReason(), 1); // c1 has no "Reisezeit"
    type(search, QStringLiteral("ül"));
    QCOMPARE(texts(clients), QStringList({"Müller GmbH", "MÜLLER Logistik"}));
    QVERIFY(choose(clients, QStringLiteral("MÜLLER Logistik")));
    type(search, QStringLiteral("ler l"));
    QCOMPARE(texts(clients), QStringList({"MÜLLER Logistik"}));
    QCOMPARE(model->selectedClient(), QStringLiteral("c2"));

    // Nothing found: nothing chosen, nothing to start.
    type(search, QStringLiteral("x"));
    QCOMPARE(clients->count(), 0);
    QCOMPARE(model->selectedClient(), QString());
    QCOMPARE(model->selectedReason(), 0);
    QVERIFY(part(menu, "missingRateHint")->isVisible());
    QVERIFY(!start->isEnabled());

    search->selectAll();
    QTest::keyClick(search, Qt::Key_Backspace);
    QCOMPARE(model->clientSearch(), QString());
    QCOMPARE(clients->count(), 10);
    QCOMPARE(model->selectedClient(), QStringLiteral("c1"));
    QCOMPARE(model->selectedReason(), 1);
    QVERIFY(start->isEnabled());
}

void PanelTest::textFieldsKeepTheCursor() {
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    QVERIFY(showAndSettle(menu, *model, *m_server));
    auto *note = part<QLineEdit>(menu, "noteField");
    QCOMPARE(note->placeholderText(), QStringLiteral("Notiz (optional)"));

    note->setFocus();
    type(note, QStringLiteral("Abnahme"));
    QCOMPARE(model->note(), QStringLiteral("Abnahme"));
    note->setCursorPosition(2);
    type(note, QStringLiteral("X"));
    QCOMPARE(model->note(), QStringLiteral("AbXnahme"));
    QCOMPARE(note->cursorPosition(), 3);

    // A change made by the model shows at once and leaves the cursor alone.
    model->setNote(QStringLiteral("AbXnahme vor Ort"));
    QCOMPARE(note->text(), QStringLiteral("AbXnahme vor Ort"));
    QCOMPARE(note->cursorPosition(), 3);
    model->setNote(QStringLiteral("A"));
    QCOMPARE(note->text(), QStringLiteral("A"));
    QCOMPARE(note->cursorPosition(), 1);

    // A reload while someone types takes neither focus nor cursor.
    auto *search = part<QLineEdit>(menu, "clientSearchField");
    search->setFocus();
    type(search, QStringLiteral("Mül"));
    search->setCursorPosition(1);
    m_server->clearRequests();
    part<QToolButton>(menu, "reloadButton")->click();
    QTRY_COMPARE(m_server->requestsTo(QStringLiteral("/api/state")).size(), 1);
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(menu.focusWidget(), search);
    QCOMPARE(search->cursorPosition(), 1);
    QCOMPARE(search->text(), QStringLiteral("Mül"));

    // A successful start empties the note, in the field too.
    model->setNote(QStringLiteral("weg damit"));
    part<QPushButton>(menu, "startButton")->click();
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("runningEntryView"));
    QCOMPARE(note->text(), QString());
}

void PanelTest::runningEntry_data() {
    QTest::addColumn<QString>("note");
    QTest::addColumn<qint64>("rateCents");
    QTest::addColumn<QString>("rateLine");
    QTest::addColumn<bool>("noteShown");
    QTest::newRow("note") << QStringLiteral("Schnittstelle") << qint64(9550)
                          << QStringLiteral("Beratung · 95.50 € / Std.") << true;
    QTest::newRow("no note") << QString() << qint64(0) << QStringLiteral("Beratung · 0.00 € / Std.")
                             << false;
    QTest::newRow("blanks are a note") << QStringLiteral("   ") << qint64(-150)
                                       << QStringLiteral("Beratung · -1.50 € / Std.") << true;
    QTest::newRow("markup shown as written")
        << QStringLiteral("<b>fett</b>") << qint64(123456)
        << QStringLiteral("Beratung · 1234.56 € / Std.") << true;
}

void PanelTest::runningEntry() {
    QFETCH(QString, note);
    QFETCH(qint64, rateCents);
    QFETCH(QString, rateLine);
    QFETCH(bool, noteShown);

    const double startedAt = nowMs() - 3725'000.0;
    QJsonObject state = stateWithRole(QStringLiteral("member"));
    state.insert(QStringLiteral("running"), runningEntryJson(note, rateCents, startedAt));
    m_server->setStateOverride(json(state));
    auto model = m_fixture->signedInModel(m_server->memberId());
    QVERIFY(model);
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));

    QCOMPARE(shownVariant(menu), QStringLiteral("runningEntryView"));
    QCOMPARE(part<QLabel>(menu, "clientNameLabel")->text(), QStringLiteral("Müller GmbH"));
    QCOMPARE(part<QLabel>(menu, "rateLabel")->text(), rateLine);
    auto *noteLabel = part<QLabel>(menu, "noteLabel");
    QCOMPARE(noteLabel->isVisible(), noteShown);
    if (noteShown) {
        QCOMPARE(noteLabel->text(), note);
        QCOMPARE(noteLabel->textFormat(), Qt::PlainText);
    }
    QWidget *clock = part(menu, "clockLabel");
    QVERIFY2(clockShowsNow(clock, startedAt), qPrintable(clock->property("text").toString()));
    QVERIFY(clock->property("text").toString().startsWith(QStringLiteral("01:02:")));
    QVERIFY(part(menu, "stopButton")->isEnabled());
    QCOMPARE(part<QPushButton>(menu, "stopButton")->text(), QStringLiteral("Timer stoppen"));
}

void PanelTest::clockTicksOnlyWhileShown() {
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    const double startedAt = nowMs() + 2000.0; // a little in the future
    m_server->startEntryFor(m_server->adminId(), QStringLiteral("c1"), 1, QString(), startedAt);
    QVERIFY(finishes(model->refresh()));
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));
    QWidget *clock = part(menu, "clockLabel");
    auto *ticker = part<QTimer>(menu, "clockTicker");
    QVERIFY(ticker);

    QCOMPARE(clock->property("text").toString(), QStringLiteral("00:00:00"));
    QVERIFY(ticker->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(clock->property("text").toString(), QStringLiteral("00:00:01"), 8000);

    menu.hide();
    QVERIFY(!ticker->isActive());
    menu.show();
    QVERIFY(ticker->isActive());
    QVERIFY(clockShowsNow(clock, startedAt));
}

void PanelTest::adminSection_data() {
    QTest::addColumn<QString>("role");
    QTest::addColumn<bool>("shown");
    QTest::newRow("admin") << QStringLiteral("admin") << true;
    QTest::newRow("Admin") << QStringLiteral("Admin") << false;
    QTest::newRow("ADMIN") << QStringLiteral("ADMIN") << false;
    QTest::newRow("trailing blank") << QStringLiteral("admin ") << false;
    QTest::newRow("member") << QStringLiteral("member") << false;
    QTest::newRow("empty") << QString() << false;
}

void PanelTest::adminSection() {
    QFETCH(QString, role);
    QFETCH(bool, shown);
    m_server->setStateOverride(json(stateWithRole(role)));
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));

    QCOMPARE(shownVariant(menu), QStringLiteral("startForm"));
    QCOMPARE(part(menu, "adminSection")->isVisible(), shown);
    if (!shown)
        return;
    auto *inbox = part(menu, "inboxLink");
    QVERIFY(inbox->isVisible());
    QCOMPARE(inbox->toolTip(), m_server->baseUrl() + QStringLiteral("/?tab=inbox"));
    auto *phone = part<QPushButton>(menu, "phoneButton");
    QVERIFY(phone->isVisible());
    QVERIFY(phone->isEnabled());
    QCOMPARE(phone->text(), QStringLiteral("Handy verbinden"));
    QVERIFY(!part(menu, "qrImage")->isVisible());
    QVERIFY(!part(menu, "qrCaption")->isVisible());

    // No usable server address: no inbox and no web app, the rest stays.
    model->setServerURL(QStringLiteral("http://example.org"));
    QVERIFY(!inbox->isVisible());
    QVERIFY(!part(menu, "webAppLink")->isVisible());
    QVERIFY(phone->isVisible());
}

void PanelTest::qrCodeAt220() {
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    QVERIFY(showAndSettle(menu, *model, *m_server));

    m_server->setFault(QStringLiteral("/api/admin/setup-links"), delayed(800));
    part<QPushButton>(menu, "phoneButton")->click();
    QTRY_VERIFY(model->busy());
    QVERIFY(!part(menu, "phoneButton")->isEnabled());
    QTRY_VERIFY(!model->setupImage().isNull());
    QTRY_VERIFY(!model->busy());

    QWidget *qr = part(menu, "qrImage");
    QVERIFY(qr->isVisible());
    QCOMPARE(qr->size(), QSize(220, 220));
    // Centred in the panel.
    QCOMPARE(qr->mapTo(&menu, QPoint(0, 0)).x(), (menu.width() - 220) / 2);
    auto *caption = part<QLabel>(menu, "qrCaption");
    QVERIFY(caption->isVisible());
    QCOMPARE(caption->text(), QStringLiteral("Einmaligen QR-Code mit der Handy-Kamera scannen."));
    auto *message = part<QLabel>(menu, "messageLabel");
    QVERIFY(message->isVisible());
    QCOMPARE(message->text(), QStringLiteral("Mit dem Handy scannen · 15 Minuten gültig."));

    // No smoothing: every pixel is black or white.
    const QImage shown = qr->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(220, 220));
    int black = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb pixel = shown.pixel(x, y);
            QVERIFY2(pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255),
                     qPrintable(QStringLiteral("grey at %1,%2").arg(x).arg(y)));
            black += pixel == qRgb(0, 0, 0);
        }
    }
    QVERIFY(black > 220 * 220 / 5);

    // And what is on screen still scans as the link.
    if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
        QSKIP("zbarimg is not installed");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("qr.png"));
    QVERIFY(shown.save(path));
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"),
                                           QStringLiteral("-Sbinary"), path});
    QVERIFY(zbar.waitForFinished(20000));
    QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), model->setupLink());
}

void PanelTest::messageInEveryVariant_data() {
    QTest::addColumn<QString>("variant");
    QTest::newRow("signed out") << QStringLiteral("signedOutSection");
    QTest::newRow("loading") << QStringLiteral("loadingView");
    QTest::newRow("start form") << QStringLiteral("startForm");
    QTest::newRow("running entry") << QStringLiteral("runningEntryView");
}

void PanelTest::messageInEveryVariant() {
    QFETCH(QString, variant);
    std::unique_ptr<Model> model;
    QString expected;
    if (variant == QLatin1String("signedOutSection")) {
        model = m_fixture->newModel();
        model->setEmail(QString::fromLatin1(DevServer::memberEmail));
        model->setPassword(QStringLiteral("falsch"));
        QVERIFY(finishes(model->login()));
        expected = QStringLiteral("E-Mail oder Passwort ist falsch.");
    } else if (variant == QLatin1String("loadingView")) {
        Fault down = failing(503, QStringLiteral("Wartungsarbeiten."));
        down.times = -1;
        m_server->setFault(QStringLiteral("/api/state"), down);
        model = m_fixture->newModel();
        model->setSetupInput(m_server->setupLink(m_server->createSetupCode(m_server->adminId())));
        QVERIFY(finishes(model->connectWithSetupLink()));
        expected = QStringLiteral("Wartungsarbeiten.");
    } else if (variant == QLatin1String("startForm")) {
        model = m_fixture->signedInModel(m_server->adminId());
        QVERIFY(model);
        m_server->setFault(QStringLiteral("/api/time/start"),
                           failing(422, QStringLiteral("Dieser Kunde ist nicht verfügbar.")));
        QVERIFY(finishes(model->start()));
        expected = QStringLiteral("Dieser Kunde ist nicht verfügbar.");
    } else {
        model = m_fixture->signedInModel(m_server->memberId());
        QVERIFY(model);
        m_server->stopEntryFor(m_server->memberId()); // stopped elsewhere meanwhile
        QVERIFY(finishes(model->stop()));
        expected = QStringLiteral("Dieser Eintrag läuft nicht mehr.");
    }
    QCOMPARE(model->message(), expected);

    // Shown without showing the panel, so the reload on showing cannot clear it.
    Menu menu(model.get());
    QVERIFY(menu.findChild<QWidget *>(variant)->isVisibleTo(&menu));
    auto *message = part<QLabel>(menu, "messageLabel");
    QVERIFY(message->isVisibleTo(&menu));
    QCOMPARE(message->text(), expected);
    const int hue = message->palette().color(QPalette::WindowText).hue();
    QVERIFY2(hue >= 20 && hue <= 45, "the message line is orange");
}

void PanelTest::reloadsWhenShownAndOnDemand() {
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    m_server->clearRequests();
    const auto stateRequests = [this] {
        return m_server->requestsTo(QStringLiteral("/api/state")).size();
    };
    Menu menu(model.get());
    QCOMPARE(stateRequests(), 0);
    menu.show();
    QTRY_COMPARE(stateRequests(), 1);
    part<QToolButton>(menu, "reloadButton")->click();
    QTRY_COMPARE(stateRequests(), 2);
    menu.hide();
    menu.show();
    QTRY_COMPARE(stateRequests(), 3);

    // While an action is in flight the button stays usable but loads nothing.
    m_server->setFault(QStringLiteral("/api/time/start"), delayed(800));
    part<QPushButton>(menu, "startButton")->click();
    QTRY_VERIFY(model->busy());
    part<QToolButton>(menu, "reloadButton")->click();
    QCOMPARE(stateRequests(), 3);
    QTRY_VERIFY(!model->busy());
}

void PanelTest::buttonsThatLeaveThePanel() {
    auto model = m_fixture->signedInModel(m_server->memberId());
    QVERIFY(model);
    Menu menu(model.get());
    menu.show();
    QVERIFY(QTest::qWaitForWindowExposed(&menu));
    QSignalSpy updates(&menu, &Menu::checkForUpdatesRequested);
    QSignalSpy quits(&menu, &Menu::quitRequested);

    part<QPushButton>(menu, "updateButton")->click();
    QCOMPARE(updates.count(), 1);
    QCOMPARE(quits.count(), 0);
    part<QToolButton>(menu, "quitButton")->click();
    QCOMPARE(quits.count(), 1);
    QCOMPARE(part<QToolButton>(menu, "quitButton")->text(), QStringLiteral("Beenden"));

    auto *logout = part<QToolButton>(menu, "logoutButton");
    QCOMPARE(logout->text(), QStringLiteral("Abmelden"));
    logout->click();
    QTRY_COMPARE(shownVariant(menu), QStringLiteral("signedOutSection"));
    QTRY_COMPARE(m_server->requestsTo(QStringLiteral("/api/logout")).size(), 1);
    QCOMPARE(menu.focusWidget(), part(menu, "setupField"));
}

void PanelTest::sizeFollowsContent() {
    auto model = m_fixture->newModel();
    // As the app holds it: in a window that keeps to the panel's size.
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto *menu = new Menu(model.get(), &window);
    layout->addWidget(menu);
    QSignalSpy changed(menu, &Menu::sizeHintChanged);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(menu->width(), 340);
    QCOMPARE(window.width(), 340);
    const int folded = window.height();
    QCOMPARE(folded, menu->sizeHint().height());
    // The last control ends 16 above the bottom edge.
    QWidget *quit = part(*menu, "quitButton");
    QCOMPARE(quit->parentWidget()->mapTo(menu, QPoint(0, 0)).y() + quit->parentWidget()->height() +
                 16,
             menu->height());

    part<QToolButton>(*menu, "passwordToggle")->click();
    QTRY_VERIFY(window.height() > folded);
    QCOMPARE(window.height(), menu->sizeHint().height());
    QVERIFY(changed.count() >= 1);
    // Everything fits: the password field lies fully inside the panel.
    QWidget *password = part(*menu, "passwordField");
    QVERIFY(menu->rect().contains(QRect(password->mapTo(menu, QPoint(0, 0)), password->size())));

    part<QToolButton>(*menu, "passwordToggle")->click();
    QTRY_COMPARE(window.height(), folded);

    // A long message wraps inside the width and grows the panel.
    model->setEmail(QStringLiteral("x@example.org"));
    model->setPassword(QStringLiteral("p"));
    m_server->setFault(QStringLiteral("/api/login"),
                       failing(400, QStringLiteral("Ein sehr langer Fehlertext, der nicht in "
                                                   "eine Zeile passt und umbrechen muss, damit "
                                                   "nichts abgeschnitten wird.")));
    QVERIFY(finishes(model->login()));
    QTRY_VERIFY(window.height() > folded);
    QCOMPARE(window.width(), 340);
    QCOMPARE(window.height(), menu->sizeHint().height());
}

void PanelTest::thousandsOfClients() {
    QJsonObject state = stateWithRole(QStringLiteral("admin"));
    QJsonArray clients;
    QJsonArray rates;
    for (int i = 0; i < 5000; ++i) {
        const QString id = QStringLiteral("k%1").arg(i);
        clients.append(QJsonObject{
            {QStringLiteral("id"), id},
            {QStringLiteral("name"),
             QStringLiteral("Kunde %1 Straße %2").arg(i, 4, 10, QLatin1Char('0')).arg(i % 97)},
            {QStringLiteral("enabled"), 1},
            {QStringLiteral("archived"), 0}});
        rates.append(QJsonObject{{QStringLiteral("client_id"), id},
                                 {QStringLiteral("reason_id"), 1},
                                 {QStringLiteral("cents"), 9000 + i}});
    }
    state.insert(QStringLiteral("clients"), clients);
    state.insert(QStringLiteral("rates"), rates);
    m_server->setStateOverride(json(state));
    auto model = m_fixture->signedInModel(m_server->adminId());
    QVERIFY(model);
    Menu menu(model.get());
    QVERIFY(showAndSettle(menu, *model, *m_server));
    auto *picker = part<QComboBox>(menu, "clientPicker");
    QCOMPARE(picker->count(), 5000);

    // A reload that brings the same clients leaves the picker as it is.
    QSignalSpy rebuilt(picker->model(), &QAbstractItemModel::modelReset);
    m_server->clearRequests();
    part<QToolButton>(menu, "reloadButton")->click();
    QTRY_COMPARE(m_server->requestsTo(QStringLiteral("/api/state")).size(), 1);
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(rebuilt.count(), 0);

    // Typing stays quick: the slowest keystroke is reported, not asserted.
    auto *search = part<QLineEdit>(menu, "clientSearchField");
    qint64 slowest = 0;
    for (const QString &key :
         {QStringLiteral("k"), QStringLiteral("u"), QStringLiteral("n"), QStringLiteral("d"),
          QStringLiteral("e"), QStringLiteral(" "), QStringLiteral("1"), QStringLiteral("2")}) {
        QElapsedTimer clock;
        clock.start();
        type(search, key);
        slowest = qMax(slowest, clock.nsecsElapsed());
    }
    QCOMPARE(picker->count(), 100); // "Kunde 1200" to "Kunde 1299"
    QCOMPARE(model->selectedClient(), QStringLiteral("k1200"));
    QCOMPARE(picker->currentText(), QStringLiteral("Kunde 1200 Straße 36"));
    QTest::keyClick(search, Qt::Key_Backspace);
    QTest::keyClick(search, Qt::Key_Backspace);
    QCOMPARE(picker->count(), 5000);
    qInfo("slowest keystroke with 5000 clients: %.1f ms", double(slowest) / 1e6);
}

QTEST_MAIN(PanelTest)
#include "tst_panel.moc"
