#pragma once
// The offered recent pairs as one-click entries: under the pickers of the
// start form ("Zuletzt genutzt"), and in the running view as "Wechseln zu …",
// where the running pair is left out. Long names are cut short with "…"; the
// tooltip and the accessible name carry them whole. Up and Down move between
// the entries, as Tab does.

#include "client/preferences.h"

#include <QList>
#include <QWidget>

class Model;
class QLabel;
class QToolButton;

class RecentPairsView : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Start, Switch };
    RecentPairsView(Model *model, Kind kind, QWidget *parent = nullptr);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void sync();
    void elide();

    Model *m_model;
    Kind m_kind;
    QLabel *m_caption;
    QList<QToolButton *> m_buttons;
    QList<RecentPair> m_pairs; // what each shown button starts
    QStringList m_labels;      // their whole texts
};
