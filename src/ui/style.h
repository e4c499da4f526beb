#pragma once
// The panel's few text styles and button looks, all taken from the desktop's
// own style and palette so that a dark desktop stays dark.

#include <QAbstractButton>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <optional>

namespace ui {

QFont headlineFont(const QFont &base);
QFont subheadlineFont(const QFont &base);
QFont captionFont(const QFont &base);
// The running clock: 28 px, semibold, fixed pitch.
QFont clockFont();

// A text field whose label is its placeholder, as the panel's fields are.
QLineEdit *textField(const QString &objectName, const QString &label, QWidget *parent);
// A label that shows its text exactly as written, never as rich text.
QLabel *plainLabel(const QString &objectName, QWidget *parent);
// Dimmed text that follows the palette (light and dark alike).
void makeSecondary(QLabel *label);
// The message line's orange, readable on light and dark backgrounds.
QColor messageColor();
// The reload symbol: the desktop theme's icon, or our own drawing of it.
QIcon reloadIcon(const QPalette &palette);
// The settings symbol, likewise.
QIcon settingsIcon(const QPalette &palette);

// A button drawn as plain text (raised only under the mouse), sized to its text.
QToolButton *plainButton(const QString &objectName, const QString &text, QWidget *parent);
// Pressing Return never clicks a button of the panel; only a real click or
// the space bar does.
void neverDefault(QPushButton *button);

} // namespace ui

// The one action a section is about: drawn in the highlight colour.
class ProminentButton : public QPushButton {
    Q_OBJECT
public:
    ProminentButton(const QString &text, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The arrow and title of a section that folds open. Checked means expanded;
// it is drawn like text, not like a pressed button.
class DisclosureButton : public QToolButton {
    Q_OBJECT
public:
    DisclosureButton(const QString &text, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A text link that opens an address in the browser: reached by Tab and
// Shift+Tab like any control, pressed by a click, Enter or Space (clicked()).
// Shows the address it would open as its tooltip and description.
class LinkButton : public QAbstractButton {
    Q_OBJECT
public:
    LinkButton(const QString &text, QWidget *parent = nullptr);
    // Nothing to open hides the link.
    void setUrl(const std::optional<QUrl> &url);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
