#include "tray/timermenu.h"

#include "model/model.h"

namespace {

// A name's "&" shown as it is, not as the mark of a shortcut letter.
QString menuText(QString text) {
    return text.replace(u'&', QLatin1String("&&"));
}

} // namespace

TimerMenu::TimerMenu(Model *model, QWidget *parent)
    : QMenu(QStringLiteral("&Timer"), parent)
    , m_model(model) {
    m_stop = addAction(QString());
    connect(m_stop, &QAction::triggered, model, &Model::runStop);
    for (qsizetype i = 0; i < maxRecentPairs; ++i) {
        QAction *pair = addAction(QString());
        connect(pair, &QAction::triggered, this, [this, i] {
            if (i < m_shownPairs.size())
                m_model->runStartPair(m_shownPairs[i]);
        });
        m_pairs.append(pair);
    }
    m_separator = addSeparator();
    for (const auto changed : {&Model::stateChanged, &Model::busyChanged, &Model::signedInChanged,
                               &Model::keyringLockedChanged, &Model::offeredPairsChanged})
        connect(model, changed, this, &TimerMenu::sync);
    sync();
}

QList<QAction *> TimerMenu::entries() const {
    return actions();
}

void TimerMenu::sync() {
    const std::optional<State> &state = m_model->state();
    const bool shown = m_model->signedIn() && !m_model->keyringLocked() && state.has_value();
    const bool enabled = !m_model->busy();

    const bool running = shown && state->running.has_value();
    if (running)
        m_stop->setText(menuText(QStringLiteral("Timer stoppen – %1 · %2")
                                     .arg(state->running->clientName, state->running->reasonName)));
    m_stop->setVisible(running);
    m_stop->setEnabled(enabled);

    // The running pair is not offered again while it runs.
    const std::optional<OfferedPair> current = m_model->runningPair();
    m_shownPairs.clear();
    QStringList labels;
    if (shown) {
        for (const OfferedPair &pair : m_model->offeredPairs()) {
            if (current && current->pair == pair.pair)
                continue;
            m_shownPairs.append(pair.pair);
            labels.append(menuText(pair.label()));
        }
    }
    for (qsizetype i = 0; i < m_pairs.size(); ++i) {
        if (i < labels.size())
            m_pairs[i]->setText(labels[i]);
        m_pairs[i]->setVisible(i < labels.size());
        m_pairs[i]->setEnabled(enabled);
    }
    m_separator->setVisible(running || !labels.isEmpty());
    menuAction()->setVisible(running || !labels.isEmpty());
}
