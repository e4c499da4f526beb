#include "ui/binding.h"

#include <QAbstractItemView>
#include <QListView>
#include <QSignalBlocker>

namespace ui {

void bindText(QLineEdit *field, Model *model, TextGetter get, TextSetter set,
              ChangeSignal changed) {
    field->setText((model->*get)());
    // textEdited: only the user's edits, never our own setText below.
    QObject::connect(field, &QLineEdit::textEdited, model,
                     [model, set](const QString &text) { (model->*set)(text); });
    QObject::connect(model, changed, field, [field, model, get] {
        const QString &value = (model->*get)();
        if (field->text() == value)
            return;
        const int cursor = field->cursorPosition();
        field->setText(value);
        field->setCursorPosition(qMin(cursor, int(value.size())));
    });
}

ChoiceList *attachChoices(QComboBox *combo, std::function<void(const QVariant &)> write) {
    auto *list = new ChoiceList(combo);
    combo->setModel(list);
    combo->setMaxVisibleItems(20);
    // Never measure every entry: the panel has a fixed width anyway.
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(8);
    combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    if (auto *view = qobject_cast<QListView *>(combo->view()))
        view->setUniformItemSizes(true);
    // activated: only the user's choices, never a programmatic change.
    QObject::connect(combo, &QComboBox::activated, combo, [list, write](int row) {
        if (row >= 0)
            write(list->idAt(row));
    });
    return list;
}

void showChoice(QComboBox *combo, const QVariant &id) {
    auto *list = static_cast<ChoiceList *>(combo->model());
    const int row = list->indexOf(id);
    if (combo->currentIndex() != row) {
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(row);
    }
}

void showChoices(QComboBox *combo, QList<Choice> choices, const QVariant &id) {
    auto *list = static_cast<ChoiceList *>(combo->model());
    {
        const QSignalBlocker blocker(combo);
        list->replace(std::move(choices));
    }
    showChoice(combo, id);
}

} // namespace ui

int ChoiceList::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_choices.size());
}

QVariant ChoiceList::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_choices.size())
        return {};
    const Choice &choice = m_choices[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
        return choice.label;
    case Qt::UserRole:
        return choice.id;
    default:
        return {};
    }
}

bool ChoiceList::replace(QList<Choice> choices) {
    if (choices == m_choices)
        return false;
    beginResetModel();
    m_choices = std::move(choices);
    endResetModel();
    return true;
}

int ChoiceList::indexOf(const QVariant &id) const {
    for (qsizetype row = 0; row < m_choices.size(); ++row) {
        if (m_choices[row].id == id)
            return int(row);
    }
    return -1;
}

QVariant ChoiceList::idAt(int row) const {
    return row >= 0 && row < m_choices.size() ? m_choices[row].id : QVariant();
}
