// Creating a one-time setup link for a phone, shown as a QR code.

#include "model/model.h"
#include "model/qrcode.h"

QCoro::Task<> Model::makeSetupLink() {
    if (m_busy || !isAdmin()) {
        co_return;
    }
    setBusy(true);
    const QJsonObject body{{QStringLiteral("userId"), m_state->user.id}};
    try {
        const SetupLinkResponse answer = co_await call(Api::setupLinks, body);
        setSetupLink(answer.link);
        setSetupImage(renderQrCode(m_setupLink));
        setMessage(QStringLiteral("Mit dem Handy scannen · 15 Minuten gültig."));
    } catch (const std::exception &e) {
        // A failed request keeps the previous link and image.
        setMessage(failureText(e));
    }
    setBusy(false);
}
