// The seven endpoints and the update feed: what a strict server refuses, and
// what it answers from the in-memory data. Everything here runs with the
// server's mutex held.

#include "devserver_p.h"
#include "strictjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

using namespace devserver;
using strictjson::Value;

namespace {

enum class Kind { String, Integer, True };

struct Field {
    const char *key;
    Kind kind;
};

struct Endpoint {
    const char *path;
    const char *method;
    bool authenticated;
    bool deviceHeader;
    std::vector<Field> body; // empty: the request has no body
};

const std::vector<Endpoint> &endpoints() {
    static const std::vector<Endpoint> table = {
        {"/api/login",
         "POST",
         false,
         true,
         {{"email", Kind::String}, {"password", Kind::String}, {"device", Kind::True}}},
        {"/api/setup", "POST", false, true, {{"code", Kind::String}, {"device", Kind::True}}},
        {"/api/state", "GET", true, false, {}},
        {"/api/admin/setup-links", "POST", true, false, {{"userId", Kind::String}}},
        {"/api/time/start",
         "POST",
         true,
         false,
         {{"clientId", Kind::String}, {"reasonId", Kind::Integer}, {"note", Kind::String}}},
        {"/api/time/stop", "POST", true, false, {{"entryId", Kind::String}}},
        {"/api/logout", "POST", true, false, {}},
    };
    return table;
}

const Endpoint *findEndpoint(const QString &path) {
    for (const Endpoint &e : endpoints()) {
        if (path == QLatin1String(e.path))
            return &e;
    }
    return nullptr;
}

// Pages outside the API that a browser or the update checker may fetch.
bool isPage(const QString &path) {
    return path == u"/" || path == u"/appcast.xml";
}

const QString reLogin = QStringLiteral("Bitte erneut anmelden.");

QByteArray errorBody(const QString &text) {
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), text}})
        .toJson(QJsonDocument::Compact);
}

Answer json(int status, const QJsonObject &object) {
    Answer a;
    a.status = status;
    a.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return a;
}

Answer error(int status, const QString &text) {
    Answer a;
    a.status = status;
    a.body = errorBody(text);
    return a;
}

// Bodies reach serve() only after check() accepted them.
Value bodyOf(const Incoming &in) {
    QString ignored;
    return strictjson::parse(in.body, &ignored).value_or(Value{});
}

const Value *member(const Value &object, const char *key) {
    for (const auto &[k, v] : object.members) {
        if (k == QLatin1String(key))
            return &v;
    }
    return nullptr;
}

QString stringField(const Value &object, const char *key) {
    const Value *v = member(object, key);
    return v ? v->string : QString();
}

QString bearerToken(const Incoming &in) {
    const QString auth = in.headers.value(QStringLiteral("authorization"));
    return auth.startsWith(u"Bearer ") ? auth.mid(7) : QString();
}

} // namespace

Answer DevServer::Impl::reject(const Incoming &in, int status, const QString &text,
                               const QString &surprise) {
    if (!surprise.isEmpty())
        surprises.append(QStringLiteral("%1 %2: %3").arg(in.method, in.path, surprise));
    return error(status, text);
}

std::optional<Answer> DevServer::Impl::check(const Incoming &in, bool faulted) {
    // Every finding is recorded; the first one decides the answer. A request
    // that a fault answers anyway is still checked, so that a misbehaving
    // client is noticed, but it is answered by the fault.
    std::optional<Answer> first;
    auto finding = [&](int status, const QString &text, const QString &surprise) {
        Answer a = reject(in, status, text, surprise);
        if (!first)
            first = a;
    };
    auto result = [&]() -> std::optional<Answer> {
        if (faulted)
            return std::nullopt;
        return first;
    };

    if (isPage(in.path)) {
        if (in.method != u"GET") {
            finding(405, QStringLiteral("Methode nicht erlaubt."),
                    QStringLiteral("method not allowed here (GET only)"));
            first->headers.append(std::pair<QByteArray, QByteArray>("Allow", "GET"));
        }
        return result();
    }

    const Endpoint *ep = findEndpoint(in.path);
    if (!ep) {
        if (!faulted) // a test that set a fault on this path knows what it asks for
            finding(404, QStringLiteral("Nicht gefunden."), QStringLiteral("no such endpoint"));
        return result();
    }

    if (in.method != QLatin1String(ep->method)) {
        finding(405, QStringLiteral("Methode nicht erlaubt."),
                QStringLiteral("wrong method, expected %1").arg(QLatin1String(ep->method)));
        first->headers.append(std::pair<QByteArray, QByteArray>("Allow", ep->method));
        return result();
    }

    if (!in.query.isEmpty())
        finding(400, QStringLiteral("Ungültige Anfrage."),
                QStringLiteral("unexpected query \"%1\"").arg(in.query));

    for (const char *single : {"accept", "content-type", "authorization", "x-velmora-device"}) {
        if (in.headerCounts.value(QLatin1String(single)) > 1)
            finding(400, QStringLiteral("Ungültige Anfrage."),
                    QStringLiteral("header %1 sent more than once").arg(QLatin1String(single)));
    }

    const QString accept = in.headers.value(QStringLiteral("accept"));
    if (accept != u"application/json")
        finding(406, QStringLiteral("Bitte Antworten als JSON anfordern."),
                in.headers.contains(QStringLiteral("accept"))
                    ? QStringLiteral("Accept is \"%1\", expected application/json").arg(accept)
                    : QStringLiteral("no Accept header"));

    const bool hasDevice = in.headers.contains(QStringLiteral("x-velmora-device"));
    const QString device = in.headers.value(QStringLiteral("x-velmora-device"));
    if (ep->deviceHeader && !hasDevice) {
        finding(400, QStringLiteral("Gerätekennung fehlt."),
                QStringLiteral("no X-Velmora-Device header"));
    } else if (ep->deviceHeader && device != u"linux" && device != u"macos" &&
               device != u"windows") {
        finding(400, QStringLiteral("Unbekannte Gerätekennung."),
                QStringLiteral("X-Velmora-Device is \"%1\"").arg(device));
    } else if (!ep->deviceHeader && hasDevice) {
        finding(400, QStringLiteral("Ungültige Anfrage."),
                QStringLiteral("X-Velmora-Device sent, only sign-in requests carry it"));
    }

    const bool hasAuth = in.headers.contains(QStringLiteral("authorization"));
    static const QRegularExpression bearer(QStringLiteral("^Bearer [A-Za-z0-9._~+/=-]+$"));
    if (ep->authenticated && !hasAuth) {
        finding(401, reLogin, QStringLiteral("no Authorization header"));
    } else if (ep->authenticated &&
               !bearer.match(in.headers.value(QStringLiteral("authorization"))).hasMatch()) {
        finding(401, reLogin,
                QStringLiteral("Authorization is not \"Bearer <token>\": \"%1\"")
                    .arg(in.headers.value(QStringLiteral("authorization"))));
    } else if (!ep->authenticated && hasAuth) {
        finding(400, QStringLiteral("Ungültige Anfrage."),
                QStringLiteral("Authorization sent to a sign-in endpoint"));
    }

    const bool hasContentType = in.headers.contains(QStringLiteral("content-type"));
    if (in.bodyUnread)
        finding(400, QStringLiteral("Ungültige Anfrage."),
                QStringLiteral("%1 request with a body").arg(in.method));

    if (ep->body.empty()) {
        if (!in.body.isEmpty())
            finding(400, QStringLiteral("Ungültige Anfrage."),
                    QStringLiteral("unexpected body (%1 bytes)").arg(in.body.size()));
        if (hasContentType)
            finding(400, QStringLiteral("Ungültige Anfrage."),
                    QStringLiteral("Content-Type \"%1\" on a request without body")
                        .arg(in.headers.value(QStringLiteral("content-type"))));
        return result();
    }

    if (in.headers.value(QStringLiteral("content-type")) != u"application/json") {
        finding(415, QStringLiteral("Inhaltstyp muss application/json sein."),
                hasContentType ? QStringLiteral("Content-Type is \"%1\"")
                                     .arg(in.headers.value(QStringLiteral("content-type")))
                               : QStringLiteral("no Content-Type header"));
    }
    if (in.body.isEmpty()) {
        finding(400, QStringLiteral("Ungültige Anfrage: Inhalt fehlt."), QStringLiteral("no body"));
        return result();
    }
    QString parseError;
    const std::optional<Value> body = strictjson::parse(in.body, &parseError);
    if (!body) {
        finding(400, QStringLiteral("Ungültige Anfrage: kein gültiges JSON."),
                QStringLiteral("body is no valid JSON (%1)").arg(parseError));
        return result();
    }
    if (body->kind != Value::Kind::Object) {
        finding(400, QStringLiteral("Ungültige Anfrage: JSON-Objekt erwartet."),
                QStringLiteral("body is %1, not an object")
                    .arg(QLatin1String(strictjson::kindName(body->kind))));
        return result();
    }

    QStringList seen;
    for (const auto &[key, value] : body->members) {
        const auto expected =
            std::find_if(ep->body.begin(), ep->body.end(),
                         [&key](const Field &f) { return key == QLatin1String(f.key); });
        if (expected == ep->body.end()) {
            finding(400, QStringLiteral("Ungültige Anfrage: unerwartetes Feld „%1“.").arg(key),
                    QStringLiteral("unexpected key \"%1\"").arg(key));
            continue;
        }
        if (seen.contains(key)) {
            finding(400, QStringLiteral("Ungültige Anfrage: Feld „%1“ doppelt.").arg(key),
                    QStringLiteral("key \"%1\" appears twice").arg(key));
            continue;
        }
        seen.append(key);
        switch (expected->kind) {
        case Kind::String:
            if (value.kind != Value::Kind::String)
                finding(400, QStringLiteral("Ungültige Anfrage: „%1“ muss Text sein.").arg(key),
                        QStringLiteral("\"%1\" is %2, expected a string")
                            .arg(key, QLatin1String(strictjson::kindName(value.kind))));
            break;
        case Kind::Integer:
            if (!value.isInteger())
                finding(
                    400,
                    QStringLiteral("Ungültige Anfrage: „%1“ muss eine ganze Zahl sein.").arg(key),
                    value.kind == Value::Kind::Number
                        ? QStringLiteral("\"%1\" is %2, expected an integer")
                              .arg(key, QString::fromLatin1(value.number))
                        : QStringLiteral("\"%1\" is %2, expected an integer")
                              .arg(key, QLatin1String(strictjson::kindName(value.kind))));
            break;
        case Kind::True:
            if (value.kind != Value::Kind::Bool || !value.boolean)
                finding(400, QStringLiteral("Ungültige Anfrage: „%1“ muss true sein.").arg(key),
                        QStringLiteral("\"%1\" is not true").arg(key));
            break;
        }
    }
    for (const Field &f : ep->body) {
        if (!seen.contains(QLatin1String(f.key)))
            finding(400,
                    QStringLiteral("Ungültige Anfrage: Feld „%1“ fehlt.").arg(QLatin1String(f.key)),
                    QStringLiteral("key \"%1\" missing").arg(QLatin1String(f.key)));
    }
    if (first)
        return result();

    // Values the client itself promises never to send.
    if (in.path == u"/api/setup") {
        static const QRegularExpression code(QStringLiteral("^[A-Za-z0-9_-]{43}$"));
        if (!code.match(stringField(*body, "code")).hasMatch())
            finding(400, QStringLiteral("Dieser Einrichtungslink ist ungültig oder abgelaufen."),
                    QStringLiteral("code \"%1\" is not 43 characters of A-Z a-z 0-9 _ -")
                        .arg(stringField(*body, "code")));
    } else if (in.path == u"/api/time/start") {
        qint64 reasonId = 0;
        member(*body, "reasonId")->isInteger(&reasonId);
        if (reasonId <= 0)
            finding(400, QStringLiteral("Bitte einen Grund wählen."),
                    QStringLiteral("reasonId %1 is not positive").arg(reasonId));
        if (stringField(*body, "clientId").isEmpty())
            finding(400, QStringLiteral("Bitte einen Kunden wählen."),
                    QStringLiteral("clientId is empty"));
    } else if (in.path == u"/api/time/stop" && stringField(*body, "entryId").isEmpty()) {
        finding(400, QStringLiteral("Ungültige Anfrage."), QStringLiteral("entryId is empty"));
    }
    return result();
}

Answer DevServer::Impl::serve(const Incoming &in) {
    if (in.path == u"/") {
        Answer a;
        a.contentType = "text/html; charset=utf-8";
        a.body = "<!DOCTYPE html><html lang=\"de\"><head><meta charset=\"utf-8\">"
                 "<title>velmora Zeit</title></head><body><h1>velmora Zeit</h1>"
                 "<p>Lokaler Testserver. Die Web-Anwendung gibt es hier nicht.</p>"
                 "</body></html>";
        return a;
    }
    if (in.path == u"/appcast.xml") {
        Answer a;
        a.contentType = "application/rss+xml; charset=utf-8";
        a.body = appcastXml(in.headers.value(QStringLiteral("host")));
        return a;
    }

    if (in.path == u"/api/login") {
        const Value body = bodyOf(in);
        const QString email = stringField(body, "email");
        const QString password = stringField(body, "password");
        for (const User &u : std::as_const(data.users)) {
            if (u.email.compare(email, Qt::CaseInsensitive) == 0 && u.password == password)
                return json(200, {{QStringLiteral("token"), issueTokenLocked(u.id)}});
        }
        return error(401, QStringLiteral("E-Mail oder Passwort ist falsch."));
    }

    if (in.path == u"/api/setup") {
        const QString code = stringField(bodyOf(in), "code");
        const QString gone =
            QStringLiteral("Dieser Einrichtungslink ist ungültig oder abgelaufen.");
        auto it = data.setupCodes.find(code);
        if (it == data.setupCodes.end())
            return error(401, gone);
        if (it->used || steadyMs() - it->createdMs > 15 * 60 * 1000)
            return error(410, gone);
        it->used = true;
        return json(200, {{QStringLiteral("token"), issueTokenLocked(it->userId)}});
    }

    // Everything below needs a signed-in device.
    const QString userId = data.tokens.value(bearerToken(in));
    const auto user = std::find_if(data.users.cbegin(), data.users.cend(),
                                   [&userId](const User &u) { return u.id == userId; });
    if (userId.isEmpty() || user == data.users.cend())
        return error(401, reLogin);

    if (in.path == u"/api/state") {
        Answer a;
        a.body = stateJson(userId);
        return a;
    }

    if (in.path == u"/api/admin/setup-links") {
        if (user->role != u"admin")
            return reject(in, 403, QStringLiteral("Nur für Administratoren."),
                          QStringLiteral("a %1 asked for a setup link").arg(user->role));
        if (stringField(bodyOf(in), "userId") != userId)
            return reject(in, 403,
                          QStringLiteral("Einrichtungslinks gibt es nur für das eigene Konto."),
                          QStringLiteral("userId \"%1\" is not the caller's id \"%2\"")
                              .arg(stringField(bodyOf(in), "userId"), userId));
        QString host = in.headers.value(QStringLiteral("host"));
        if (host.isEmpty())
            host = QStringLiteral("127.0.0.1:%1").arg(port);
        const QString code = createSetupCodeLocked(userId);
        return json(200, {{QStringLiteral("link"),
                           QStringLiteral("https://%1/#setup=%2").arg(host, code)}});
    }

    if (in.path == u"/api/time/start") {
        const Value body = bodyOf(in);
        const QString clientId = stringField(body, "clientId");
        qint64 reasonId = 0;
        member(body, "reasonId")->isInteger(&reasonId);
        const auto client = std::find_if(data.clients.cbegin(), data.clients.cend(),
                                         [&](const Client &c) { return c.id == clientId; });
        if (client == data.clients.cend() || client->enabled != 1 || client->archived != 0)
            return error(422, QStringLiteral("Dieser Kunde ist nicht verfügbar."));
        const auto reason = std::find_if(data.reasons.cbegin(), data.reasons.cend(),
                                         [&](const Reason &r) { return r.id == reasonId; });
        if (reason == data.reasons.cend() || reason->active != 1)
            return error(422, QStringLiteral("Dieser Grund ist nicht verfügbar."));
        const auto rate = std::find_if(data.rates.cbegin(), data.rates.cend(), [&](const Rate &r) {
            return r.clientId == clientId && r.reasonId == reasonId;
        });
        if (rate == data.rates.cend())
            return error(422, QStringLiteral("Für diesen Kunden und Grund gibt es keinen "
                                             "Stundensatz."));
        startEntryLocked(userId, clientId, reasonId, stringField(body, "note"), nowMs());
        return json(200, {{QStringLiteral("ok"), true}});
    }

    if (in.path == u"/api/time/stop") {
        const QString entryId = stringField(bodyOf(in), "entryId");
        if (!data.running.contains(userId) || data.running.value(userId).id != entryId)
            return error(404, QStringLiteral("Dieser Eintrag läuft nicht mehr."));
        stopEntryLocked(userId);
        return json(200, {{QStringLiteral("ninjaSynced"), ninjaSynced}});
    }

    if (in.path == u"/api/logout") {
        data.tokens.remove(bearerToken(in));
        Answer a;
        a.status = 204;
        a.contentType.clear();
        return a;
    }

    return error(404, QStringLiteral("Nicht gefunden."));
}

QString DevServer::Impl::issueTokenLocked(const QString &userId) {
    const QString token = randomUrlSafe(32);
    data.tokens.insert(token, userId);
    return token;
}

QString DevServer::Impl::createSetupCodeLocked(const QString &userId) {
    const QString code = randomUrlSafe(32);
    data.setupCodes.insert(code, {userId, steadyMs(), false});
    return code;
}

void DevServer::Impl::startEntryLocked(const QString &userId, const QString &clientId,
                                       qint64 reasonId, const QString &note, double startedAtMs) {
    stopEntryLocked(userId); // one timer per person: a new start ends the old one
    Entry e;
    e.id = QStringLiteral("e%1").arg(data.nextEntry++);
    e.userId = userId;
    e.clientId = clientId;
    e.reasonId = reasonId;
    e.note = note;
    e.startedAtMs = startedAtMs;
    for (const Client &c : std::as_const(data.clients)) {
        if (c.id == clientId)
            e.clientName = c.name;
    }
    for (const Reason &r : std::as_const(data.reasons)) {
        if (r.id == reasonId)
            e.reasonName = r.name;
    }
    for (const Rate &r : std::as_const(data.rates)) {
        if (r.clientId == clientId && r.reasonId == reasonId)
            e.rateCents = r.cents;
    }
    data.running.insert(userId, e);
}

void DevServer::Impl::stopEntryLocked(const QString &userId) {
    auto it = data.running.find(userId);
    if (it == data.running.end())
        return;
    Entry e = *it;
    e.stoppedAtMs = nowMs();
    data.finished.append(e);
    data.running.erase(it);
}

QByteArray DevServer::Impl::stateJson(const QString &userId) const {
    if (stateOverride)
        return *stateOverride;
    const auto key = [this](const char *snake, const char *camel) {
        return QString::fromLatin1(snakeCase ? snake : camel);
    };

    QJsonObject state;
    for (const User &u : data.users) {
        if (u.id == userId)
            state.insert(QStringLiteral("user"), QJsonObject{{QStringLiteral("id"), u.id},
                                                             {QStringLiteral("name"), u.name},
                                                             {QStringLiteral("role"), u.role}});
    }
    QJsonArray clients;
    for (const Client &c : data.clients)
        clients.append(QJsonObject{{QStringLiteral("id"), c.id},
                                   {QStringLiteral("name"), c.name},
                                   {QStringLiteral("enabled"), c.enabled},
                                   {QStringLiteral("archived"), c.archived}});
    state.insert(QStringLiteral("clients"), clients);
    QJsonArray reasons;
    for (const Reason &r : data.reasons)
        reasons.append(QJsonObject{{QStringLiteral("id"), r.id},
                                   {QStringLiteral("name"), r.name},
                                   {QStringLiteral("active"), r.active}});
    state.insert(QStringLiteral("reasons"), reasons);
    QJsonArray rates;
    for (const Rate &r : data.rates)
        rates.append(QJsonObject{{key("client_id", "clientId"), r.clientId},
                                 {key("reason_id", "reasonId"), r.reasonId},
                                 {QStringLiteral("cents"), r.cents}});
    state.insert(QStringLiteral("rates"), rates);
    if (data.running.contains(userId)) {
        const Entry &e = *data.running.find(userId);
        state.insert(QStringLiteral("running"),
                     QJsonObject{{QStringLiteral("id"), e.id},
                                 {key("client_name", "clientName"), e.clientName},
                                 {key("reason_name", "reasonName"), e.reasonName},
                                 {key("rate_cents", "rateCents"), e.rateCents},
                                 {QStringLiteral("note"), e.note},
                                 {key("started_at", "startedAt"), e.startedAtMs}});
    } else {
        state.insert(QStringLiteral("running"), QJsonValue::Null);
    }
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

QByteArray DevServer::Impl::appcastXml(const QString &host) const {
    if (appcastBody)
        return *appcastBody;
    const QString v = appcastVersion.toHtmlEscaped();
    const QString base =
        QStringLiteral("https://%1")
            .arg(host.isEmpty() ? QStringLiteral("127.0.0.1:%1").arg(port) : host.toHtmlEscaped());
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\" "
               "version=\"2.0\">\n"
               "  <channel>\n"
               "    <title>velmora Zeit</title>\n"
               "    <item>\n"
               "      <title>Version %1</title>\n"
               "      <sparkle:version>%1</sparkle:version>\n"
               "      <sparkle:shortVersionString>%1</sparkle:shortVersionString>\n"
               "      <link>%2/download</link>\n"
               "      <enclosure url=\"%2/download/VelmoraTime-%1.tar.gz\" sparkle:version=\"%1\" "
               "length=\"18874368\" type=\"application/octet-stream\"/>\n"
               "    </item>\n"
               "  </channel>\n"
               "</rss>\n")
        .arg(v, base)
        .toUtf8();
}
