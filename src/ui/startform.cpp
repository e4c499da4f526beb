#include "ui/startform.h"

#include "model/model.h"
#include "ui/accessible.h"
#include "ui/binding.h"
#include "ui/format.h"
#include "ui/recentpairsview.h"
#include "ui/style.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

StartForm::StartForm(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(13);

    auto *search =
        ui::textField(QStringLiteral("clientSearchField"), QStringLiteral("Kunde suchen"), this);
    ui::bindText(search, model, &Model::clientSearch, &Model::setClientSearch,
                 &Model::clientSearchChanged);
    stack->addWidget(search);
    m_firstControl = search;

    auto *pickers = new QGridLayout;
    pickers->setContentsMargins(0, 0, 0, 0);
    pickers->setVerticalSpacing(13);
    pickers->setColumnStretch(1, 1);
    auto *clientLabel = new QLabel(QStringLiteral("Kunde"), this);
    m_clients = new Picker(this);
    m_clients->setObjectName(QStringLiteral("clientPicker"));
    m_clients->setAccessibleName(QStringLiteral("Kunde"));
    clientLabel->setBuddy(m_clients);
    ui::attachChoices(m_clients,
                      [model](const QVariant &id) { model->setSelectedClient(id.toString()); });
    pickers->addWidget(clientLabel, 0, 0);
    pickers->addWidget(m_clients, 0, 1);
    auto *reasonLabel = new QLabel(QStringLiteral("Grund"), this);
    m_reasons = new Picker(this);
    m_reasons->setObjectName(QStringLiteral("reasonPicker"));
    m_reasons->setAccessibleName(QStringLiteral("Grund"));
    reasonLabel->setBuddy(m_reasons);
    ui::attachChoices(m_reasons,
                      [model](const QVariant &id) { model->setSelectedReason(id.toLongLong()); });
    pickers->addWidget(reasonLabel, 1, 0);
    pickers->addWidget(m_reasons, 1, 1);
    stack->addLayout(pickers);
    stack->addWidget(new RecentPairsView(model, RecentPairsView::Kind::Start, this));

    auto *note =
        ui::textField(QStringLiteral("noteField"), QStringLiteral("Notiz (optional)"), this);
    ui::bindText(note, model, &Model::note, &Model::setNote, &Model::noteChanged);
    // One more than a note may hold, so that the model sees a text that was
    // too long and says so, instead of the field cutting it silently.
    note->setMaxLength(int(Model::maxNoteLength) + 1);
    stack->addWidget(note);

    m_start = new ProminentButton(QStringLiteral("Timer starten"), this);
    m_start->setObjectName(QStringLiteral("startButton"));
    connect(m_start, &QPushButton::clicked, model, &Model::runStart);
    stack->addWidget(m_start, 0, Qt::AlignLeft);

    m_missingRate = ui::plainLabel(QStringLiteral("missingRateHint"), this);
    m_missingRate->setText(
        QStringLiteral("Für diesen Kunden fehlt noch ein Stundensatz in den Einstellungen."));
    m_missingRate->setFont(ui::captionFont(font()));
    ui::makeSecondary(m_missingRate);
    stack->addWidget(m_missingRate);

    // One handler per model signal, so the order of the steps is ours.
    connect(model, &Model::stateChanged, this, [this] {
        syncClients();
        syncReasons();
    });
    connect(model, &Model::clientSearchChanged, this, &StartForm::onClientSearchChanged);
    connect(model, &Model::selectedClientChanged, this, &StartForm::onSelectedClientChanged);
    connect(model, &Model::selectedReasonChanged, this,
            [this] { ui::showChoice(m_reasons, QVariant::fromValue(m_model->selectedReason())); });
    connect(model, &Model::canStartChanged, this, &StartForm::syncStart);
    syncClients();
    syncReasons();
    syncStart();
}

bool StartForm::shown() const {
    return m_model->variant() == Model::Variant::StartForm;
}

void StartForm::syncClients() {
    const QList<Customer> clients = m_model->clients();
    QList<Choice> choices;
    choices.reserve(clients.size());
    for (const Customer &client : clients)
        choices.append({client.id, client.name});
    ui::showChoices(m_clients, std::move(choices), m_model->selectedClient());
}

void StartForm::syncReasons() {
    // The labels carry the selected client's rate, so they follow the client too.
    const QList<Reason> reasons = m_model->reasons();
    const QString &client = m_model->selectedClient();
    QList<Choice> choices;
    choices.reserve(reasons.size());
    for (const Reason &reason : reasons) {
        QString label = reason.name + QStringLiteral(" · ");
        if (const auto cents = m_model->rateCents(client, reason.id))
            label += formatRate(*cents);
        choices.append({QVariant::fromValue(reason.id), label});
    }
    m_missingRate->setVisible(reasons.isEmpty());
    ui::showChoices(m_reasons, std::move(choices), QVariant::fromValue(m_model->selectedReason()));
}

void StartForm::syncStart() {
    m_start->setEnabled(m_model->canStart());
}

void StartForm::onClientSearchChanged() {
    syncClients();
    if (shown())
        m_model->chooseClient();
}

void StartForm::onSelectedClientChanged() {
    ui::showChoice(m_clients, m_model->selectedClient());
    syncReasons();
    if (shown())
        m_model->chooseReason();
}
