// The decoder's strict reading of the server's answers: types, key spellings,
// failure texts naming the key path, and JSON syntax as RFC 8259 has it.

#include "client/decoder.h"
#include "client/failure.h"
#include "testsupport.h"

#include <QTest>
#include <limits>

using testsupport::rows;

namespace {

// A state answer as "api/state" sends it, keys in snake_case. Each test row
// changes one piece of it by text, so rows can use literals that no JSON
// writer would produce (1e3, 2^63, ...).
const QString stateAnswer = QStringLiteral(R"({
  "user": {"id": "u1", "name": "Ada", "role": "admin"},
  "clients": [
    {"id": "c1", "name": "Acme", "enabled": 1, "archived": 0},
    {"id": "c2", "name": "Beta", "enabled": 0, "archived": 1}
  ],
  "reasons": [{"id": 7, "name": "Beratung", "active": 1}],
  "rates": [{"client_id": "c1", "reason_id": 7, "cents": 9500}],
  "running": {"id": "e1", "client_name": "Acme", "reason_name": "Beratung", "rate_cents": 9500, "note": "", "started_at": 1700000000000.5}
})");

State expectedWith(void (*change)(State &) = nullptr) {
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

template <typename F> QString failureOf(F decode) {
    try {
        decode();
    } catch (const DecodingError &error) {
        return error.description();
    }
    return QString();
}

const QString bad = QStringLiteral("Ungültige Antwort des Servers: ");

// The base answer with `from` replaced by `to`: it fails with `error` (after
// `bad`), or decodes to the expected state with `change` made.
struct StateRow {
    const char *name;
    QString from, to;
    const char *error = nullptr;
    void (*change)(State &) = nullptr;
};

struct Key {
    const char *name;
    QString key, expected;
};

// `kind` names the decoder; "any" is every one of them.
struct Small {
    const char *name;
    const char *kind;
    QByteArray body;
    QString expected; // the field's value, or the failure text
};

// `value` stands in an answer where the decoder expects no key; `reason` and
// the fault's `column` within `value`, 1-based, are null when it is valid.
struct Syntax {
    const char *name;
    QByteArray value;
    int column = 0;
    const char *reason = nullptr;
};

} // namespace

// Raw strings in the class must not hold \" or //, which moc misreads.
class TestDecoder : public QObject {
    Q_OBJECT

private slots:
    void state_data() {
        const QString running = stateAnswer.mid(stateAnswer.indexOf("{\"id\": \"e1\""));
        const QString runningObject = running.left(running.indexOf('}') + 1);
        const QString rates = R"("rates": [{"client_id": "c1", "reason_id": 7, "cents": 9500}],)";
        const QString client = R"({"id": "c1", "name": "Acme", "enabled": 1, "archived": 0})";
        const QString cents = R"("cents": 9500)";
        rows<StateRow>({
            {"as sent", "", ""},
            {"integer max", cents, R"("cents": 9223372036854775807)", nullptr,
             [](State &s) { s.rates[0].cents = std::numeric_limits<qint64>::max(); }},
            {"integer min", cents, R"("cents": -9223372036854775808)", nullptr,
             [](State &s) { s.rates[0].cents = std::numeric_limits<qint64>::min(); }},
            {"integer as 1e3", cents, R"("cents": 1e3)", nullptr,
             [](State &s) { s.rates[0].cents = 1000; }},
            {"integer written as 1.0", R"("active": 1)", R"("active": 1.0)"},
            {"integer beyond double precision", cents, R"("cents": 9007199254740993)", nullptr,
             [](State &s) { s.rates[0].cents = 9007199254740993; }},
            {"double from integer", R"("started_at": 1700000000000.5)",
             R"("started_at": 1700000000000)", nullptr,
             [](State &s) { s.running->startedAt = 1700000000000; }},
            {"running null", runningObject, "null", nullptr, [](State &s) { s.running.reset(); }},
            {"running absent", ",\n  \"running\": " + runningObject, "", nullptr,
             [](State &s) { s.running.reset(); }},
            {"empty list", rates, R"("rates": [],)", nullptr, [](State &s) { s.rates.clear(); }},
            {"escapes and raw UTF-8 in texts", R"("name": "Ada")",
             "\"name\": \"\\\"A\\\\ \\u00e4\\ud83d\\ude00\\n ß\"", nullptr,
             [](State &s) { s.user.name = QString::fromUtf8("\"A\\ ä😀\n ß"); }},
            {"unknown keys everywhere", R"("role": "admin"})",
             R"("role": "admin", "avatar": {"x": [1, null]}}, "version": 3, "clientId": 5)"},
            // One bad value fails the whole answer, named by its key path.
            {"customer id number", R"("id": "c2")", R"("id": 2)",
             "„clients[1].id“ muss ein Text sein, ist aber eine Zahl."},
            {"flag as boolean", R"("enabled": 1)", R"("enabled": true)",
             "„clients[0].enabled“ muss eine ganze Zahl sein, ist aber true."},
            {"integer with fraction", cents, R"("cents": 1.5)",
             "„rates[0].cents“ muss eine ganze Zahl sein, ist aber 1.5."},
            {"integer 2^63", cents, R"("cents": 9223372036854775808)",
             "„rates[0].cents“ ist zu groß für eine ganze Zahl."},
            {"integer 2^63 as double", cents, R"("cents": 9.3e18)",
             "„rates[0].cents“ ist zu groß für eine ganze Zahl."},
            {"integer below -2^63 as double", cents, R"("cents": -9.3e18)",
             "„rates[0].cents“ ist zu klein für eine ganze Zahl."},
            {"double as string", R"("started_at": 1700000000000.5)", R"("started_at": "1")",
             "„running.started_at“ muss eine Zahl sein, ist aber ein Text."},
            {"string as list", R"("name": "Ada")", R"("name": ["Ada"])",
             "„user.name“ muss ein Text sein, ist aber eine Liste."},
            {"required key missing", R"(, "role": "admin")", "", "„user.role“ fehlt."},
            {"list as object", rates, R"("rates": {},)",
             "„rates“ muss eine Liste sein, ist aber ein Objekt."},
            {"list element not an object", client, "3",
             "„clients[0]“ muss ein Objekt sein, ist aber eine Zahl."},
            {"running empty object", runningObject, "{}", "„running.id“ fehlt."},
            {"first fault in field order wins", R"("name": "Ada", "role": "admin")",
             R"("role": 1, "name": 2)", "„user.name“ muss ein Text sein, ist aber eine Zahl."},
            // Key spellings.
            {"camel and snake mixed", R"("reason_id")", R"("reasonId")"},
            {"both spellings, camel wins", R"("client_id": "c1")",
             R"("client_id": "zz", "clientId": "c1")"},
            {"two converted spellings, the smaller key wins", R"("client_id": "c1")",
             R"("client_id": "zz", "CLIENT_ID": "c1")"},
            {"the same key twice, the last wins", R"("client_id": "c1")",
             R"("client_id": "zz", "client_id": "c1")"},
            {"failure names the key as sent", R"("started_at": 1700000000000.5)",
             R"("started_at": null)", "„running.started_at“ ist null."},
            {"failure in a list names the key as sent", R"("reason_id": 7)", R"("REASON_ID": 7.25)",
             "„rates[0].REASON_ID“ muss eine ganze Zahl sein, ist aber 7.25."},
            {"upper camel does not match", R"("client_id")", R"("ClientId")",
             "„rates[0].clientId“ fehlt."},
            {"top-level keys converted too", R"("user")", R"("_user_")", "„user“ fehlt."},
        });
    }

    void state() {
        FETCH_ROW(StateRow);
        QString base = stateAnswer;
        QVERIFY2(base.contains(row.from), "the row does not match the base answer");
        const QByteArray body = base.replace(row.from, row.to).toUtf8();
        if (row.error)
            QCOMPARE(failureOf([&] { decodeState(body); }), bad + QString::fromUtf8(row.error));
        else
            QCOMPARE(decodeState(body), expectedWith(row.change));
    }

    void snakeCaseKeys_data() {
        rows<Key>({
            {"snake", "client_id", "clientId"},
            {"upper snake", "CLIENT_ID", "clientId"},
            {"mixed case pieces", "sTaRtEd_aT", "startedAt"},
            {"camel unchanged", "clientId", "clientId"},
            {"upper single piece unchanged", "ID", "ID"},
            {"outer underscores kept", "__client_id_", "__clientId_"},
            {"run of underscores", "a__b", "aB"},
            {"empty", "", ""},
            {"digits", "line_2_total", "line2Total"},
            {"non-ASCII", "ÄRGER_ÜBER", "ärgerÜber"},
            {"no Turkish dotless i", "ITEM_ID", "itemId"},
        });
    }

    void snakeCaseKeys() {
        FETCH_ROW(Key);
        QCOMPARE(convertFromSnakeCase(row.key), row.expected);
    }

    void smallAnswers_data() {
        const QString empty = QStringLiteral("Die Antwort des Servers ist leer.");
        const QString notJson = QStringLiteral("Die Antwort des Servers ist kein gültiges JSON ");
        const QString notObject = QStringLiteral("Die Antwort des Servers ist kein JSON-Objekt, ");
        rows<Small>({
            {"login", "login", R"({"token": "abc", "user": {"id": 1}})", "abc"},
            {"small answers keep keys as written", "sync", R"({"ninja_synced": true})",
             bad + "„ninjaSynced“ fehlt."},
            {"setup link", "setup", "{\"link\": \"https://h/#setup=x\"}", "https://h/#setup=x"},
            {"sync true", "sync", R"({"ninjaSynced": true})", "true"},
            {"sync string", "sync", R"({"ninjaSynced": "true"})",
             bad + "„ninjaSynced“ muss true oder false sein, ist aber ein Text."},
            {"error", "error", R"({"error": "Falsches Passwort."})", "Falsches Passwort."},
            {"empty", "any", "", empty},
            {"blank", "any", " \r\n", empty},
            {"position counts characters", "any", R"({"tökän": "x",})",
             notJson + "(Zeichen 15: Schlüssel fehlt)."},
            {"trailing text", "any", R"({"token": "abc"} x)",
             notJson + "(Zeichen 18: überzählige Zeichen am Ende)."},
            {"cut off", "any", R"({"token": "abc")",
             notJson + "(Zeichen 16: Objekt nicht abgeschlossen)."},
            {"number", "any", "42", notObject + "sondern eine Zahl."},
            {"list", "any", R"([{"token": "abc"}])", notObject + "sondern eine Liste."},
        });
    }

    void smallAnswers() {
        FETCH_ROW(Small);
        const QByteArrayView kind(row.kind);
        QString value;
        const QString failure = failureOf([&] {
            if (kind == "login" || kind == "any")
                value = decodeLoginResponse(row.body).token;
            else if (kind == "setup")
                value = decodeSetupLinkResponse(row.body).link;
            else if (kind == "sync")
                value = decodeSyncResponse(row.body).ninjaSynced ? "true" : "false";
            else
                value = decodeApiError(row.body).error;
        });
        QCOMPARE(failure.isEmpty() ? value : failure, row.expected);
        // Not an object at all: the same for every kind of answer.
        if (kind == "any")
            QCOMPARE(failureOf([&] { decodeState(row.body); }), row.expected);
    }

    // Every text RFC 8259 rejects fails with the position of the fault; what
    // it allows decodes, wherever it stands.
    void strictSyntax_data() {
        rows<Syntax>({
            {"numbers", "[0, -0, 1.5, -2.5e-3, 1E+2, 0.0e0, 1e-400, 123456789012345678901234.5]"},
            {"64-bit integers", "[-9223372036854775808, 18446744073709551615]"},
            {"escapes", "\"\\\" \\\\ \\/ \\b \\f \\n \\r \\t \\u00e4 \\ud83d\\ude00 \\u0000\""},
            {"raw UTF-8 and DEL", "\"äß😀\x7f\""},
            {"nesting and literals", R"({"a": [[], {}, [null, true, false]], "a": 1})"},
            {"white space", "\t\r\n [ 1 ] "},
            {"1023 levels below the answer", QByteArray(1023, '[') + QByteArray(1023, ']')},
            {"1024 levels below the answer", QByteArray(1024, '[') + QByteArray(1024, ']'), 1024,
             "zu tief verschachtelt"},
            {"2.", "2.", 3, "unzulässige Zahl"},
            {".5", ".5", 1, "unzulässige Zahl"},
            {"1e", "1e", 3, "unzulässige Zahl"},
            {"leading zero", "01", 2, "unzulässige Zahl"},
            {"minus alone", "-", 2, "unzulässige Zahl"},
            {"above 2^64 - 1", "18446744073709551616", 1, "Zahl außerhalb des Wertebereichs"},
            {"below -2^63", "-9223372036854775809", 1, "Zahl außerhalb des Wertebereichs"},
            {"beyond double", "-1e400", 1, "Zahl außerhalb des Wertebereichs"},
            {"NaN", "NaN", 1, "unzulässiger Wert"},
            {"capital literal", "True", 1, "unzulässiger Wert"},
            {"comment", "/* c */ 1", 1, "unzulässiger Wert"},
            {"raw tab in a text", "\"a\tb\"", 3, "Steuerzeichen im Text"},
            {"\\x41", R"("\x41")", 2, "unzulässige Escape-Sequenz"},
            {"short \\u", R"("\u12")", 2, "unzulässige Escape-Sequenz"},
            {"lone high surrogate", R"("a\ud800")", 3, "unzulässige Escape-Sequenz"},
            {"high surrogate before a letter", R"("\ud800\u0041")", 2,
             "unzulässige Escape-Sequenz"},
            {"lone low surrogate", R"("\udc00")", 2, "unzulässige Escape-Sequenz"},
            {"byte FF", "\"a\xff\"", 3, "ungültiges UTF-8"},
            {"overlong", "\"\xc0\xaf\"", 2, "ungültiges UTF-8"},
            {"encoded surrogate", "\"\xed\xa0\x80\"", 2, "ungültiges UTF-8"},
            {"cut-off sequence", "\"\xc3\"", 2, "ungültiges UTF-8"},
            {"text not closed", "\"abc", 1, "Text nicht abgeschlossen"},
            {"comma before ]", "[1,]", 4, "Wert fehlt"},
            {"comma missing", "[1 2]", 4, "„,“ fehlt"},
            {"colon missing", R"({"a" 1})", 6, "„:“ fehlt"},
            {"comma before }", R"({"a": 1,})", 9, "Schlüssel fehlt"},
            {"bare key", "{a: 1}", 2, "Schlüssel fehlt"},
        });
    }

    void strictSyntax() {
        FETCH_ROW(Syntax);
        const QByteArray before = R"({"token": "abc", "x": )";
        const QString failure = failureOf([&] { decodeLoginResponse(before + row.value + "}"); });
        QCOMPARE(failure, row.reason ? QStringLiteral("Die Antwort des Servers ist kein gültiges "
                                                      "JSON (Zeichen %1: %2).")
                                           .arg(before.size() + row.column)
                                           .arg(QString::fromUtf8(row.reason))
                                     : QString());
    }
};

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
