#include "ui/style.h"

#include <cmath>

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QSvgRenderer>
#include <QUrl>

namespace ui {

QLineEdit *textField(const QString &objectName, const QString &label, QWidget *parent) {
    auto *field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setPlaceholderText(label);
    field->setAccessibleName(label);
    return field;
}

namespace {
QFont scaled(const QFont &base, double factor) {
    QFont font = base;
    if (base.pointSizeF() > 0)
        font.setPointSizeF(qMax(7.0, base.pointSizeF() * factor));
    else
        font.setPixelSize(qMax(9, qRound(base.pixelSize() * factor)));
    return font;
}
} // namespace

QFont headlineFont(const QFont &base) {
    QFont font = base;
    font.setWeight(QFont::Bold);
    return font;
}

QFont subheadlineFont(const QFont &base) {
    return scaled(base, 0.92);
}

QFont captionFont(const QFont &base) {
    return scaled(base, 0.85);
}

QFont clockFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(28);
    font.setWeight(QFont::DemiBold);
    return font;
}

QLabel *plainLabel(const QString &objectName, QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

void makeSecondary(QLabel *label) {
    label->setForegroundRole(QPalette::PlaceholderText);
}

QColor messageColor() {
    return QColor(0xE6, 0x74, 0x00);
}

namespace {
// The desktop theme's icon of that name, else our drawing in the text colour,
// so it reads on any background; %1 in the drawing stands for that colour.
QIcon themedOrDrawn(const QString &themeName, const QString &svgTemplate, const QPalette &palette) {
    if (QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    QSvgRenderer renderer(svgTemplate.arg(palette.color(QPalette::ButtonText).name()).toUtf8());
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
} // namespace

QIcon reloadIcon(const QPalette &palette) {
    return themedOrDrawn(
        QStringLiteral("view-refresh"),
        QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 16 16'>"
                       "<path d='M13 8a5 5 0 1 1-1.46-3.54' fill='none' stroke='%1' "
                       "stroke-width='1.7' stroke-linecap='round'/>"
                       "<path d='M13.8 1.6v4.2H9.6z' fill='%1'/></svg>"),
        palette);
}

QIcon settingsIcon(const QPalette &palette) {
    // Three dots in a column: the common sign for "more settings here".
    return themedOrDrawn(
        QStringLiteral("open-menu-symbolic"),
        QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 16 16'>"
                       "<circle cx='8' cy='3' r='1.6' fill='%1'/>"
                       "<circle cx='8' cy='8' r='1.6' fill='%1'/>"
                       "<circle cx='8' cy='13' r='1.6' fill='%1'/></svg>"),
        palette);
}

void neverDefault(QPushButton *button) {
    button->setAutoDefault(false);
    button->setDefault(false);
}

} // namespace ui

ProminentButton::ProminentButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent) {
    ui::neverDefault(this);
}

namespace {

double luminance(const QColor &c) {
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor &a, const QColor &b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The highlight colour, darkened or lightened until its text reads well.
// Styles draw buttons a little lighter than their colour, so aim high.
QColor readableFill(QColor fill, const QColor &text) {
    const bool lightText = luminance(text) > 0.5;
    for (int step = 0; step < 10 && contrast(fill.lighter(112), text) < 4.5; ++step)
        fill = lightText ? fill.darker(112) : fill.lighter(112);
    return fill;
}

} // namespace

void ProminentButton::paintEvent(QPaintEvent *) {
    // Paint with the highlight colours instead of changing the palette, so a
    // later palette change of the desktop still applies. Disabled stays plain.
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        const QColor text = option.palette.color(group, QPalette::HighlightedText);
        option.palette.setColor(
            group, QPalette::Button,
            readableFill(option.palette.color(group, QPalette::Highlight), text));
        option.palette.setColor(group, QPalette::ButtonText, text);
    }
    painter.drawControl(QStyle::CE_PushButton, option);
}

LinkButton::LinkButton(const QString &text, QWidget *parent)
    : QAbstractButton(parent) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LinkButton::setUrl(const std::optional<QUrl> &url) {
    const QString address = url ? url->toString() : QString();
    setToolTip(address);
    setAccessibleDescription(address);
    setVisible(url.has_value());
}

QSize LinkButton::sizeHint() const {
    // Room for the focus frame around the text.
    return fontMetrics().size(Qt::TextSingleLine, text()) + QSize(4, 2);
}

void LinkButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    QFont underlined = font();
    underlined.setUnderline(true);
    painter.setFont(underlined);
    painter.setPen(palette().color(QPalette::Link));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    if (hasFocus()) {
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
    }
}

void LinkButton::keyPressEvent(QKeyEvent *event) {
    // Links follow Enter as well as Space; nothing else of the panel does.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

DisclosureButton::DisclosureButton(const QString &text, QWidget *parent)
    : QToolButton(parent) {
    setText(text);
    setCheckable(true);
    setChecked(false);
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setArrowType(Qt::RightArrow);
    connect(this, &QToolButton::toggled, this,
            [this](bool expanded) { setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow); });
}

void DisclosureButton::paintEvent(QPaintEvent *) {
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.state &= ~QStyle::State_On;
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
}

QToolButton *ui::plainButton(const QString &objectName, const QString &text, QWidget *parent) {
    auto *button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setText(text);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}
