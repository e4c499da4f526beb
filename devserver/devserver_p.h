#pragma once
// Internals of DevServer, shared by its source files.

#include "devserver.h"

#include <QHash>
#include <QList>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace devserver {

struct User {
    QString id;
    QString name;
    QString role;
    QString email;
    QString password;
};

struct Client {
    QString id;
    QString name;
    int enabled = 1;
    int archived = 0;
};

struct Reason {
    qint64 id = 0;
    QString name;
    int active = 1;
};

struct Rate {
    QString clientId;
    qint64 reasonId = 0;
    qint64 cents = 0;
};

struct Entry {
    QString id;
    QString userId;
    QString clientId;
    QString clientName;
    qint64 reasonId = 0;
    QString reasonName;
    qint64 rateCents = 0;
    QString note;
    double startedAtMs = 0;
    double stoppedAtMs = 0;
};

struct SetupCode {
    QString userId;
    qint64 createdMs = 0; // steady clock
    bool used = false;
};

struct Data {
    QList<User> users;
    QList<Client> clients;
    QList<Reason> reasons;
    QList<Rate> rates;
    QHash<QString, Entry> running; // by user id
    QList<Entry> finished;
    int nextEntry = 1;
    QHash<QString, QString> tokens; // token -> user id
    QHash<QString, SetupCode> setupCodes;
};

Data demoData(double nowMs);

// One request as the endpoints see it.
struct Incoming {
    QString method;
    QString path;
    QString query;
    QMap<QString, QString> headers; // lower-case names
    QMap<QString, int> headerCounts;
    QByteArray body;
    bool bodyUnread = false; // a GET or HEAD that announced a body httplib did not read
};

struct Answer {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<std::pair<QByteArray, QByteArray>> headers;
};

QString randomUrlSafe(int bytes);
double nowMs();
qint64 steadyMs();

} // namespace devserver

struct DevServer::Impl {
    DevServerOptions options;

    mutable std::mutex mutex; // guards everything below up to `port`
    devserver::Data data;
    bool ninjaSynced = true;
    bool snakeCase = true;
    std::optional<QByteArray> stateOverride;
    QString appcastVersion = QStringLiteral("1.0.0");
    std::optional<QByteArray> appcastBody;
    QMap<QString, Fault> faults;
    QList<RecordedRequest> requests;
    QStringList surprises;
    int port = 0;

    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> listening{false};

    void handle(const httplib::Request &req, httplib::Response &res);
    std::optional<Fault> takeFault(const QString &path);
    void applyFault(const Fault &fault, const httplib::Request &req, httplib::Response &res);
    void applyBrokenBody(const Fault &fault, const httplib::Request &req, httplib::Response &res);
    bool sleepUnlessStopping(int ms) const;

    // Endpoints, in endpoints.cpp. Both run with `mutex` held.
    // Checks what a strict server checks before it looks at its data;
    // records a surprise for every finding and returns the rejection.
    std::optional<devserver::Answer> check(const devserver::Incoming &in, bool faulted);
    devserver::Answer serve(const devserver::Incoming &in);

    // Helpers, with `mutex` held.
    devserver::Answer reject(const devserver::Incoming &in, int status, const QString &error,
                             const QString &surprise);
    QString issueTokenLocked(const QString &userId);
    QString createSetupCodeLocked(const QString &userId);
    void startEntryLocked(const QString &userId, const QString &clientId, qint64 reasonId,
                          const QString &note, double startedAtMs);
    void stopEntryLocked(const QString &userId);
    QByteArray stateJson(const QString &userId) const;
    QByteArray appcastXml(const QString &host) const;
};
