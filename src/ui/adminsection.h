#pragma once
// For administrators: the inbox link, "Handy verbinden", and the phone setup
// link as a QR code with "Link kopieren" for sending it another way.

#include <QWidget>
#include <chrono>

class LinkButton;
class Model;
class QLabel;
class QPushButton;
class QTimer;

// The setup image at exactly 220 × 220, every module a sharp block.
class QrImageView : public QWidget {
    Q_OBJECT
public:
    explicit QrImageView(Model *model, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Model *m_model;
};

class AdminSection : public QWidget {
    Q_OBJECT
public:
    explicit AdminSection(Model *model, QWidget *parent = nullptr);

    // How long a copied link stays on the clipboards (a minute; tests shorten it).
    static inline std::chrono::milliseconds clipboardLifetime{60'000};

private:
    void sync();
    void copyLink();

    Model *m_model;
    LinkButton *m_inbox;
    QPushButton *m_phone;
    QrImageView *m_qr;
    QLabel *m_qrCaption;
    QPushButton *m_copy;
    QTimer *m_copied;
    // "Handy verbinden" had the focus when its request began.
    bool m_phoneFocus = false;
};
