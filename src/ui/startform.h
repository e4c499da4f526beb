#pragma once
// Starting a timer: client search, the pickers "Kunde" and "Grund", the
// recent pairs, a note, "Timer starten", and a hint when the client has no
// rate yet.

#include <QWidget>

class Model;
class QComboBox;
class QLabel;
class QPushButton;

class StartForm : public QWidget {
    Q_OBJECT
public:
    explicit StartForm(Model *model, QWidget *parent = nullptr);

    // Where the focus goes when this section appears.
    QWidget *firstControl() const { return m_firstControl; }

private:
    // The model shows this form: signed in, loaded, no timer running.
    bool shown() const;
    void syncClients();
    void syncReasons();
    void syncStart();
    void onClientSearchChanged();
    void onSelectedClientChanged();

    Model *m_model;
    QComboBox *m_clients;
    QComboBox *m_reasons;
    QPushButton *m_start;
    QLabel *m_missingRate;
    QWidget *m_firstControl = nullptr;
};
