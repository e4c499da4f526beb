#pragma once
// What assistive technology (screen readers, AT-SPI clients) learns about the
// panel's own controls: links as links, pickers named by their label with the
// choice as value, the clock as "Laufzeit", the QR code as a picture, the
// loading bar as busy, and the message line as an alert.

#include <QComboBox>
#include <QLabel>

namespace ui {

// Teaches Qt's accessibility layer the panel's own classes (this file's, LinkButton,
// ClockView, QrImageView, BusyBar). The panel calls it; safe to call often.
void installAccessibility();

} // namespace ui

// A picker whose accessible name is its label ("Kunde") and whose value is
// the current choice. Qt on Linux would name it by the choice instead.
class Picker : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
};

// The message line: an alert, announced each time its text changes.
class MessageLine : public QLabel {
    Q_OBJECT
public:
    explicit MessageLine(QWidget *parent = nullptr);
    // Shows `text` (hidden when empty) and announces it when it is new.
    void setMessage(const QString &text);
};
