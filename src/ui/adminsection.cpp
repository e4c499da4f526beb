#include "ui/adminsection.h"

#include "model/model.h"
#include "ui/style.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

QrImageView::QrImageView(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    setFixedSize(220, 220);
    setAccessibleName(QStringLiteral("QR-Code"));
    setAccessibleDescription(
        QStringLiteral("Einmaliger Einrichtungslink: mit der Handy-Kamera scannen, um das Handy "
                       "mit diesem Konto zu verbinden. 15 Minuten gültig. Ohne Kamera: "
                       "„Link kopieren“ und den Link auf dem Handy öffnen."));
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

namespace {
const QString copyText = QStringLiteral("Link kopieren");
const QString copiedText = QStringLiteral("Kopiert ✓");
} // namespace

AdminSection::AdminSection(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(13);

    m_inbox = new LinkButton(QStringLiteral("Eingangsmappe öffnen"), this);
    m_inbox->setObjectName(QStringLiteral("inboxLink"));
    connect(m_inbox, &LinkButton::clicked, model, [model] {
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

    m_copy = new QPushButton(copyText, this);
    m_copy->setObjectName(QStringLiteral("copyLinkButton"));
    ui::neverDefault(m_copy);
    // As wide as the longer of its two texts, so the confirmation moves nothing.
    m_copy->setText(copiedText);
    m_copy->setMinimumWidth(m_copy->sizeHint().width());
    m_copy->setText(copyText);
    connect(m_copy, &QPushButton::clicked, this, &AdminSection::copyLink);
    stack->addWidget(m_copy, 0, Qt::AlignLeft);
    m_copied = new QTimer(this);
    m_copied->setSingleShot(true);
    m_copied->setInterval(2000);
    connect(m_copied, &QTimer::timeout, m_copy, [this] { m_copy->setText(copyText); });

    connect(model, &Model::serverURLChanged, this, &AdminSection::sync);
    connect(model, &Model::busyChanged, this, &AdminSection::sync);
    connect(model, &Model::setupImageChanged, this, &AdminSection::sync);
    connect(model, &Model::setupLinkChanged, this, [this] {
        // "Kopiert ✓" was about the link before.
        m_copied->stop();
        m_copy->setText(copyText);
        sync();
    });
    sync();
}

void AdminSection::sync() {
    m_inbox->setUrl(m_model->inboxURL());
    // A disabled button drops the focus onto whatever follows ("Auf Updates
    // prüfen …", where a stray Space would start a check): the section holds it
    // while the request runs and hands it back.
    const bool busy = m_model->busy();
    if (busy && m_phone->hasFocus()) {
        m_phoneFocus = true;
        setFocus(Qt::OtherFocusReason);
    }
    m_phone->setEnabled(!busy);
    if (!busy && std::exchange(m_phoneFocus, false) && hasFocus())
        m_phone->setFocus(Qt::OtherFocusReason);
    const bool image = !m_model->setupImage().isNull();
    m_qr->setVisible(image);
    m_qrCaption->setVisible(image);
    m_copy->setVisible(!m_model->setupLink().isEmpty());
}

void AdminSection::copyLink() {
    // The link signs a phone in: clipboard managers are told to keep it out
    // of their history, and it goes after a minute unless replaced meanwhile.
    const QString link = m_model->setupLink();
    QClipboard *clipboard = QGuiApplication::clipboard();
    const auto secret = [&link] {
        auto *data = new QMimeData;
        data->setText(link);
        data->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
        return data;
    };
    // Both the clipboard (Ctrl+V) and the X selection (middle click).
    QList<QClipboard::Mode> modes{QClipboard::Clipboard};
    if (clipboard->supportsSelection())
        modes << QClipboard::Selection;
    for (const QClipboard::Mode mode : modes)
        clipboard->setMimeData(secret(), mode);
    QTimer::singleShot(clipboardLifetime, clipboard, [clipboard, modes, link] {
        for (const QClipboard::Mode mode : modes) {
            if (clipboard->text(mode) == link)
                clipboard->clear(mode);
        }
    });
    m_copy->setText(copiedText);
    m_copied->start();
}
