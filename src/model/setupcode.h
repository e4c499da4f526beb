#pragma once

#include <QString>
#include <optional>

// The 43-character setup code in a pasted setup link ("…#setup=CODE") or a
// bare code, with white space around it ignored; nothing when the text holds
// no valid code.
std::optional<QString> setupCodeFrom(const QString &input);
