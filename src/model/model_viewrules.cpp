// What the panel shows, derived in one place so that no view decides it.

#include "model/model.h"

Model::Variant Model::variant() const {
    if (!m_signedIn)
        return Variant::SignedOut;
    if (!m_state)
        return m_keyringLocked ? Variant::KeyringLocked : Variant::Loading;
    return m_state->running ? Variant::RunningEntry : Variant::StartForm;
}

bool Model::canStart() const {
    // The same guard `start` applies.
    return !m_busy && !m_selectedClient.isEmpty() && m_selectedReason > 0;
}

bool Model::isAdmin() const {
    return m_signedIn && m_state && m_state->user.role == QLatin1String("admin");
}

void Model::syncViewRules() {
    if (const Variant now = variant(); now != m_shownVariant) {
        m_shownVariant = now;
        Q_EMIT variantChanged();
    }
    if (const bool now = canStart(); now != m_shownCanStart) {
        m_shownCanStart = now;
        Q_EMIT canStartChanged();
    }
    if (const bool now = isAdmin(); now != m_shownIsAdmin) {
        m_shownIsAdmin = now;
        Q_EMIT isAdminChanged();
    }
}
