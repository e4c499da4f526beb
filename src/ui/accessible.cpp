#include "ui/accessible.h"

#include "ui/adminsection.h"
#include "ui/clockview.h"
#include "ui/style.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>

namespace {

// A widget whose text assistive technology may read but not edit: the
// clock's time, the picker's choice. AT-SPI shows a value that is not a
// number this way, as the widget's value and its text.
class ReadOnlyTextWidget : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    using QAccessibleWidget::QAccessibleWidget;
    virtual QString content() const = 0;

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? content() : QAccessibleWidget::text(t);
    }
    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(int start, int end) const override {
        const QString all = content();
        if (end < 0 || end > all.size())
            end = int(all.size());
        return start < 0 || start >= end ? QString() : all.mid(start, end - start);
    }
    int characterCount() const override { return int(content().size()); }
    void selection(int, int *start, int *end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *start, int *end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }
};

class PickerAccessible : public ReadOnlyTextWidget {
public:
    explicit PickerAccessible(QWidget *widget)
        : ReadOnlyTextWidget(widget, QAccessible::ComboBox) {}

    QString content() const override { return combo()->currentText(); }
    // The list of entries, as Qt's own combo box exposes it.
    int childCount() const override { return combo()->view() ? 1 : 0; }
    QAccessibleInterface *child(int index) const override {
        return index == 0 && combo()->view()
                   ? QAccessible::queryAccessibleInterface(combo()->view())
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return child && combo()->view() && child->object() == combo()->view() ? 0 : -1;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = combo()->view() && combo()->view()->isVisible();
        return state;
    }
    QStringList actionNames() const override {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override {
        if (name != showMenuAction() && name != pressAction())
            return QAccessibleWidget::doAction(name);
        if (combo()->view() && combo()->view()->isVisible())
            combo()->hidePopup();
        else
            combo()->showPopup();
    }

private:
    QComboBox *combo() const { return static_cast<QComboBox *>(widget()); }
};

// Named "Laufzeit" with the time as its text. Its ticks send no event, so
// a screen reader reads the time when asked and never every second.
class ClockAccessible : public ReadOnlyTextWidget {
public:
    explicit ClockAccessible(QWidget *widget)
        : ReadOnlyTextWidget(widget, QAccessible::StaticText) {}

    QString content() const override { return static_cast<ClockView *>(widget())->text(); }
};

// A link: named by its text, the address as description, pressed by the
// accessibility action as by Enter, Space or a click.
class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        return t == QAccessible::Name && text.isEmpty() ? link()->text() : text;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        return state;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override {
        if (name == pressAction())
            link()->click();
        else
            QAccessibleWidget::doAction(name);
    }

private:
    LinkButton *link() const { return static_cast<LinkButton *>(widget()); }
};

// The loading bar: a progress bar of unknown length, busy.
class BusyAccessible : public QAccessibleWidget {
public:
    explicit BusyAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::ProgressBar) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.busy = true;
        return state;
    }
};

class MessageAccessible : public QAccessibleWidget {
public:
    explicit MessageAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::AlertMessage) {}

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? static_cast<QLabel *>(widget())->text()
                                      : QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *accessibleFor(const QString &className, QObject *object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (className == QLatin1String("Picker"))
        return new PickerAccessible(widget);
    if (className == QLatin1String("ClockView"))
        return new ClockAccessible(widget);
    if (className == QLatin1String("LinkButton"))
        return new LinkAccessible(widget);
    if (className == QLatin1String("MessageLine"))
        return new MessageAccessible(widget);
    if (className == QLatin1String("BusyBar"))
        return new BusyAccessible(widget);
    if (className == QLatin1String("QrImageView"))
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    return nullptr;
}

} // namespace

void ui::installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    Q_UNUSED(installed);
}

MessageLine::MessageLine(QWidget *parent)
    : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setVisible(false);
}

void MessageLine::setMessage(const QString &message) {
    if (message == text())
        return;
    setText(message);
    setVisible(!message.isEmpty());
    if (message.isEmpty())
        return;
    // Over AT-SPI the alert's appearing and its new name (QLabel reports it)
    // are what a screen reader announces; other platforms take the Alert.
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}
