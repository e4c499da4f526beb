#include "client/decoder.h"

#include "client/failure.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <optional>

// Failure texts name the offending value by its key path ("clients[3].id"). A key that
// is present is named as the server sent it (say "running.started_at"), so that it can
// be found in the raw answer; a missing key can only be named by the field's own name.

namespace {

[[noreturn]] void fail(const QString &path, const QString &what) {
    throw DecodingError(QStringLiteral("Ungültige Antwort des Servers: „%1“ %2.").arg(path, what));
}

QString kindOf(const QJsonValue &value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QStringLiteral("eine Zahl");
    case QJsonValue::String:
        return QStringLiteral("ein Text");
    case QJsonValue::Array:
        return QStringLiteral("eine Liste");
    case QJsonValue::Object:
        return QStringLiteral("ein Objekt");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nichts");
}

[[noreturn]] void failType(const QString &path, const char *expected, const QJsonValue &value) {
    fail(path,
         QStringLiteral("muss %1 sein, ist aber %2").arg(QLatin1String(expected), kindOf(value)));
}

QString parseErrorText(QJsonParseError::ParseError error) {
    switch (error) {
    case QJsonParseError::UnterminatedObject:
        return QStringLiteral("Objekt nicht abgeschlossen");
    case QJsonParseError::MissingNameSeparator:
        return QStringLiteral("„:“ fehlt");
    case QJsonParseError::UnterminatedArray:
        return QStringLiteral("Liste nicht abgeschlossen");
    case QJsonParseError::MissingValueSeparator:
        return QStringLiteral("„,“ fehlt");
    case QJsonParseError::IllegalValue:
        return QStringLiteral("unzulässiger Wert");
    case QJsonParseError::TerminationByNumber:
        return QStringLiteral("Ende mitten in einer Zahl");
    case QJsonParseError::IllegalNumber:
        return QStringLiteral("unzulässige Zahl");
    case QJsonParseError::IllegalEscapeSequence:
        return QStringLiteral("unzulässige Escape-Sequenz");
    case QJsonParseError::IllegalUTF8String:
        return QStringLiteral("ungültiges UTF-8");
    case QJsonParseError::UnterminatedString:
        return QStringLiteral("Text nicht abgeschlossen");
    case QJsonParseError::MissingObject: // Qt's name for "a value was expected here"
        return QStringLiteral("Wert fehlt");
    case QJsonParseError::DeepNesting:
        return QStringLiteral("zu tief verschachtelt");
    case QJsonParseError::DocumentTooLarge:
        return QStringLiteral("zu groß");
    case QJsonParseError::GarbageAtEnd:
        return QStringLiteral("überzählige Zeichen am Ende");
    case QJsonParseError::NoError:
        break;
    }
    return QStringLiteral("unbekannter Fehler");
}

QJsonObject parseObject(const QByteArray &body) {
    if (body.trimmed().isEmpty())
        throw DecodingError(QStringLiteral("Die Antwort des Servers ist leer."));
    const auto notAnObject = [](const QJsonValue &value) {
        return DecodingError(
            QStringLiteral("Die Antwort des Servers ist kein JSON-Objekt, sondern %1.")
                .arg(kindOf(value)));
    };
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        // Qt only takes objects and arrays at the top; a bare value is valid JSON all the
        // same and deserves the plainer message.
        const QJsonDocument wrapped = QJsonDocument::fromJson('[' + body + ']');
        if (wrapped.isArray() && wrapped.array().size() == 1)
            throw notAnObject(wrapped.array().first());
        const qsizetype position = QString::fromUtf8(body.left(error.offset)).size();
        throw DecodingError(
            QStringLiteral("Die Antwort des Servers ist kein gültiges JSON (Zeichen %1: %2).")
                .arg(std::max<qsizetype>(position, 1))
                .arg(parseErrorText(error.error)));
    }
    if (!document.isObject())
        throw notAnObject(document.array());
    return document.object();
}

qint64 integerValue(const QJsonValue &value, const QString &path) {
    if (!value.isDouble())
        failType(path, "eine ganze Zahl", value);
    // Qt keeps every integral number that fits 64 bits as an integer (1.0 and 1e3 too),
    // so a double here has a fraction or lies out of range. Qt's one blind spot: a
    // literal just below -2^63 is rounded while parsing and arrives as -2^63.
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (std::trunc(number) != number)
        fail(path, QStringLiteral("muss eine ganze Zahl sein, ist aber %1")
                       .arg(QString::number(number, 'g', 17)));
    if (number >= limit || number < -limit)
        fail(path, number > 0 ? QStringLiteral("ist zu groß für eine ganze Zahl")
                              : QStringLiteral("ist zu klein für eine ganze Zahl"));
    return static_cast<qint64>(number);
}

// One JSON object of the answer, read field by field in the records' order.
class Object {
public:
    Object(const QJsonValue &value, QString path, KeyDecoding keys)
        : m_path(std::move(path))
        , m_keys(keys) {
        if (!value.isObject())
            failType(m_path, "ein Objekt", value);
        m_object = value.toObject();
        if (m_keys == KeyDecoding::FromSnakeCase) {
            // Two keys may convert to the same name ("client_id", "clientId"); the one
            // already written that way wins, otherwise the first in Qt's key order.
            for (auto it = m_object.constBegin(); it != m_object.constEnd(); ++it) {
                const QString name = convertFromSnakeCase(it.key());
                if (!m_wireKeys.contains(name) || name == it.key())
                    m_wireKeys.insert(name, it.key());
            }
        }
    }

    QString string(const char *name) const {
        const auto [value, path] = required(name);
        if (!value.isString())
            failType(path, "ein Text", value);
        return value.toString();
    }

    qint64 integer(const char *name) const {
        const auto [value, path] = required(name);
        return integerValue(value, path);
    }

    double number(const char *name) const {
        const auto [value, path] = required(name);
        if (!value.isDouble())
            failType(path, "eine Zahl", value);
        return value.toDouble();
    }

    bool boolean(const char *name) const {
        const auto [value, path] = required(name);
        if (!value.isBool())
            failType(path, "true oder false", value);
        return value.toBool();
    }

    template <typename T> T record(const char *name) const {
        const auto [value, path] = required(name);
        return read<T>(Object(value, path, m_keys));
    }

    template <typename T> QList<T> list(const char *name) const {
        const auto [value, path] = required(name);
        if (!value.isArray())
            failType(path, "eine Liste", value);
        const QJsonArray array = value.toArray();
        QList<T> result;
        result.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i)
            result.append(
                read<T>(Object(array.at(i), QStringLiteral("%1[%2]").arg(path).arg(i), m_keys)));
        return result;
    }

    // Absent and null both mean "nothing"; anything else must be a whole record.
    template <typename T> std::optional<T> optional(const char *name) const {
        const auto found = find(name);
        if (!found || found->value.isNull())
            return std::nullopt;
        return read<T>(Object(found->value, found->path, m_keys));
    }

    template <typename T> static T read(const Object &object);

private:
    struct Field {
        QJsonValue value;
        QString path;
    };

    QString childPath(const QString &key) const {
        return m_path.isEmpty() ? key : m_path + u'.' + key;
    }

    std::optional<Field> find(const char *name) const {
        QString key = QString::fromLatin1(name);
        if (m_keys == KeyDecoding::FromSnakeCase) {
            const auto wire = m_wireKeys.constFind(key);
            if (wire == m_wireKeys.constEnd())
                return std::nullopt;
            key = *wire;
        }
        const auto it = m_object.constFind(key);
        if (it == m_object.constEnd())
            return std::nullopt;
        return Field{*it, childPath(key)};
    }

    Field required(const char *name) const {
        auto found = find(name);
        if (!found)
            fail(childPath(QString::fromLatin1(name)), QStringLiteral("fehlt"));
        if (found->value.isNull())
            fail(found->path, QStringLiteral("ist null"));
        return *std::move(found);
    }

    QJsonObject m_object;
    QString m_path;
    KeyDecoding m_keys;
    QHash<QString, QString> m_wireKeys; // converted name -> key as sent
};

// Braced initialisation evaluates left to right, so fields are read in the records'
// order and the first bad one is the one reported.
template <> User Object::read<User>(const Object &o) {
    return {o.string("id"), o.string("name"), o.string("role")};
}

template <> Customer Object::read<Customer>(const Object &o) {
    return {o.string("id"), o.string("name"), o.integer("enabled"), o.integer("archived")};
}

template <> Reason Object::read<Reason>(const Object &o) {
    return {o.integer("id"), o.string("name"), o.integer("active")};
}

template <> Rate Object::read<Rate>(const Object &o) {
    return {o.string("clientId"), o.integer("reasonId"), o.integer("cents")};
}

template <> Entry Object::read<Entry>(const Object &o) {
    return {o.string("id"),         o.string("clientName"), o.string("reasonName"),
            o.integer("rateCents"), o.string("note"),       o.number("startedAt")};
}

template <> State Object::read<State>(const Object &o) {
    return {o.record<User>("user"), o.list<Customer>("clients"), o.list<Reason>("reasons"),
            o.list<Rate>("rates"), o.optional<Entry>("running")};
}

template <> LoginResponse Object::read<LoginResponse>(const Object &o) {
    return {o.string("token")};
}

template <> SetupLinkResponse Object::read<SetupLinkResponse>(const Object &o) {
    return {o.string("link")};
}

template <> SyncResponse Object::read<SyncResponse>(const Object &o) {
    return {o.boolean("ninjaSynced")};
}

template <> ApiError Object::read<ApiError>(const Object &o) {
    return {o.string("error")};
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

template <typename T> T decode(const QByteArray &body, KeyDecoding keys) {
    return Object::read<T>(Object(parseObject(body), QString(), keys));
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
