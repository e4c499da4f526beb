#include "ui/clockview.h"

#include <QEvent>
#include <QPainter>

ClockView::ClockView(QWidget *parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAccessibleName(QStringLiteral("Laufzeit"));
}

void ClockView::setText(const QString &text) {
    if (text == m_text)
        return;
    const bool resized = text.size() != m_text.size();
    m_text = text;
    if (resized)
        updateGeometry();
    update();
}

QSize ClockView::sizeHint() const {
    const QFontMetrics metrics(font());
    // Digits of a fixed-pitch font all have one width.
    return QSize(metrics.horizontalAdvance(m_text.isEmpty() ? QStringLiteral("00:00:00") : m_text),
                 metrics.height());
}

void ClockView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, m_text);
}

void ClockView::changeEvent(QEvent *event) {
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}
