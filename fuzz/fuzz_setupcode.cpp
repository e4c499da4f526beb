// The setup-link reader: whatever is pasted, it finds a code of 43 URL-safe
// characters that stands in the input, or none; it never throws.

#include "model/setupcode.h"
#include "rules.h"

using namespace fuzzrules;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QString> code = setupCodeFrom(input);
    if (!code)
        return 0;
    require(code->size() == 43, "code is not 43 characters long", *code);
    for (const QChar c : *code) {
        const bool urlSafe = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
                             (c >= u'0' && c <= u'9') || c == u'_' || c == u'-';
        require(urlSafe, "code holds a character that is not URL-safe", *code);
    }
    require(input.contains(*code), "code does not stand in the input", *code);
    require(setupCodeFrom(*code) == code, "a found code is not read back as itself", *code);
    return 0;
}
