#pragma once
// The timer's entries, for the tray menu and the window's menu bar alike:
// "Timer stoppen – Kunde · Grund" while a timer runs, then one entry per
// offered recent pair ("Kunde · Grund") that starts it, or switches to it.
// Disabled while an action is under way; hidden while signed out, while the
// keyring is locked and before the state is loaded. An entry's text changes
// only when the entry does, never with the clock: hosts redraw (and some
// leak) on every change.

#include "client/preferences.h"

#include <QList>
#include <QMenu>

class Model;

class TimerMenu : public QMenu {
    Q_OBJECT
public:
    explicit TimerMenu(Model *model, QWidget *parent = nullptr);

    // The stop entry, the pair entries and a separator after them, in order.
    QList<QAction *> entries() const;

private:
    void sync();

    Model *m_model;
    QAction *m_stop;
    QList<QAction *> m_pairs;
    QList<RecentPair> m_shownPairs;
    QAction *m_separator;
};
