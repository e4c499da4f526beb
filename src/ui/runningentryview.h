#pragma once
// The running timer: client, rate, note, a ticking clock, "Timer stoppen"
// and the recent pairs to switch to.

#include <QWidget>

class ClockView;
class Model;
class QLabel;
class QPushButton;
class QTimer;

class RunningEntryView : public QWidget {
    Q_OBJECT
public:
    explicit RunningEntryView(Model *model, QWidget *parent = nullptr);

    // Where the focus goes when this section appears.
    QWidget *firstControl() const { return m_firstControl; }

protected:
    // The clock ticks only while it can be seen.
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void sync();
    void tick();

    Model *m_model;
    QLabel *m_client;
    QLabel *m_rate;
    QLabel *m_note;
    ClockView *m_clock;
    QPushButton *m_stop;
    QTimer *m_ticker;
    QWidget *m_firstControl = nullptr;
};
