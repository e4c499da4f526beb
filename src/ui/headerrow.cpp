#include "ui/headerrow.h"

#include "model/model.h"
#include "ui/style.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

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
    m_reload->setIcon(ui::reloadIcon(palette()));
    m_reload->setIconSize(QSize(16, 16));
    m_reload->setAutoRaise(true);
    row->addWidget(m_reload, 0, Qt::AlignVCenter);

    // Never disabled: while another action runs, refresh simply does nothing.
    connect(m_reload, &QToolButton::clicked, model, &Model::runRefresh);
    connect(model, &Model::signedInChanged, this, &HeaderRow::sync);
    sync();
}

void HeaderRow::sync() {
    m_reload->setVisible(m_model->signedIn());
}

void HeaderRow::changeEvent(QEvent *event) {
    // Our own drawing of the arrow takes the text colour; redo it for a new palette.
    if (event->type() == QEvent::PaletteChange)
        m_reload->setIcon(ui::reloadIcon(palette()));
    QWidget::changeEvent(event);
}
