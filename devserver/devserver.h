#pragma once
// velmora-devserver: a strict local stand-in for the time server. Serves the
// seven endpoints (and an update feed) over loopback from in-memory demo
// data, records every request, and can be told to misbehave. Runs on threads
// of its own; every member is safe to call from any thread.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>

struct DevServerOptions {
    int port = 0;       // 0: any free port, see DevServer::port()
    bool https = false; // needs certFile and keyFile
    QString certFile{};
    QString keyFile{};
    bool snakeCaseState = true; // "api/state" answers with snake_case keys
};

struct RecordedRequest {
    QString method{};
    QString path{}; // without query, e.g. "/api/state"
    QString query{};
    QMap<QString, QString> headers{}; // names in lower case
    QByteArray body{};
};

// How one endpoint misbehaves; applies to the next `times` requests of that
// path (-1: until cleared).
struct Fault {
    int status = 0;       // 0: the normal answer
    QByteArray body{};    // with status != 0 (or rawBody) this body is sent instead
    bool rawBody = false; // send `body` with the normal status 200
    QString contentType = QStringLiteral("application/json");
    int delayMs = 0;    // wait before answering
    bool stall = false; // send headers and a few bytes, then nothing until stopped
    // Qt sends a request again when its connection closes before any answer
    // (once over http, up to three times over https): give a drop enough times.
    bool drop = false;        // close the connection without an answer
    QString redirectTo{};     // 302 to this absolute address
    qint64 hugeBodyBytes = 0; // stream this many bytes of JSON-ish filler (chunked: without length)
    // Answers that break off: `body` with the status (200 if 0), announced in
    // full, of which only the first `cutAfterBytes` bytes are sent before the
    // connection ends (-1: all of them).
    qint64 cutAfterBytes = -1;
    bool reset = false;      // end a cut answer with a TCP reset instead of a close
    bool chunked = false;    // chunked transfer; a cut one never sends its last chunk
    bool brokenGzip = false; // announce gzip and send bytes that do not decompress
    bool gzipBomb = false;   // gzip of 256 MiB of zeros, about 250 KiB on the wire
    int times = -1;
};

class DevServer {
public:
    explicit DevServer(DevServerOptions options = {});
    ~DevServer(); // stops
    DevServer(const DevServer &) = delete;
    DevServer &operator=(const DevServer &) = delete;

    // Binds 127.0.0.1 and serves in the background. False when it cannot bind.
    bool start();
    void stop();
    int port() const;
    // "http://127.0.0.1:PORT" (or https).
    QString baseUrl() const;

    // Demo logins.
    static constexpr const char *adminEmail = "chefin@velmora.example";
    static constexpr const char *adminPassword = "demo-admin";
    static constexpr const char *memberEmail = "mitarbeiter@velmora.example";
    static constexpr const char *memberPassword = "demo";
    QString adminId() const;
    QString memberId() const;

    // A fresh single-use setup code (43 URL-safe characters, 15 minutes) and
    // the link the server would hand out for it.
    QString createSetupCode(const QString &userId);
    QString setupLink(const QString &code) const;
    // A token for the user, as a sign-in would issue.
    QString issueToken(const QString &userId);

    // Data control.
    void setNinjaSynced(bool synced);
    void setSnakeCaseState(bool snakeCase);
    // Replaces the whole state answer for every user with this JSON object.
    void setStateOverride(const QByteArray &json);
    void clearStateOverride();
    // Starts a running entry for the user as if started from another device.
    void startEntryFor(const QString &userId, const QString &clientId, qint64 reasonId,
                       const QString &note, double startedAtMs);
    void stopEntryFor(const QString &userId);
    bool hasRunningEntry(const QString &userId) const;
    // The update feed at /appcast.xml offers this version.
    void setAppcastVersion(const QString &version);
    void setAppcastBody(const QByteArray &xml);

    // Misbehaviour, by path ("/api/state").
    void setFault(const QString &path, const Fault &fault);
    void clearFaults();

    // Every request received, in order; and everything a strict server would
    // have rejected or found odd (an empty list is what tests expect).
    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requestsTo(const QString &path) const;
    void clearRequests();
    QStringList surprises() const;
    // For tests that provoke a surprise on purpose.
    void clearSurprises();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
