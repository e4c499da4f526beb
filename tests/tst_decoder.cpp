#include "client/decoder.h"
#include "client/failure.h"

#include <QTest>

#include <functional>
#include <limits>

Q_DECLARE_METATYPE(State)

namespace {

// A state answer as the server writes it today. Each test row changes one piece of it by
// text, so rows can use literals that no JSON writer would produce (1e3, 2^63, ...).
const QString camelState = QStringLiteral(R"({
  "user": {"id": "u1", "name": "Ada", "role": "admin"},
  "clients": [
    {"id": "c1", "name": "Acme", "enabled": 1, "archived": 0},
    {"id": "c2", "name": "Beta", "enabled": 0, "archived": 1}
  ],
  "reasons": [{"id": 7, "name": "Beratung", "active": 1}],
  "rates": [{"clientId": "c1", "reasonId": 7, "cents": 9500}],
  "running": {"id": "e1", "clientName": "Acme", "reasonName": "Beratung", "rateCents": 9500, "note": "", "startedAt": 1700000000000.5}
})");

const QString snakeState = QStringLiteral(R"({
  "user": {"id": "u1", "name": "Ada", "role": "admin"},
  "clients": [
    {"id": "c1", "name": "Acme", "enabled": 1, "archived": 0},
    {"id": "c2", "name": "Beta", "enabled": 0, "archived": 1}
  ],
  "reasons": [{"id": 7, "name": "Beratung", "active": 1}],
  "rates": [{"client_id": "c1", "reason_id": 7, "cents": 9500}],
  "running": {"id": "e1", "client_name": "Acme", "reason_name": "Beratung", "rate_cents": 9500, "note": "", "started_at": 1700000000000.5}
})");

State expectedState() {
    return {
        {"u1", "Ada", "admin"},
        {{"c1", "Acme", 1, 0}, {"c2", "Beta", 0, 1}},
        {{7, "Beratung", 1}},
        {{"c1", 7, 9500}},
        Entry{"e1", "Acme", "Beratung", 9500, "", 1700000000000.5},
    };
}

State expectedWith(const std::function<void(State &)> &change) {
    State state = expectedState();
    change(state);
    return state;
}

QByteArray replaced(const QString &base, const QString &from, const QString &to) {
    if (!base.contains(from))
        qFatal("test row does not match the base answer: %s", qPrintable(from));
    QString text = base;
    return text.replace(from, to).toUtf8();
}

// Runs `decode` and gives the failure text, or an empty text when it decoded.
template <typename F> QString failureOf(F decode) {
    try {
        decode();
    } catch (const DecodingError &error) {
        return error.description();
    }
    return QString();
}

const QString bad = QStringLiteral("Ungültige Antwort des Servers: ");

} // namespace

class TestDecoder : public QObject {
    Q_OBJECT

    // Defined below the class: moc trips over the JSON in raw string literals.
private slots:
    void state_data();
    void state();
    void snakeCaseKeys_data();
    void snakeCaseKeys();
    void snakeCaseState_data();
    void snakeCaseState();
    void keySettingApplies();
    void smallAnswers_data();
    void smallAnswers();
    void notAnObject_data();
    void notAnObject();
};

void TestDecoder::state_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<State>("expected");
    QTest::addColumn<QString>("error"); // empty: decodes to `expected`

    const QString running = camelState.mid(camelState.indexOf("{\"id\": \"e1\""));
    const QString runningObject = running.left(running.indexOf('}') + 1);
    const QString rates = R"("rates": [{"clientId": "c1", "reasonId": 7, "cents": 9500}],)";
    const QString client = R"({"id": "c1", "name": "Acme", "enabled": 1, "archived": 0})";

    // Values that decode.
    QTest::newRow("as sent") << ""
                             << "" << expectedState() << "";
    QTest::newRow("integer max") << "\"cents\": 9500"
                                 << "\"cents\": 9223372036854775807" << expectedWith([](State &s) {
                                        s.rates[0].cents = std::numeric_limits<qint64>::max();
                                    })
                                 << "";
    QTest::newRow("integer min") << "\"cents\": 9500"
                                 << "\"cents\": -9223372036854775808" << expectedWith([](State &s) {
                                        s.rates[0].cents = std::numeric_limits<qint64>::min();
                                    })
                                 << "";
    QTest::newRow("integer with exponent")
        << "\"cents\": 9500"
        << "\"cents\": 1e3" << expectedWith([](State &s) { s.rates[0].cents = 1000; }) << "";
    QTest::newRow("integer written as 1.0") << "\"active\": 1"
                                            << "\"active\": 1.0" << expectedState() << "";
    QTest::newRow("integer beyond double precision")
        << "\"cents\": 9500"
        << "\"cents\": 9007199254740993"
        << expectedWith([](State &s) { s.rates[0].cents = 9007199254740993; }) << "";
    QTest::newRow("double from integer")
        << "\"startedAt\": 1700000000000.5"
        << "\"startedAt\": 1700000000000"
        << expectedWith([](State &s) { s.running->startedAt = 1700000000000; }) << "";
    QTest::newRow("running null") << runningObject << "null"
                                  << expectedWith([](State &s) { s.running.reset(); }) << "";
    QTest::newRow("running absent") << ",\n  \"running\": " + runningObject << ""
                                    << expectedWith([](State &s) { s.running.reset(); }) << "";
    const qsizetype lists = camelState.indexOf("\"clients\"");
    QTest::newRow("empty lists") << camelState.mid(lists, camelState.indexOf("\"running\"") - lists)
                                 << R"("clients": [], "reasons": [], "rates": [], )"
                                 << expectedWith([](State &s) {
                                        s.clients.clear();
                                        s.reasons.clear();
                                        s.rates.clear();
                                    })
                                 << "";
    QTest::newRow("unknown keys everywhere")
        << "\"role\": \"admin\"}"
        << R"("role": "admin", "avatar": {"x": [1, null]}}, "version": 3, "clientId": 5)"
        << expectedState() << "";
    QTest::newRow("unknown key in a list element")
        << "\"cents\": 9500"
        << R"("cents": 9500, "currency": "EUR")" << expectedState() << "";
    QTest::newRow("duplicate key, last wins")
        << "\"name\": \"Ada\""
        << R"("name": "Bob", "name": "Ada")" << expectedState() << "";

    // Values that fail the whole answer, named by their key path.
    QTest::newRow("customer id number")
        << "\"id\": \"c2\""
        << "\"id\": 2" << State()
        << bad + "„clients[1].id“ muss ein Text sein, ist aber eine Zahl.";
    QTest::newRow("reason id string")
        << "\"id\": 7"
        << "\"id\": \"7\"" << State()
        << bad + "„reasons[0].id“ muss eine ganze Zahl sein, ist aber ein Text.";
    QTest::newRow("flag as boolean")
        << "\"enabled\": 1"
        << "\"enabled\": true" << State()
        << bad + "„clients[0].enabled“ muss eine ganze Zahl sein, ist aber true.";
    QTest::newRow("integer with fraction")
        << "\"cents\": 9500"
        << "\"cents\": 1.5" << State()
        << bad + "„rates[0].cents“ muss eine ganze Zahl sein, ist aber 1.5.";
    QTest::newRow("integer 2^63") << "\"cents\": 9500"
                                  << "\"cents\": 9223372036854775808" << State()
                                  << bad + "„rates[0].cents“ ist zu groß für eine ganze Zahl.";
    QTest::newRow("integer far below")
        << "\"rateCents\": 9500"
        << "\"rateCents\": -1e19" << State()
        << bad + "„running.rateCents“ ist zu klein für eine ganze Zahl.";
    QTest::newRow("double as string")
        << "\"startedAt\": 1700000000000.5"
        << "\"startedAt\": \"1700000000000\"" << State()
        << bad + "„running.startedAt“ muss eine Zahl sein, ist aber ein Text.";
    QTest::newRow("double null") << "\"startedAt\": 1700000000000.5"
                                 << "\"startedAt\": null" << State()
                                 << bad + "„running.startedAt“ ist null.";
    QTest::newRow("string as list") << "\"name\": \"Ada\""
                                    << "\"name\": [\"Ada\"]" << State()
                                    << bad + "„user.name“ muss ein Text sein, ist aber eine Liste.";
    QTest::newRow("required key missing") << ", \"role\": \"admin\""
                                          << "" << State() << bad + "„user.role“ fehlt.";
    QTest::newRow("required record null") << R"({"id": "u1", "name": "Ada", "role": "admin"})"
                                          << "null" << State() << bad + "„user“ ist null.";
    QTest::newRow("list missing") << rates << "" << State() << bad + "„rates“ fehlt.";
    QTest::newRow("list as object") << rates << "\"rates\": {}," << State()
                                    << bad + "„rates“ muss eine Liste sein, ist aber ein Objekt.";
    QTest::newRow("list element not an object")
        << client << "3" << State()
        << bad + "„clients[0]“ muss ein Objekt sein, ist aber eine Zahl.";
    QTest::newRow("list element null")
        << client << "null" << State() << bad + "„clients[0]“ muss ein Objekt sein, ist aber null.";
    QTest::newRow("running empty object")
        << runningObject << "{}" << State() << bad + "„running.id“ fehlt.";
    QTest::newRow("running not an object")
        << runningObject << "false" << State()
        << bad + "„running“ muss ein Objekt sein, ist aber false.";
    QTest::newRow("running with a bad field")
        << "\"note\": \"\""
        << "\"note\": 0" << State()
        << bad + "„running.note“ muss ein Text sein, ist aber eine Zahl.";
    QTest::newRow("first fault in field order wins")
        << "\"role\": \"admin\"},\n  \"clients\": [\n    {\"id\": \"c1\""
        << "\"role\": 1},\n  \"clients\": [\n    {\"id\": 1" << State()
        << bad + "„user.role“ muss ein Text sein, ist aber eine Zahl.";
}

void TestDecoder::state() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(State, expected);
    QFETCH(QString, error);
    const QByteArray body = from.isEmpty() ? camelState.toUtf8() : replaced(camelState, from, to);
    if (error.isEmpty())
        QCOMPARE(decodeState(body), expected);
    else
        QCOMPARE(failureOf([&] { decodeState(body); }), error);
}

void TestDecoder::snakeCaseKeys_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("snake") << "client_id"
                           << "clientId";
    QTest::newRow("upper snake") << "CLIENT_ID"
                                 << "clientId";
    QTest::newRow("camel unchanged") << "clientId"
                                     << "clientId";
    QTest::newRow("three pieces") << "rate_in_cents"
                                  << "rateInCents";
    QTest::newRow("mixed case pieces") << "sTaRtEd_aT"
                                       << "startedAt";
    QTest::newRow("outer underscores kept") << "_a_b_"
                                            << "_aB_";
    QTest::newRow("double outer underscores") << "__client_id__"
                                              << "__clientId__";
    QTest::newRow("run of underscores") << "a__b"
                                        << "aB";
    QTest::newRow("single piece with outer") << "_id_"
                                             << "_id_";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("underscores only") << "___"
                                      << "___";
    QTest::newRow("upper start unchanged") << "ClientId"
                                           << "ClientId";
    QTest::newRow("upper single piece unchanged") << "ID"
                                                  << "ID";
    QTest::newRow("digits") << "line_2_total"
                            << "line2Total";
    QTest::newRow("non-ASCII") << "ÄRGER_ÜBER"
                               << "ärgerÜber";
    QTest::newRow("no Turkish dotless i") << "ITEM_ID"
                                          << "itemId";
}

void TestDecoder::snakeCaseKeys() {
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QCOMPARE(convertFromSnakeCase(key), expected);
}

void TestDecoder::snakeCaseState_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("error"); // empty: decodes like the camel-case answer

    QTest::newRow("snake case") << ""
                                << ""
                                << "";
    QTest::newRow("upper snake case") << "\"client_name\""
                                      << "\"CLIENT_NAME\""
                                      << "";
    QTest::newRow("camel and snake mixed") << "\"reason_id\""
                                           << "\"reasonId\""
                                           << "";
    QTest::newRow("both spellings, camel wins") << "\"client_id\": \"c1\""
                                                << R"("client_id": "zz", "clientId": "c1")"
                                                << "";
    QTest::newRow("failure names the key as sent")
        << "\"started_at\": 1700000000000.5"
        << "\"started_at\": null" << bad + "„running.started_at“ ist null.";
    QTest::newRow("failure in a list names the key as sent")
        << "\"reason_id\": 7"
        << "\"REASON_ID\": 7.25"
        << bad + "„rates[0].REASON_ID“ muss eine ganze Zahl sein, ist aber 7.25.";
    QTest::newRow("upper camel does not match")
        << "\"client_id\""
        << "\"ClientId\"" << bad + "„rates[0].clientId“ fehlt.";
    QTest::newRow("top-level keys converted too") << "\"user\""
                                                  << "\"_user_\"" << bad + "„user“ fehlt.";
}

void TestDecoder::snakeCaseState() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, error);
    const QByteArray body = from.isEmpty() ? snakeState.toUtf8() : replaced(snakeState, from, to);
    if (error.isEmpty())
        QCOMPARE(decodeState(body), decodeState(camelState.toUtf8()));
    else
        QCOMPARE(failureOf([&] { decodeState(body); }), error);
}

void TestDecoder::keySettingApplies() {
    // The same record decodes from snake case only when asked to.
    const QByteArray entry = R"({"id": "e", "client_name": "A", "reason_name": "B",
                                 "rate_cents": 1, "note": "n", "started_at": 2})";
    QCOMPARE(decode<Entry>(entry, KeyDecoding::FromSnakeCase), (Entry{"e", "A", "B", 1, "n", 2}));
    QCOMPARE(failureOf([&] { decode<Entry>(entry, KeyDecoding::AsWritten); }),
             bad + "„clientName“ fehlt.");
}

void TestDecoder::smallAnswers_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected"); // the field's value, or the failure text

    QTest::newRow("login") << "login" << QByteArray(R"({"token": "abc"})") << "abc";
    QTest::newRow("login extra keys")
        << "login" << QByteArray(R"({"token": "abc", "user": {"id": 1}})") << "abc";
    QTest::newRow("login duplicate key")
        << "login" << QByteArray(R"({"token": "old", "token": "abc"})") << "abc";
    QTest::newRow("login key not converted")
        << "login" << QByteArray(R"({"TOKEN": "abc"})") << bad + "„token“ fehlt.";
    QTest::newRow("login token number") << "login" << QByteArray(R"({"token": 42})")
                                        << bad + "„token“ muss ein Text sein, ist aber eine Zahl.";
    QTest::newRow("setup link") << "setup" << QByteArray(R"({"link": "https://h/#setup=x"})")
                                << "https://h/#setup=x";
    QTest::newRow("setup link missing") << "setup" << QByteArray("{}") << bad + "„link“ fehlt.";
    QTest::newRow("sync true") << "sync" << QByteArray(R"({"ninjaSynced": true})") << "true";
    QTest::newRow("sync false") << "sync" << QByteArray(R"({"ninjaSynced": false})") << "false";
    QTest::newRow("sync snake case not recognised")
        << "sync" << QByteArray(R"({"ninja_synced": true})") << bad + "„ninjaSynced“ fehlt.";
    QTest::newRow("sync number")
        << "sync" << QByteArray(R"({"ninjaSynced": 1})")
        << bad + "„ninjaSynced“ muss true oder false sein, ist aber eine Zahl.";
    QTest::newRow("sync string")
        << "sync" << QByteArray(R"({"ninjaSynced": "true"})")
        << bad + "„ninjaSynced“ muss true oder false sein, ist aber ein Text.";
    QTest::newRow("error") << "error" << QByteArray(R"({"error": "Falsches Passwort."})")
                           << "Falsches Passwort.";
    QTest::newRow("error null") << "error" << QByteArray(R"({"error": null})")
                                << bad + "„error“ ist null.";
    QTest::newRow("error number") << "error" << QByteArray(R"({"error": 500})")
                                  << bad + "„error“ muss ein Text sein, ist aber eine Zahl.";
}

void TestDecoder::smallAnswers() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QString value;
    const QString failure = failureOf([&] {
        if (kind == "login")
            value = decodeLoginResponse(body).token;
        else if (kind == "setup")
            value = decodeSetupLinkResponse(body).link;
        else if (kind == "sync")
            value = decodeSyncResponse(body).ninjaSynced ? "true" : "false";
        else
            value = decodeApiError(body).error;
    });
    QCOMPARE(failure.isEmpty() ? value : failure, expected);
}

void TestDecoder::notAnObject_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const QString notJson = QStringLiteral("Die Antwort des Servers ist kein gültiges JSON ");
    const QString notObject = QStringLiteral("Die Antwort des Servers ist kein JSON-Objekt, ");

    QTest::newRow("empty") << QByteArray() << "Die Antwort des Servers ist leer.";
    QTest::newRow("blank") << QByteArray(" \r\n") << "Die Antwort des Servers ist leer.";
    QTest::newRow("html") << QByteArray("<html><body>502 Bad Gateway</body></html>")
                          << notJson + "(Zeichen 1: unzulässiger Wert).";
    QTest::newRow("value missing")
        << QByteArray(R"({"token":})") << notJson + "(Zeichen 10: Wert fehlt).";
    QTest::newRow("position counts characters")
        << QByteArray(R"({"tökän": "x",})") << notJson + "(Zeichen 15: Wert fehlt).";
    QTest::newRow("cut off") << QByteArray(R"({"token": "ab)")
                             << notJson + "(Zeichen 13: Text nicht abgeschlossen).";
    QTest::newRow("trailing text") << QByteArray(R"({"token": "abc"} x)")
                                   << notJson + "(Zeichen 17: überzählige Zeichen am Ende).";
    QTest::newRow("number") << QByteArray("42") << notObject + "sondern eine Zahl.";
    QTest::newRow("null") << QByteArray("null") << notObject + "sondern null.";
    QTest::newRow("text") << QByteArray("\"ok\"") << notObject + "sondern ein Text.";
    QTest::newRow("list") << QByteArray(R"([{"token": "abc"}])")
                          << notObject + "sondern eine Liste.";
}

void TestDecoder::notAnObject() {
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QCOMPARE(failureOf([&] { decodeState(body); }), expected);
    QCOMPARE(failureOf([&] { decodeLoginResponse(body); }), expected);
}

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
