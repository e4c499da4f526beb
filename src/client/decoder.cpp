#include "client/decoder.h"

#include "client/failure.h"
#include "client/jsonsyntax.h"

#include <simdjson.h>

#include <array>
#include <cmath>
#include <optional>
#include <string_view>

// The text is parsed by simdjson's DOM parser, which validates all of it (RFC 8259,
// UTF-8) before anything is read; the records are then read straight off its tape.
// Nothing is built for a value that is fine: key paths and texts only when a value
// fails. A failure names the offending value by its key path ("clients[3].id"); a key
// that is present is named as the server sent it (say "running.started_at"), so that
// it can be found in the raw answer; a missing key only by the field's own name.

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

[[noreturn]] void fail(const QString &path, const QString &what) {
    throw DecodingError(QStringLiteral("Ungültige Antwort des Servers: „%1“ %2.").arg(path, what));
}

QString kindOf(const element &value) {
    switch (value.type()) {
    case element_type::NULL_VALUE:
        return QStringLiteral("null");
    case element_type::BOOL:
        return value.get_bool().value_unsafe() ? QStringLiteral("true") : QStringLiteral("false");
    case element_type::INT64:
    case element_type::UINT64:
    case element_type::DOUBLE:
        return QStringLiteral("eine Zahl");
    case element_type::STRING:
        return QStringLiteral("ein Text");
    case element_type::ARRAY:
        return QStringLiteral("eine Liste");
    case element_type::OBJECT:
        return QStringLiteral("ein Objekt");
    }
    return QStringLiteral("nichts");
}

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Where a value sits, as a chain up to the root; turned into text only on failure.
struct Path {
    const Path *parent = nullptr;
    std::string_view key; // as sent; empty with an index
    qsizetype index = -1; // list element

    QString text() const {
        QString head = parent ? parent->text() : QString();
        if (index >= 0)
            return head + QStringLiteral("[%1]").arg(index);
        return head.isEmpty() ? fromUtf8(key) : head + u'.' + fromUtf8(key);
    }
    QString child(std::string_view name) const { return Path{this, name}.text(); }
};

[[noreturn]] void failType(const QString &path, const char *expected, const element &value) {
    fail(path,
         QStringLiteral("muss %1 sein, ist aber %2").arg(QLatin1String(expected), kindOf(value)));
}

// Whether `key` converts to `name` (convertFromSnakeCase), without building anything
// for the ASCII keys servers send.
bool convertsTo(std::string_view key, std::string_view name) {
    for (const char c : key) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return convertFromSnakeCase(fromUtf8(key)) == fromUtf8(name);
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
    size_t first = 0, end = key.size();
    while (first < end && key[first] == '_')
        ++first;
    while (end > first && key[end - 1] == '_')
        --end;
    if (key.substr(first, end - first).find('_') == std::string_view::npos)
        return key == name; // a single piece stays as it is
    // Outer underscores are kept; inner runs of them join the pieces, each but the
    // first with a capital.
    size_t out = 0;
    const auto put = [&](char c) { return out < name.size() && name[out++] == c; };
    for (size_t i = 0; i < first; ++i) {
        if (!put('_'))
            return false;
    }
    for (size_t i = first; i < end;) {
        const bool firstPiece = i == first;
        while (key[i] == '_')
            ++i;
        for (bool head = true; i < end && key[i] != '_'; ++i, head = false) {
            if (!put(head && !firstPiece ? upper(key[i]) : lower(key[i])))
                return false;
        }
    }
    for (size_t i = end; i < key.size(); ++i) {
        if (!put('_'))
            return false;
    }
    return out == name.size();
}

// The field names of each record, in the record's order.
template <typename T> struct Fields;
#define VELMORA_FIELDS(Record, ...)                                                                \
    template <> struct Fields<Record> {                                                            \
        static constexpr std::string_view names[] = {__VA_ARGS__};                                 \
    };
VELMORA_FIELDS(User, "id", "name", "role")
VELMORA_FIELDS(Customer, "id", "name", "enabled", "archived")
VELMORA_FIELDS(Reason, "id", "name", "active")
VELMORA_FIELDS(Rate, "clientId", "reasonId", "cents")
VELMORA_FIELDS(Entry, "id", "clientName", "reasonName", "rateCents", "note", "startedAt")
VELMORA_FIELDS(State, "user", "clients", "reasons", "rates", "running")
VELMORA_FIELDS(LoginResponse, "token")
VELMORA_FIELDS(SetupLinkResponse, "link")
VELMORA_FIELDS(SyncResponse, "ninjaSynced")
VELMORA_FIELDS(ApiError, "error")
#undef VELMORA_FIELDS

// How well a key matches a field: written as the field's name beats a converted key.
enum class Rank { None, Converted, Exact };

// What reading one kind of record learns on the way, for the next element of a list:
// which field each key stands for, and the last text of each field (lists repeat
// texts, say a rate's client id, which then share one QString). Views point into the
// parser's buffers, which outlive the reading.
template <typename T> struct Memory {
    static constexpr size_t fieldCount = std::size(Fields<T>::names);
    struct Match {
        std::string_view key;
        int field = -1; // none: a key the record does not know
        Rank rank = Rank::None;
    };
    struct Text {
        std::string_view wire;
        QString value;
        bool set = false;
    };

    explicit Memory(KeyDecoding keys)
        : keys(keys) {}

    Match match(std::string_view key) {
        for (size_t i = 0; i < matchCount; ++i) {
            if (matches[i].key == key)
                return matches[i];
        }
        Match found{key};
        for (size_t i = 0; i < fieldCount && found.field < 0; ++i) {
            const std::string_view name = Fields<T>::names[i];
            if (key == name)
                found = {key, int(i), Rank::Exact};
            else if (keys == KeyDecoding::FromSnakeCase && convertsTo(key, name))
                found = {key, int(i), Rank::Converted};
        }
        if (matchCount < matches.size())
            matches[matchCount++] = found;
        return found;
    }

    QString text(size_t field, std::string_view wire) {
        Text &last = texts[field];
        if (!last.set || last.wire != wire)
            last = {wire, fromUtf8(wire), true};
        return last.value;
    }

    KeyDecoding keys;
    std::array<Match, 16> matches;
    size_t matchCount = 0;
    std::array<Text, fieldCount> texts;
};

template <typename T> T read(const element &value, const Path &path, Memory<T> &memory);

// One JSON object, its keys matched once to the record's fields; read by field index.
template <typename T> class Object {
public:
    static constexpr auto &names = Fields<T>::names;

    Object(const element &value, const Path &path, Memory<T> &memory)
        : m_path(path)
        , m_memory(memory) {
        simdjson::dom::object object;
        if (value.get(object) != simdjson::SUCCESS)
            failType(path.text(), "ein Objekt", value);
        for (const auto field : object) {
            const auto match = m_memory.match(field.key);
            if (match.field >= 0)
                offer(m_fields[size_t(match.field)], match.rank, field.key, field.value);
        }
    }

    QString string(size_t i) const {
        const element value = required(i);
        std::string_view text;
        if (value.get(text) != simdjson::SUCCESS)
            failType(pathOf(i), "ein Text", value);
        return m_memory.text(i, text);
    }

    qint64 integer(size_t i) const {
        const element value = required(i);
        int64_t integer = 0;
        if (value.get(integer) == simdjson::SUCCESS)
            return integer;
        // simdjson holds integers that fit neither as unsigned; text that is no
        // integer literal (1.0, 1e3) as a double, allowed when integral and in range.
        switch (value.type()) {
        case element_type::UINT64:
            fail(pathOf(i), QStringLiteral("ist zu groß für eine ganze Zahl"));
        case element_type::DOUBLE: {
            const double number = double(value.get_double());
            constexpr double limit = 9223372036854775808.0; // 2^63
            if (std::trunc(number) != number)
                fail(pathOf(i), QStringLiteral("muss eine ganze Zahl sein, ist aber %1")
                                    .arg(QString::number(number, 'g', 17)));
            if (number >= limit || number < -limit)
                fail(pathOf(i), number > 0 ? QStringLiteral("ist zu groß für eine ganze Zahl")
                                           : QStringLiteral("ist zu klein für eine ganze Zahl"));
            return static_cast<qint64>(number);
        }
        default:
            failType(pathOf(i), "eine ganze Zahl", value);
        }
    }

    double number(size_t i) const {
        const element value = required(i);
        double number = 0;
        if (value.get(number) != simdjson::SUCCESS)
            failType(pathOf(i), "eine Zahl", value);
        return number;
    }

    bool boolean(size_t i) const {
        const element value = required(i);
        bool flag = false;
        if (value.get(flag) != simdjson::SUCCESS)
            failType(pathOf(i), "true oder false", value);
        return flag;
    }

    template <typename R> R record(size_t i) const {
        const element value = required(i);
        const Path path{&m_path, m_fields[i].key};
        Memory<R> memory(m_memory.keys);
        return read<R>(value, path, memory);
    }

    template <typename R> QList<R> list(size_t i) const {
        const element value = required(i);
        simdjson::dom::array array;
        if (value.get(array) != simdjson::SUCCESS)
            failType(pathOf(i), "eine Liste", value);
        const Path path{&m_path, m_fields[i].key};
        Memory<R> memory(m_memory.keys);
        QList<R> result;
        result.reserve(qsizetype(array.size()));
        for (const element item : array)
            result.append(read<R>(item, Path{&path, {}, result.size()}, memory));
        return result;
    }

    // Absent and null both mean "nothing"; anything else must be a whole record.
    template <typename R> std::optional<R> optional(size_t i) const {
        const Field &field = m_fields[i];
        if (field.rank == Rank::None || field.value.is_null())
            return std::nullopt;
        const Path path{&m_path, field.key};
        Memory<R> memory(m_memory.keys);
        return read<R>(field.value, path, memory);
    }

private:
    struct Field {
        element value;
        std::string_view key; // as sent
        Rank rank = Rank::None;
    };

    // Of two exact keys the last counts, of two converted ones the smaller key (the
    // rules the answers were read by before).
    static void offer(Field &field, Rank rank, std::string_view key, const element &value) {
        if (rank == Rank::Exact || rank > field.rank || (rank == field.rank && key <= field.key))
            field = Field{value, key, rank};
    }

    element required(size_t i) const {
        const Field &field = m_fields[i];
        if (field.rank == Rank::None)
            fail(m_path.child(names[i]), QStringLiteral("fehlt"));
        if (field.value.is_null())
            fail(pathOf(i), QStringLiteral("ist null"));
        return field.value;
    }

    QString pathOf(size_t i) const { return m_path.child(m_fields[i].key); }

    std::array<Field, std::size(Fields<T>::names)> m_fields;
    const Path &m_path;
    Memory<T> &m_memory;
};

// Braced initialisation evaluates left to right, so fields are read in the records'
// order and the first bad one is the one reported.
template <> User read<User>(const element &v, const Path &p, Memory<User> &k) {
    const Object<User> o(v, p, k);
    return {o.string(0), o.string(1), o.string(2)};
}

template <> Customer read<Customer>(const element &v, const Path &p, Memory<Customer> &k) {
    const Object<Customer> o(v, p, k);
    return {o.string(0), o.string(1), o.integer(2), o.integer(3)};
}

template <> Reason read<Reason>(const element &v, const Path &p, Memory<Reason> &k) {
    const Object<Reason> o(v, p, k);
    return {o.integer(0), o.string(1), o.integer(2)};
}

template <> Rate read<Rate>(const element &v, const Path &p, Memory<Rate> &k) {
    const Object<Rate> o(v, p, k);
    return {o.string(0), o.integer(1), o.integer(2)};
}

template <> Entry read<Entry>(const element &v, const Path &p, Memory<Entry> &k) {
    const Object<Entry> o(v, p, k);
    return {o.string(0), o.string(1), o.string(2), o.integer(3), o.string(4), o.number(5)};
}

template <> State read<State>(const element &v, const Path &p, Memory<State> &k) {
    const Object<State> o(v, p, k);
    return {o.record<User>(0), o.list<Customer>(1), o.list<Reason>(2), o.list<Rate>(3),
            o.optional<Entry>(4)};
}

template <>
LoginResponse read<LoginResponse>(const element &v, const Path &p, Memory<LoginResponse> &k) {
    return {Object<LoginResponse>(v, p, k).string(0)};
}

template <>
SetupLinkResponse read<SetupLinkResponse>(const element &v, const Path &p,
                                          Memory<SetupLinkResponse> &k) {
    return {Object<SetupLinkResponse>(v, p, k).string(0)};
}

template <>
SyncResponse read<SyncResponse>(const element &v, const Path &p, Memory<SyncResponse> &k) {
    return {Object<SyncResponse>(v, p, k).boolean(0)};
}

template <> ApiError read<ApiError>(const element &v, const Path &p, Memory<ApiError> &k) {
    return {Object<ApiError>(v, p, k).string(0)};
}

[[noreturn]] void failSyntax(const QByteArray &body, simdjson::error_code code) {
    if (code == simdjson::EMPTY)
        throw DecodingError(QStringLiteral("Die Antwort des Servers ist leer."));
    const std::optional<JsonSyntaxError> error =
        findJsonSyntaxError(body, int(simdjson::DEFAULT_MAX_DEPTH));
    if (!error) // only when memory runs out
        throw DecodingError(QStringLiteral("Die Antwort des Servers konnte nicht gelesen werden "
                                           "(%1).")
                                .arg(QString::fromUtf8(simdjson::error_message(code))));
    throw DecodingError(
        QStringLiteral("Die Antwort des Servers ist kein gültiges JSON (Zeichen %1: %2).")
            .arg(characterPosition(body, error->offset))
            .arg(error->reason));
}

} // namespace

QString convertFromSnakeCase(const QString &key) {
    qsizetype first = 0;
    while (first < key.size() && key.at(first) == u'_')
        ++first;
    if (first == key.size())
        return key; // empty, or "_" only
    qsizetype end = key.size();
    while (key.at(end - 1) == u'_')
        --end;
    const QStringList pieces = key.mid(first, end - first).split(u'_', Qt::SkipEmptyParts);
    if (pieces.size() == 1)
        return key;
    QString joined = pieces.first().toLower();
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QString &piece = pieces.at(i);
        const qsizetype head = piece.at(0).isHighSurrogate() && piece.size() > 1 ? 2 : 1;
        joined += piece.left(head).toUpper() + piece.mid(head).toLower();
    }
    return key.left(first) + joined + key.mid(end);
}

// One parser serves every answer up to this size: simdjson's advice, since a parser's
// first use of its buffers costs page faults that take as long as the parse itself. It
// keeps about three times the largest such answer; anything larger gets a parser of
// its own that is gone afterwards.
constexpr qsizetype keptParserLimit = 16 * 1024 * 1024;

template <typename T> T decode(const QByteArray &body, KeyDecoding keys) {
    static thread_local simdjson::dom::parser kept;
    std::optional<simdjson::dom::parser> own;
    simdjson::dom::parser &parser = body.size() <= keptParserLimit ? kept : own.emplace();
    // simdjson reads up to SIMDJSON_PADDING bytes past the end; a body without that
    // much spare capacity is parsed from a padded copy that is freed at once.
    std::optional<simdjson::padded_string> copy;
    if (body.capacity() - body.size() < qsizetype(simdjson::SIMDJSON_PADDING))
        copy.emplace(body.constData(), size_t(body.size()));
    element root;
    const auto parsed =
        copy ? parser.parse(*copy) : parser.parse(body.constData(), size_t(body.size()), false);
    if (const auto code = parsed.get(root))
        failSyntax(body, code);
    if (root.type() != element_type::OBJECT)
        throw DecodingError(
            QStringLiteral("Die Antwort des Servers ist kein JSON-Objekt, sondern %1.")
                .arg(kindOf(root)));
    Memory<T> memory(keys);
    return read<T>(root, Path{}, memory);
}

template User decode<User>(const QByteArray &, KeyDecoding);
template Customer decode<Customer>(const QByteArray &, KeyDecoding);
template Reason decode<Reason>(const QByteArray &, KeyDecoding);
template Rate decode<Rate>(const QByteArray &, KeyDecoding);
template Entry decode<Entry>(const QByteArray &, KeyDecoding);
template State decode<State>(const QByteArray &, KeyDecoding);
template LoginResponse decode<LoginResponse>(const QByteArray &, KeyDecoding);
template SetupLinkResponse decode<SetupLinkResponse>(const QByteArray &, KeyDecoding);
template SyncResponse decode<SyncResponse>(const QByteArray &, KeyDecoding);
template ApiError decode<ApiError>(const QByteArray &, KeyDecoding);

State decodeState(const QByteArray &body) {
    return decode<State>(body, KeyDecoding::FromSnakeCase);
}

LoginResponse decodeLoginResponse(const QByteArray &body) {
    return decode<LoginResponse>(body, KeyDecoding::AsWritten);
}

SetupLinkResponse decodeSetupLinkResponse(const QByteArray &body) {
    return decode<SetupLinkResponse>(body, KeyDecoding::AsWritten);
}

SyncResponse decodeSyncResponse(const QByteArray &body) {
    return decode<SyncResponse>(body, KeyDecoding::AsWritten);
}

ApiError decodeApiError(const QByteArray &body) {
    return decode<ApiError>(body, KeyDecoding::AsWritten);
}
