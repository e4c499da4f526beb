#pragma once
// The records the time server answers with. Plain values, created only by
// decoding (decoder.h) and never changed afterwards.

#include <QList>
#include <QString>
#include <optional>

struct User {
    QString id;
    QString name;
    QString role; // "admin" marks an administrator
    bool operator==(const User &) const = default;
};

struct Customer {
    QString id;
    QString name;
    qint64 enabled = 0;  // listed only when exactly 1
    qint64 archived = 0; // listed only when exactly 0
    bool operator==(const Customer &) const = default;
};

struct Reason {
    qint64 id = 0;
    QString name;
    qint64 active = 0; // listed only when exactly 1
    bool operator==(const Reason &) const = default;
};

struct Rate {
    QString clientId;
    qint64 reasonId = 0;
    qint64 cents = 0; // per hour
    bool operator==(const Rate &) const = default;
};

struct Entry {
    QString id;
    QString clientName;
    QString reasonName;
    qint64 rateCents = 0;
    QString note;
    double startedAt = 0; // milliseconds since the Unix epoch
    bool operator==(const Entry &) const = default;
};

struct State {
    User user;
    QList<Customer> clients;
    QList<Reason> reasons;
    QList<Rate> rates;
    std::optional<Entry> running; // absent or null on the wire: no timer runs
    bool operator==(const State &) const = default;
};

struct LoginResponse {
    QString token;
    bool operator==(const LoginResponse &) const = default;
};

struct SetupLinkResponse {
    QString link;
    bool operator==(const SetupLinkResponse &) const = default;
};

struct SyncResponse {
    bool ninjaSynced = false;
    bool operator==(const SyncResponse &) const = default;
};

struct ApiError {
    QString error;
    bool operator==(const ApiError &) const = default;
};
