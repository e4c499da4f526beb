#include "model/setupcode.h"

#include <algorithm>

std::optional<QString> setupCodeFrom(const QString &input) {
    const QString text = input.trimmed();
    static const QString marker = QStringLiteral("#setup=");
    const qsizetype at = text.indexOf(marker); // letter case matters
    const QString code = at < 0 ? text : text.mid(at + marker.size());
    const auto urlSafe = [](QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
               c == u'_' || c == u'-';
    };
    if (code.size() != 43 || !std::all_of(code.cbegin(), code.cend(), urlSafe)) {
        return std::nullopt;
    }
    return code;
}
