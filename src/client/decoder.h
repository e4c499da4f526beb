#pragma once
// Decodes the server's JSON answers into records with strict type rules:
// strings only from strings, integers only from integral numbers that fit
// 64 bits, doubles from any number, booleans only from true/false. Unknown
// keys are ignored; one bad element fails the whole answer. Failures throw
// DecodingError with a German text that names the key path, e.g.
// "clients[3].id"; text that is not JSON as RFC 8259 defines it (or holds a
// number no 64-bit integer or double can hold) fails with "kein gültiges JSON"
// and the position of the fault.

#include "client/records.h"

#include <QByteArray>
#include <QString>

enum class KeyDecoding {
    AsWritten,     // keys compared with the field names unchanged
    FromSnakeCase, // every key converted by convertFromSnakeCase first
};

// "client_id" -> "clientId", "CLIENT_ID" -> "clientId"; keys without an inner
// "_" stay as they are; leading and trailing "_" are kept.
QString convertFromSnakeCase(const QString &key);

// The answer of "api/state", keys converted from snake case.
State decodeState(const QByteArray &body);
// The small answers, keys as written.
LoginResponse decodeLoginResponse(const QByteArray &body);
SetupLinkResponse decodeSetupLinkResponse(const QByteArray &body);
SyncResponse decodeSyncResponse(const QByteArray &body);
ApiError decodeApiError(const QByteArray &body);

// The same with an explicit key setting, for any record above.
template <typename T> T decode(const QByteArray &body, KeyDecoding keys);
