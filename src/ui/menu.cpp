#include "ui/menu.h"

#include "model/model.h"
#include "ui/accessible.h"
#include "ui/adminsection.h"
#include "ui/footerrow.h"
#include "ui/headerrow.h"
#include "ui/loadingview.h"
#include "ui/lockedview.h"
#include "ui/runningentryview.h"
#include "ui/signedoutsection.h"
#include "ui/startform.h"
#include "ui/style.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {
constexpr int panelWidth = 340;
}

Menu::Menu(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    ui::installAccessibility();
    setObjectName(QStringLiteral("menu"));
    setFixedWidth(panelWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(13);

    m_header = new HeaderRow(model, this);
    stack->addWidget(m_header);

    // The content variants; exactly one is shown.
    m_signedOut = new SignedOutSection(model, this);
    stack->addWidget(m_signedOut);
    m_running = new RunningEntryView(model, this);
    stack->addWidget(m_running);
    m_startForm = new StartForm(model, this);
    stack->addWidget(m_startForm);
    m_loading = new LoadingView(this);
    stack->addWidget(m_loading);
    m_locked = new LockedView(model, this);
    stack->addWidget(m_locked);

    m_admin = new AdminSection(model, this);
    m_admin->setObjectName(QStringLiteral("adminSection"));
    stack->addWidget(m_admin);

    m_message = new MessageLine(this);
    m_message->setObjectName(QStringLiteral("messageLabel"));
    m_message->setFont(ui::captionFont(font()));
    QPalette orange = m_message->palette();
    orange.setColor(QPalette::WindowText, ui::messageColor());
    m_message->setPalette(orange);
    stack->addWidget(m_message);

    auto *divider = new QFrame(this);
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    stack->addWidget(divider);

#if VELMORA_UPDATER
    auto *update = new QPushButton(QStringLiteral("Auf Updates prüfen …"), this);
    update->setObjectName(QStringLiteral("updateButton"));
    ui::neverDefault(update);
    connect(update, &QPushButton::clicked, this, &Menu::checkForUpdatesRequested);
    stack->addWidget(update, 0, Qt::AlignLeft);
#endif

    m_footer = new FooterRow(model, this);
    connect(m_footer, &FooterRow::quitRequested, this, &Menu::quitRequested);
    stack->addWidget(m_footer);

    m_signedOut->setObjectName(QStringLiteral("signedOutSection"));
    m_running->setObjectName(QStringLiteral("runningEntryView"));
    m_startForm->setObjectName(QStringLiteral("startForm"));
    m_loading->setObjectName(QStringLiteral("loadingView"));
    m_locked->setObjectName(QStringLiteral("lockedView"));

    connect(model, &Model::variantChanged, this, &Menu::syncVariant);
    connect(model, &Model::isAdminChanged, this, &Menu::syncVariant);
    connect(model, &Model::messageChanged, this, &Menu::syncMessage);
    connect(model, &Model::noticeChanged, this, &Menu::syncMessage);
    connect(model, &Model::busyChanged, this, &Menu::returnFocus);
    // A button disabled while its action runs drops the focus onto whatever
    // follows it ("Mit Passwort anmelden", "Auf Updates prüfen …"); remember
    // where it was and where it went.
    m_focusWatch =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
            if (old && inContent(old) && !old->isEnabled()) {
                m_focusReturn = old;
                m_focusDropped = now;
            }
        });
    syncVariant();
    syncMessage();
}

Menu::~Menu() {
    disconnect(m_focusWatch);
}

QWidget *Menu::shownVariant() const {
    switch (m_model->variant()) {
    case Model::Variant::SignedOut:
        return m_signedOut;
    case Model::Variant::RunningEntry:
        return m_running;
    case Model::Variant::StartForm:
        return m_startForm;
    case Model::Variant::KeyringLocked:
        return m_locked;
    case Model::Variant::Loading:
        break;
    }
    return m_loading;
}

void Menu::syncVariant() {
    QWidget *variant = shownVariant();
    const QList<QWidget *> variants{m_signedOut, m_running, m_startForm, m_loading, m_locked};
    // Focus that sat in the content goes with it into the new variant, never
    // to whatever button follows (a stray Space would press it).
    QWidget *focus = focusWidget();
    const bool focusInContent =
        focus == this || (m_focusReturn && !variant->isAncestorOf(m_focusReturn)) ||
        std::any_of(variants.cbegin(), variants.cend(),
                    [&](QWidget *v) { return v != variant && v->isAncestorOf(focus); });
    // Show the new one before hiding the old, so focus has somewhere to go.
    variant->setVisible(true);
    for (QWidget *other : variants) {
        if (other != variant)
            other->setVisible(false);
    }
    m_admin->setVisible(m_model->isAdmin());
    if (focusInContent || (variant == m_signedOut && !m_signedOut->isAncestorOf(focus))) {
        m_focusReturn = nullptr;
        focusContent();
    }
}

void Menu::focusContent() {
    // Each section names its first control. (Not as a focus proxy: in Qt 6.4
    // a container whose child is its focus proxy breaks the Tab chain.)
    QWidget *target = nullptr;
    switch (m_model->variant()) {
    case Model::Variant::SignedOut:
        target = m_signedOut->firstControl();
        break;
    case Model::Variant::RunningEntry:
        target = m_running->firstControl();
        break;
    case Model::Variant::StartForm:
        target = m_startForm->firstControl();
        break;
    case Model::Variant::KeyringLocked:
        target = m_locked->firstControl();
        break;
    case Model::Variant::Loading:
        break; // the panel itself holds the focus until a form is there
    }
    (target ? target : this)->setFocus(Qt::OtherFocusReason);
}

bool Menu::inContent(const QWidget *widget) const {
    for (const QWidget *variant :
         {static_cast<QWidget *>(m_signedOut), static_cast<QWidget *>(m_running),
          static_cast<QWidget *>(m_startForm), static_cast<QWidget *>(m_locked)}) {
        if (variant->isAncestorOf(widget))
            return true;
    }
    return false;
}

void Menu::returnFocus() {
    if (m_model->busy() || !m_focusReturn)
        return;
    QWidget *target = std::exchange(m_focusReturn, nullptr);
    const QWidget *dropped = std::exchange(m_focusDropped, nullptr);
    // Not when the user has moved on within the content meanwhile.
    const QWidget *focus = focusWidget();
    if (target->isVisible() && target->isEnabled() && (focus == dropped || !inContent(focus)))
        target->setFocus(Qt::OtherFocusReason);
}

void Menu::syncMessage() {
    const QString &message = m_model->message();
    m_message->setMessage(message.isEmpty() ? m_model->notice() : message);
}

void Menu::setSettingsMenu(QMenu *menu) {
    m_header->setSettingsMenu(menu);
}

QSize Menu::sizeHint() const {
    // Word-wrapped lines make the height depend on the width, which is fixed.
    const QLayout *stack = layout();
    return QSize(panelWidth, stack->hasHeightForWidth() ? stack->totalHeightForWidth(panelWidth)
                                                        : stack->totalSizeHint().height());
}

void Menu::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    if (m_model->variant() == Model::Variant::SignedOut &&
        !m_signedOut->isAncestorOf(focusWidget()))
        focusContent();
    m_model->runRefresh();
}

void Menu::keyPressEvent(QKeyEvent *event) {
    // Fields pass Return up to us; taking it here keeps it from any default
    // button of a dialog or window the panel may sit in.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool Menu::event(QEvent *event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        const QSize hint = sizeHint();
        if (hint != m_lastHint) {
            m_lastHint = hint;
            updateGeometry();
            if (isWindow())
                resize(hint);
            Q_EMIT sizeHintChanged();
        }
    }
    return handled;
}
