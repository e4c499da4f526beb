#include "ui/lockedview.h"

#include "model/model.h"
#include "ui/style.h"

#include <QVBoxLayout>

LockedView::LockedView(Model *model, QWidget *parent)
    : QWidget(parent) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    m_unlock = new ProminentButton(QStringLiteral("Entsperren"), this);
    m_unlock->setObjectName(QStringLiteral("unlockButton"));
    // A reload the user asks for brings up the keyring's prompt first.
    connect(m_unlock, &QPushButton::clicked, model, &Model::runRefresh);
    stack->addWidget(m_unlock, 0, Qt::AlignLeft);
    const auto sync = [this, model] { m_unlock->setEnabled(!model->reloading()); };
    connect(model, &Model::reloadingChanged, this, sync);
    sync();
}

QWidget *LockedView::firstControl() const {
    return m_unlock;
}
