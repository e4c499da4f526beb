#include "ui/runningentryview.h"

#include "model/model.h"
#include "ui/clockview.h"
#include "ui/format.h"
#include "ui/recentpairsview.h"
#include "ui/style.h"

#include <QDateTime>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

RunningEntryView::RunningEntryView(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(13);

    m_client = ui::plainLabel(QStringLiteral("clientNameLabel"), this);
    QFont name = ui::subheadlineFont(font());
    name.setWeight(QFont::Bold);
    m_client->setFont(name);
    stack->addWidget(m_client);

    m_rate = ui::plainLabel(QStringLiteral("rateLabel"), this);
    m_rate->setFont(ui::captionFont(font()));
    ui::makeSecondary(m_rate);
    stack->addWidget(m_rate);

    m_note = ui::plainLabel(QStringLiteral("noteLabel"), this);
    m_note->setFont(ui::captionFont(font()));
    stack->addWidget(m_note);

    m_clock = new ClockView(this);
    m_clock->setObjectName(QStringLiteral("clockLabel"));
    m_clock->setFont(ui::clockFont());
    stack->addWidget(m_clock);

    m_stop = new ProminentButton(QStringLiteral("Timer stoppen"), this);
    m_stop->setObjectName(QStringLiteral("stopButton"));
    connect(m_stop, &QPushButton::clicked, model, &Model::runStop);
    stack->addWidget(m_stop, 0, Qt::AlignLeft);
    m_firstControl = m_stop;
    stack->addWidget(new RecentPairsView(model, RecentPairsView::Kind::Switch, this));

    m_ticker = new QTimer(this);
    m_ticker->setObjectName(QStringLiteral("clockTicker"));
    m_ticker->setSingleShot(true);
    m_ticker->setTimerType(Qt::PreciseTimer);
    connect(m_ticker, &QTimer::timeout, this, &RunningEntryView::tick);

    connect(model, &Model::stateChanged, this, &RunningEntryView::sync);
    connect(model, &Model::busyChanged, this, &RunningEntryView::sync);
    sync();
}

void RunningEntryView::sync() {
    const auto &state = m_model->state();
    const Entry entry = state && state->running ? *state->running : Entry{};
    m_client->setText(entry.clientName);
    m_rate->setText(entry.reasonName + QStringLiteral(" · ") + formatRate(entry.rateCents));
    m_note->setText(entry.note);
    // Blanks are a note too.
    m_note->setVisible(!entry.note.isEmpty());
    m_stop->setEnabled(!m_model->busy());
    tick();
}

void RunningEntryView::tick() {
    const auto &state = m_model->state();
    const double startedAt = state && state->running ? state->running->startedAt : 0.0;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    m_clock->setText(formatElapsed(double(nowMs) / 1000.0, startedAt));
    if (!isVisible()) {
        m_ticker->stop();
        return;
    }
    // Wake just after the shown second turns over, not at some random phase.
    int wait = 1000;
    const double elapsedMs = double(nowMs) - startedAt;
    if (std::isfinite(elapsedMs)) {
        if (elapsedMs < 0)
            wait = int(qMin(1000.0, -elapsedMs));
        else
            wait = 1000 - int(std::fmod(elapsedMs, 1000.0));
    }
    m_ticker->start(qBound(1, wait + 2, 1002));
}

void RunningEntryView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    tick();
}

void RunningEntryView::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    m_ticker->stop();
}
