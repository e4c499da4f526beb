#include "ui/loadingview.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <cmath>

BusyBar::BusyBar(QWidget *parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(4);
    setAccessibleName(QStringLiteral("Lade Daten …"));
    m_frames.setInterval(33);
    connect(&m_frames, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void BusyBar::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_clock.start();
    m_frames.start();
}

void BusyBar::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    m_frames.stop();
}

void BusyBar::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track = rect();
    const qreal radius = track.height() / 2;
    QColor trackColor = palette().color(QPalette::WindowText);
    trackColor.setAlphaF(0.12f);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);

    // A third of the width glides across once every 1.4 seconds.
    const qreal phase =
        m_clock.isValid() ? std::fmod(double(m_clock.elapsed()) / 1400.0, 1.0) : 0.0;
    const qreal segment = track.width() / 3;
    const qreal x = -segment + phase * (track.width() + segment);
    QPainterPath clip;
    clip.addRoundedRect(track, radius, radius);
    painter.setClipPath(clip);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawRoundedRect(QRectF(x, 0, segment, track.height()), radius, radius);
}

LoadingView::LoadingView(QWidget *parent)
    : QWidget(parent) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    auto *bar = new BusyBar(this);
    bar->setObjectName(QStringLiteral("loadingIndicator"));
    stack->addWidget(bar);
    auto *label = new QLabel(QStringLiteral("Lade Daten …"), this);
    label->setObjectName(QStringLiteral("loadingLabel"));
    stack->addWidget(label);
}
