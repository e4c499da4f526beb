// The server's JSON answers: the state (snake_case and as written) and the
// small answers. Only DecodingError may escape, with a German text; a decoded
// record is the same every time, holds proper Unicode only, and comes from a
// text that any JSON reader takes for an object.

#include "client/decoder.h"
#include "client/failure.h"
#include "rules.h"

#include <QJsonDocument>
#include <cmath>

using namespace fuzzrules;

namespace {

void requireText(const QString &s) {
    require(QStringView(s).isValidUtf16(), "decoded text is no valid UTF-16", s);
}

void requireSound(const State &s) {
    for (const QString *t : {&s.user.id, &s.user.name, &s.user.role})
        requireText(*t);
    for (const Customer &c : s.clients) {
        requireText(c.id);
        requireText(c.name);
    }
    for (const Reason &r : s.reasons)
        requireText(r.name);
    for (const Rate &r : s.rates)
        requireText(r.clientId);
    if (s.running) {
        for (const QString *t :
             {&s.running->id, &s.running->clientName, &s.running->reasonName, &s.running->note})
            requireText(*t);
        require(std::isfinite(s.running->startedAt), "start time is not finite");
    }
}

template <typename T> void requireSound(const T &) {}

template <typename T, typename Decode> void check(const QByteArray &body, Decode decode) {
    T first;
    try {
        first = decode(body);
    } catch (const DecodingError &e) {
        requireGermanText(e.description());
        return;
    }
    require(decode(body) == first, "decoding the same text twice differs");
    requireSound(first);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    // Qt's parser calls some numbers RFC 8259 allows illegal (an exponent
    // that underflows, such as 1E-400); the strictness table covers numbers.
    require((error.error == QJsonParseError::NoError && document.isObject()) ||
                error.error == QJsonParseError::IllegalNumber,
            "decoded a text that is no JSON object", error.errorString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the answer; the rest is its body.
    const QByteArray body(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 6) {
    case 0:
        check<State>(body, decodeState);
        break;
    case 1:
        check<State>(body,
                     [](const QByteArray &b) { return decode<State>(b, KeyDecoding::AsWritten); });
        break;
    case 2:
        check<LoginResponse>(body, decodeLoginResponse);
        break;
    case 3:
        check<SetupLinkResponse>(body, decodeSetupLinkResponse);
        break;
    case 4:
        check<SyncResponse>(body, decodeSyncResponse);
        break;
    case 5:
        check<ApiError>(body, decodeApiError);
        break;
    }
    return 0;
}
