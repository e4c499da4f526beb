#include "ui/adminsection.h"

#include "model/model.h"
#include "ui/style.h"

#include <QDesktopServices>
#include <QPainter>
#include <QVBoxLayout>

QrImageView::QrImageView(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    setFixedSize(220, 220);
    setAccessibleName(QStringLiteral("QR-Code"));
    connect(model, &Model::setupImageChanged, this, qOverload<>(&QWidget::update));
}

void QrImageView::paintEvent(QPaintEvent *) {
    const QImage &image = m_model->setupImage();
    if (image.isNull())
        return;
    QPainter painter(this);
    // Scaling without interpolation keeps the modules crisp for the camera.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(rect(), image);
}

AdminSection::AdminSection(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(13);

    m_inbox = new LinkLabel(QStringLiteral("Eingangsmappe öffnen"), this);
    m_inbox->setObjectName(QStringLiteral("inboxLink"));
    connect(m_inbox, &LinkLabel::activated, model, [model] {
        if (const auto url = model->inboxURL())
            QDesktopServices::openUrl(*url);
    });
    stack->addWidget(m_inbox, 0, Qt::AlignLeft);

    m_phone = new QPushButton(QStringLiteral("Handy verbinden"), this);
    m_phone->setObjectName(QStringLiteral("phoneButton"));
    ui::neverDefault(m_phone);
    connect(m_phone, &QPushButton::clicked, model, &Model::runMakeSetupLink);
    stack->addWidget(m_phone, 0, Qt::AlignLeft);

    m_qr = new QrImageView(model, this);
    m_qr->setObjectName(QStringLiteral("qrImage"));
    stack->addWidget(m_qr, 0, Qt::AlignHCenter);

    m_qrCaption = ui::plainLabel(QStringLiteral("qrCaption"), this);
    m_qrCaption->setText(QStringLiteral("Einmaligen QR-Code mit der Handy-Kamera scannen."));
    m_qrCaption->setFont(ui::captionFont(font()));
    ui::makeSecondary(m_qrCaption);
    stack->addWidget(m_qrCaption);

    connect(model, &Model::serverURLChanged, this, &AdminSection::sync);
    connect(model, &Model::busyChanged, this, &AdminSection::sync);
    connect(model, &Model::setupImageChanged, this, &AdminSection::sync);
    sync();
}

void AdminSection::sync() {
    m_inbox->setUrl(m_model->inboxURL());
    m_phone->setEnabled(!m_model->busy());
    const bool image = !m_model->setupImage().isNull();
    m_qr->setVisible(image);
    m_qrCaption->setVisible(image);
}
