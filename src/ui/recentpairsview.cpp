#include "ui/recentpairsview.h"

#include "model/model.h"
#include "ui/style.h"

#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

RecentPairsView::RecentPairsView(Model *model, Kind kind, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_kind(kind) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(2);
    m_caption = ui::plainLabel(QStringLiteral("recentPairsCaption"), this);
    m_caption->setText(kind == Kind::Start ? QStringLiteral("Zuletzt genutzt")
                                           : QStringLiteral("Wechseln zu …"));
    m_caption->setFont(ui::captionFont(font()));
    ui::makeSecondary(m_caption);
    stack->addWidget(m_caption);
    for (qsizetype i = 0; i < maxRecentPairs; ++i) {
        QToolButton *button =
            ui::plainButton(QStringLiteral("recentPair%1").arg(i), QString(), this);
        button->setFocusPolicy(Qt::StrongFocus);
        button->installEventFilter(this);
        connect(button, &QToolButton::clicked, this, [this, i] {
            if (i < m_pairs.size())
                m_model->runStartPair(m_pairs[i]);
        });
        stack->addWidget(button, 0, Qt::AlignLeft);
        m_buttons.append(button);
    }
    for (const auto changed :
         {&Model::offeredPairsChanged, &Model::stateChanged, &Model::busyChanged})
        connect(model, changed, this, &RecentPairsView::sync);
    sync();
}

void RecentPairsView::sync() {
    const std::optional<OfferedPair> running = m_model->runningPair();
    m_pairs.clear();
    m_labels.clear();
    for (const OfferedPair &pair : m_model->offeredPairs()) {
        if (m_kind == Kind::Switch && running && running->pair == pair.pair)
            continue;
        m_pairs.append(pair.pair);
        m_labels.append(pair.label());
    }
    const QString action =
        m_kind == Kind::Start ? QStringLiteral("Starten: ") : QStringLiteral("Wechseln zu: ");
    for (qsizetype i = 0; i < m_buttons.size(); ++i) {
        QToolButton *button = m_buttons[i];
        const bool shown = i < m_labels.size();
        if (shown) {
            button->setToolTip(m_labels[i]);
            button->setAccessibleName(action + m_labels[i]);
        }
        button->setVisible(shown);
        button->setEnabled(!m_model->busy());
    }
    elide();
    setVisible(!m_labels.isEmpty());
}

void RecentPairsView::elide() {
    // The panel keeps its width; a long name must not widen it.
    const int room = std::max(80, width() - 12);
    for (qsizetype i = 0; i < m_labels.size() && i < m_buttons.size(); ++i) {
        const QString text =
            m_buttons[i]->fontMetrics().elidedText(m_labels[i], Qt::ElideRight, room);
        // A single "&" would mark a shortcut letter.
        m_buttons[i]->setText(QString(text).replace(u'&', QLatin1String("&&")));
    }
}

void RecentPairsView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    elide();
}

bool RecentPairsView::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Down || key == Qt::Key_Up) {
            const qsizetype at = m_buttons.indexOf(static_cast<QToolButton *>(watched));
            const qsizetype to = at + (key == Qt::Key_Down ? 1 : -1);
            if (at >= 0 && to >= 0 && to < m_labels.size())
                m_buttons[to]->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
