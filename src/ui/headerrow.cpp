#include "ui/headerrow.h"

#include "model/model.h"
#include "ui/style.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

HeaderRow::HeaderRow(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto *title = new QLabel(QStringLiteral("velmora."), this);
    title->setObjectName(QStringLiteral("titleLabel"));
    title->setFont(ui::headlineFont(font()));
    auto *subtitle = new QLabel(QStringLiteral("Projektzeit"), this);
    subtitle->setObjectName(QStringLiteral("subtitleLabel"));
    subtitle->setFont(ui::captionFont(font()));
    ui::makeSecondary(subtitle);
    titles->addWidget(title);
    titles->addWidget(subtitle);
    row->addLayout(titles);
    row->addStretch(1);

    m_reload = new QToolButton(this);
    m_reload->setObjectName(QStringLiteral("reloadButton"));
    m_reload->setToolTip(QStringLiteral("Daten neu laden"));
    m_reload->setAccessibleName(QStringLiteral("Daten neu laden"));
    m_reloadIcon = ui::reloadIcon(palette());
    m_reload->setIcon(m_reloadIcon);
    m_reload->setIconSize(QSize(16, 16));
    m_reload->setAutoRaise(true);
    row->addWidget(m_reload, 0, Qt::AlignVCenter);

    m_settings = new QToolButton(this);
    m_settings->setObjectName(QStringLiteral("settingsButton"));
    m_settings->setToolTip(QStringLiteral("Einstellungen"));
    m_settings->setAccessibleName(QStringLiteral("Einstellungen"));
    m_settings->setIcon(ui::settingsIcon(palette()));
    m_settings->setIconSize(QSize(16, 16));
    m_settings->setAutoRaise(true);
    m_settings->setPopupMode(QToolButton::InstantPopup);
    // Drawn without the arrow: the symbol itself says a menu opens.
    m_settings->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_settings->hide();
    row->addWidget(m_settings, 0, Qt::AlignVCenter);

    // Never disabled: while another action runs, refresh simply does nothing.
    connect(m_reload, &QToolButton::clicked, model, &Model::runRefresh);
    connect(model, &Model::signedInChanged, this, &HeaderRow::sync);
    sync();

    m_turn = new QVariantAnimation(this);
    m_turn->setStartValue(0.0);
    m_turn->setEndValue(360.0);
    m_turn->setDuration(900);
    m_turn->setLoopCount(-1);
    connect(m_turn, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &degrees) { showTurned(degrees.toReal()); });
    connect(model, &Model::reloadingChanged, this, &HeaderRow::syncReloading);
    syncReloading();
}

void HeaderRow::setSettingsMenu(QMenu *menu) {
    m_settings->setMenu(menu);
    m_settings->setVisible(menu != nullptr);
}

void HeaderRow::syncReloading() {
    if (m_model->reloading()) {
        m_turn->start();
    } else {
        m_turn->stop();
        m_reload->setIcon(m_reloadIcon);
    }
}

void HeaderRow::showTurned(qreal degrees) {
    // The same size as the still arrow, so nothing around it moves.
    const QSize size = m_reload->iconSize();
    const qreal ratio = devicePixelRatioF();
    QPixmap turned(size * ratio);
    turned.setDevicePixelRatio(ratio);
    turned.fill(Qt::transparent);
    QPainter painter(&turned);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(size.width() / 2.0, size.height() / 2.0);
    painter.rotate(degrees);
    painter.translate(-size.width() / 2.0, -size.height() / 2.0);
    painter.drawPixmap(0, 0, m_reloadIcon.pixmap(size, ratio));
    painter.end();
    m_reload->setIcon(QIcon(turned));
}

void HeaderRow::sync() {
    m_reload->setVisible(m_model->signedIn());
}

void HeaderRow::changeEvent(QEvent *event) {
    // Our own drawing of the arrow takes the text colour; redo it for a new palette.
    if (event->type() == QEvent::PaletteChange) {
        m_reloadIcon = ui::reloadIcon(palette());
        m_reload->setIcon(m_reloadIcon);
        m_settings->setIcon(ui::settingsIcon(palette()));
    }
    QWidget::changeEvent(event);
}
