#pragma once
// Two-way bindings between controls and the model. The control never keeps
// a copy of its own: every edit is written into the model at once, and every
// model change is shown at once.

#include "model/model.h"

#include <QAbstractListModel>
#include <QComboBox>
#include <QLineEdit>
#include <QVariant>
#include <functional>

namespace ui {

using TextGetter = const QString &(Model::*)() const;
using TextSetter = void (Model::*)(const QString &);
using ChangeSignal = void (Model::*)();

// Every keystroke calls the setter; a model change is shown without moving
// the cursor of someone typing (an echo of the same text changes nothing).
void bindText(QLineEdit *field, Model *model, TextGetter get, TextSetter set, ChangeSignal changed);

} // namespace ui

// The entries of a picker: a label and the id it stands for.
struct Choice {
    QVariant id;
    QString label;
    bool operator==(const Choice &) const = default;
};

// The list behind a picker. Replacing it with an equal list does nothing, so
// a picker over thousands of clients is rebuilt only when they change.
class ChoiceList : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // True when the entries changed.
    bool replace(QList<Choice> choices);
    // The row of the entry with this id, -1 if none.
    int indexOf(const QVariant &id) const;
    QVariant idAt(int row) const;
    const QList<Choice> &choices() const { return m_choices; }

private:
    QList<Choice> m_choices;
};

namespace ui {

// Makes `combo` show `list`; each choice the user makes goes to `write` with
// its id.
ChoiceList *attachChoices(QComboBox *combo, std::function<void(const QVariant &)> write);
// Shows `id` as the current entry (none when not listed), without signals.
void showChoice(QComboBox *combo, const QVariant &id);
// Replaces the entries when they differ and then shows `id`.
void showChoices(QComboBox *combo, QList<Choice> choices, const QVariant &id);

} // namespace ui
