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

// The same answer with snake_case keys, as "api/state" sends it.
QString snakeCased(QString text) {
    const char *const keys[][2] = {{"clientId", "client_id"},     {"reasonId", "reason_id"},
                                   {"clientName", "client_name"}, {"reasonName", "reason_name"},
                                   {"rateCents", "rate_cents"},   {"startedAt", "started_at"}};
    for (const auto &[camel, snake] : keys)
        text.replace(QLatin1String(camel), QLatin1String(snake));
    return text;
}
const QString snakeState = snakeCased(camelState);

State expectedWith(const std::function<void(State &)> &change = {}) {
    State state{
        {"u1", "Ada", "admin"},
        {{"c1", "Acme", 1, 0}, {"c2", "Beta", 0, 1}},
        {{7, "Beratung", 1}},
        {{"c1", 7, 9500}},
        Entry{"e1", "Acme", "Beratung", 9500, "", 1700000000000.5},
    };
    if (change)
        change(state);
    return state;
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

// Rows of the state tables: the base answer with `from` replaced by `to`.
void decodes(const char *name, const QString &from, const QString &to, const State &expected) {
    QTest::newRow(name) << from << to << expected << QString();
}
void fails(const char *name, const QString &from, const QString &to, const QString &error) {
    QTest::newRow(name) << from << to << State() << bad + error;
}
void stateColumns() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<State>("expected");
    QTest::addColumn<QString>("error"); // empty: decodes to `expected`
}

// Runs one row of a state table against `base`.
void checkState(QString base) {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(State, expected);
    QFETCH(QString, error);
    QVERIFY2(base.contains(from), "the row does not match the base answer");
    const QByteArray body = base.replace(from, to).toUtf8();
    if (error.isEmpty())
        QCOMPARE(decodeState(body), expected);
    else
        QCOMPARE(failureOf([&] { decodeState(body); }), error);
}

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
    void smallAnswers_data();
    void smallAnswers();
    void strictSyntax_data();
    void strictSyntax();
};

void TestDecoder::state_data() {
    stateColumns();
    const QString running = camelState.mid(camelState.indexOf("{\"id\": \"e1\""));
    const QString runningObject = running.left(running.indexOf('}') + 1);
    const QString rates = R"("rates": [{"clientId": "c1", "reasonId": 7, "cents": 9500}],)";
    const QString client = R"({"id": "c1", "name": "Acme", "enabled": 1, "archived": 0})";
    const QString cents = R"("cents": 9500)";

    decodes("as sent", "", "", expectedWith());
    decodes("integer max", cents, R"("cents": 9223372036854775807)",
            expectedWith([](State &s) { s.rates[0].cents = std::numeric_limits<qint64>::max(); }));
    decodes("integer min", cents, R"("cents": -9223372036854775808)",
            expectedWith([](State &s) { s.rates[0].cents = std::numeric_limits<qint64>::min(); }));
    decodes("integer as 1e3", cents, R"("cents": 1e3)",
            expectedWith([](State &s) { s.rates[0].cents = 1000; }));
    decodes("integer written as 1.0", R"("active": 1)", R"("active": 1.0)", expectedWith());
    decodes("integer beyond double precision", cents, R"("cents": 9007199254740993)",
            expectedWith([](State &s) { s.rates[0].cents = 9007199254740993; }));
    decodes("double from integer", R"("startedAt": 1700000000000.5)",
            R"("startedAt": 1700000000000)",
            expectedWith([](State &s) { s.running->startedAt = 1700000000000; }));
    decodes("running null", runningObject, "null",
            expectedWith([](State &s) { s.running.reset(); }));
    decodes("running absent", ",\n  \"running\": " + runningObject, "",
            expectedWith([](State &s) { s.running.reset(); }));
    decodes("empty list", rates, R"("rates": [],)",
            expectedWith([](State &s) { s.rates.clear(); }));
    decodes("escapes and raw UTF-8 in texts", R"("name": "Ada")",
            R"("name": "\"A\\ \u00e4\ud83d\ude00\n ß")",
            expectedWith([](State &s) { s.user.name = QString::fromUtf8("\"A\\ ä😀\n ß"); }));
    decodes("unknown keys everywhere", R"("role": "admin"})",
            R"("role": "admin", "avatar": {"x": [1, null]}}, "version": 3, "clientId": 5)",
            expectedWith());

    // One bad value fails the whole answer, named by its key path.
    fails("customer id number", R"("id": "c2")", R"("id": 2)",
          "„clients[1].id“ muss ein Text sein, ist aber eine Zahl.");
    fails("flag as boolean", R"("enabled": 1)", R"("enabled": true)",
          "„clients[0].enabled“ muss eine ganze Zahl sein, ist aber true.");
    fails("integer with fraction", cents, R"("cents": 1.5)",
          "„rates[0].cents“ muss eine ganze Zahl sein, ist aber 1.5.");
    fails("integer 2^63", cents, R"("cents": 9223372036854775808)",
          "„rates[0].cents“ ist zu groß für eine ganze Zahl.");
    fails("integer 2^63 as double", cents, R"("cents": 9.3e18)",
          "„rates[0].cents“ ist zu groß für eine ganze Zahl.");
    fails("integer below -2^63 as double", cents, R"("cents": -9.3e18)",
          "„rates[0].cents“ ist zu klein für eine ganze Zahl.");
    fails("double as string", R"("startedAt": 1700000000000.5)", R"("startedAt": "1")",
          "„running.startedAt“ muss eine Zahl sein, ist aber ein Text.");
    fails("string as list", R"("name": "Ada")", R"("name": ["Ada"])",
          "„user.name“ muss ein Text sein, ist aber eine Liste.");
    fails("required key missing", R"(, "role": "admin")", "", "„user.role“ fehlt.");
    fails("list as object", rates, R"("rates": {},)",
          "„rates“ muss eine Liste sein, ist aber ein Objekt.");
    fails("list element not an object", client, "3",
          "„clients[0]“ muss ein Objekt sein, ist aber eine Zahl.");
    fails("running empty object", runningObject, "{}", "„running.id“ fehlt.");
    fails("first fault in field order wins", R"("name": "Ada", "role": "admin")",
          R"("role": 1, "name": 2)", "„user.name“ muss ein Text sein, ist aber eine Zahl.");
}

void TestDecoder::state() {
    checkState(camelState);
}

void TestDecoder::snakeCaseKeys_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *key, const char *expected) {
        QTest::newRow(name) << QString::fromUtf8(key) << QString::fromUtf8(expected);
    };
    row("snake", "client_id", "clientId");
    row("upper snake", "CLIENT_ID", "clientId");
    row("mixed case pieces", "sTaRtEd_aT", "startedAt");
    row("camel unchanged", "clientId", "clientId");
    row("upper single piece unchanged", "ID", "ID");
    row("outer underscores kept", "__client_id_", "__clientId_");
    row("run of underscores", "a__b", "aB");
    row("empty", "", "");
    row("digits", "line_2_total", "line2Total");
    row("non-ASCII", "ÄRGER_ÜBER", "ärgerÜber");
    row("no Turkish dotless i", "ITEM_ID", "itemId");
}

void TestDecoder::snakeCaseKeys() {
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QCOMPARE(convertFromSnakeCase(key), expected);
}

void TestDecoder::snakeCaseState_data() {
    stateColumns();
    const State same = expectedWith();
    decodes("snake case", "", "", same);
    decodes("upper snake case", R"("client_name")", R"("CLIENT_NAME")", same);
    decodes("camel and snake mixed", R"("reason_id")", R"("reasonId")", same);
    decodes("both spellings, camel wins", R"("client_id": "c1")",
            R"("client_id": "zz", "clientId": "c1")", same);
    decodes("runs of underscores, any letter case", R"("reason_id")", R"("rEaSoN__iD")", same);
    decodes("two converted spellings, the smaller key wins", R"("client_id": "c1")",
            R"("client_id": "zz", "CLIENT_ID": "c1")", same);
    decodes("the same key twice, the last wins", R"("client_id": "c1")",
            R"("client_id": "zz", "client_id": "c1")", same);
    fails("outer underscores are kept", R"("reason_id")", R"("reason_id_")",
          "„rates[0].reasonId“ fehlt.");
    fails("failure names the key as sent", R"("started_at": 1700000000000.5)",
          R"("started_at": null)", "„running.started_at“ ist null.");
    fails("failure in a list names the key as sent", R"("reason_id": 7)", R"("REASON_ID": 7.25)",
          "„rates[0].REASON_ID“ muss eine ganze Zahl sein, ist aber 7.25.");
    fails("upper camel does not match", R"("client_id")", R"("ClientId")",
          "„rates[0].clientId“ fehlt.");
    fails("top-level keys converted too", R"("user")", R"("_user_")", "„user“ fehlt.");
}

void TestDecoder::snakeCaseState() {
    checkState(snakeState);
}

void TestDecoder::smallAnswers_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected"); // the field's value, or the failure text
    const auto row = [](const char *name, const char *kind, const char *body, QString expected) {
        QTest::newRow(name) << QString::fromLatin1(kind) << QByteArray(body) << expected;
    };
    row("login", "login", R"({"token": "abc", "user": {"id": 1}})", "abc");
    row("small answers keep keys as written", "sync", R"({"ninja_synced": true})",
        bad + "„ninjaSynced“ fehlt.");
    row("setup link", "setup", R"({"link": "https://h/#setup=x"})", "https://h/#setup=x");
    row("sync true", "sync", R"({"ninjaSynced": true})", "true");
    row("sync string", "sync", R"({"ninjaSynced": "true"})",
        bad + "„ninjaSynced“ muss true oder false sein, ist aber ein Text.");
    row("error", "error", R"({"error": "Falsches Passwort."})", "Falsches Passwort.");
    const QString empty = QStringLiteral("Die Antwort des Servers ist leer.");
    const QString notJson = QStringLiteral("Die Antwort des Servers ist kein gültiges JSON ");
    const QString notObject = QStringLiteral("Die Antwort des Servers ist kein JSON-Objekt, ");
    // Not an object at all: the same for every kind of answer.
    row("empty", "any", "", empty);
    row("blank", "any", " \r\n", empty);
    row("html", "any", "<html>502 Bad Gateway</html>", notJson + "(Zeichen 1: unzulässiger Wert).");
    row("position counts characters", "any", R"({"tökän": "x",})",
        notJson + "(Zeichen 15: Schlüssel fehlt).");
    row("trailing text", "any", R"({"token": "abc"} x)",
        notJson + "(Zeichen 18: überzählige Zeichen am Ende).");
    row("cut off", "any", R"({"token": "abc")",
        notJson + "(Zeichen 16: Objekt nicht abgeschlossen).");
    row("number", "any", "42", notObject + "sondern eine Zahl.");
    row("list", "any", R"([{"token": "abc"}])", notObject + "sondern eine Liste.");
}

void TestDecoder::smallAnswers() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QString value;
    const QString failure = failureOf([&] {
        if (kind == "login" || kind == "any")
            value = decodeLoginResponse(body).token;
        else if (kind == "setup")
            value = decodeSetupLinkResponse(body).link;
        else if (kind == "sync")
            value = decodeSyncResponse(body).ninjaSynced ? "true" : "false";
        else
            value = decodeApiError(body).error;
    });
    QCOMPARE(failure.isEmpty() ? value : failure, expected);
    if (kind == "any")
        QCOMPARE(failureOf([&] { decodeState(body); }), expected);
}

// Every text RFC 8259 rejects fails with the position of the fault; what it allows
// decodes, wherever it stands (here as the value of a key the decoder does not know).
void TestDecoder::strictSyntax_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("column");     // of the fault within `value`, 1-based
    QTest::addColumn<QString>("reason"); // empty: valid
    const auto valid = [](const char *name, const QByteArray &value) {
        QTest::newRow(name) << value << 0 << QString();
    };
    const auto invalid = [](const char *name, const QByteArray &value, int column,
                            const char *reason) {
        QTest::newRow(name) << value << column << QString::fromUtf8(reason);
    };
    valid("numbers", "[0, -0, 1.5, -2.5e-3, 1E+2, 0.0e0, 1e-400, 123456789012345678901234.5]");
    valid("64-bit integers", "[-9223372036854775808, 18446744073709551615]");
    valid("escapes", R"("\" \\ \/ \b \f \n \r \t \u00e4 \ud83d\ude00 \u0000")");
    valid("raw UTF-8 and DEL", "\"äß😀\x7f\"");
    valid("nesting and literals", R"({"a": [[], {}, [null, true, false]], "a": 1})");
    valid("white space", "\t\r\n [ 1 ] ");
    valid("1023 levels below the answer", QByteArray(1023, '[') + QByteArray(1023, ']'));
    invalid("1024 levels below the answer", QByteArray(1024, '[') + QByteArray(1024, ']'), 1024,
            "zu tief verschachtelt");

    invalid("2.", "2.", 3, "unzulässige Zahl");
    invalid(".5", ".5", 1, "unzulässige Zahl");
    invalid("-2.", "-2.", 4, "unzulässige Zahl");
    invalid("1.e3", "1.e3", 3, "unzulässige Zahl");
    invalid("1e", "1e", 3, "unzulässige Zahl");
    invalid("leading zero", "01", 2, "unzulässige Zahl");
    invalid("plus sign", "+1", 1, "unzulässige Zahl");
    invalid("minus alone", "-", 2, "unzulässige Zahl");
    invalid("above 2^64 - 1", "18446744073709551616", 1, "Zahl außerhalb des Wertebereichs");
    invalid("below -2^63", "-9223372036854775809", 1, "Zahl außerhalb des Wertebereichs");
    invalid("beyond double", "-1e400", 1, "Zahl außerhalb des Wertebereichs");
    invalid("NaN", "NaN", 1, "unzulässiger Wert");
    invalid("capital literal", "True", 1, "unzulässiger Wert");
    invalid("single quotes", "'a'", 1, "unzulässiger Wert");
    invalid("comment", "/* c */ 1", 1, "unzulässiger Wert");

    invalid("raw tab in a text", "\"a\tb\"", 3, "Steuerzeichen im Text");
    invalid("raw newline in a text", "\"a\nb\"", 3, "Steuerzeichen im Text");
    invalid("\\x41", R"("\x41")", 2, "unzulässige Escape-Sequenz");
    invalid("\\U0041", R"("\U0041")", 2, "unzulässige Escape-Sequenz");
    invalid("short \\u", R"("\u12")", 2, "unzulässige Escape-Sequenz");
    invalid("lone high surrogate", R"("a\ud800")", 3, "unzulässige Escape-Sequenz");
    invalid("high surrogate before a letter", R"("\ud800\u0041")", 2, "unzulässige Escape-Sequenz");
    invalid("lone low surrogate", R"("\udc00")", 2, "unzulässige Escape-Sequenz");
    invalid("byte FF", "\"a\xff\"", 3, "ungültiges UTF-8");
    invalid("overlong", "\"\xc0\xaf\"", 2, "ungültiges UTF-8");
    invalid("encoded surrogate", "\"\xed\xa0\x80\"", 2, "ungültiges UTF-8");
    invalid("cut-off sequence", "\"\xc3\"", 2, "ungültiges UTF-8");
    invalid("text not closed", "\"abc", 1, "Text nicht abgeschlossen");

    invalid("comma before ]", "[1,]", 4, "Wert fehlt");
    invalid("comma missing", "[1 2]", 4, "„,“ fehlt");
    invalid("colon missing", R"({"a" 1})", 6, "„:“ fehlt");
    invalid("comma before }", R"({"a": 1,})", 9, "Schlüssel fehlt");
    invalid("bare key", "{a: 1}", 2, "Schlüssel fehlt");
}

void TestDecoder::strictSyntax() {
    QFETCH(QByteArray, value);
    QFETCH(int, column);
    QFETCH(QString, reason);
    const QByteArray before = R"({"token": "abc", "x": )";
    const QString failure = failureOf([&] { decodeLoginResponse(before + value + "}"); });
    const QString expected = reason.isEmpty()
                                 ? QString()
                                 : QStringLiteral("Die Antwort des Servers ist kein gültiges JSON "
                                                  "(Zeichen %1: %2).")
                                       .arg(before.size() + column)
                                       .arg(reason);
    QCOMPARE(failure, expected);
}

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
