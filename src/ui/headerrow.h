#pragma once
// The panel's top row: name, subtitle and, while signed in, the reload button.

#include <QIcon>
#include <QWidget>

class Model;
class QToolButton;
class QVariantAnimation;

class HeaderRow : public QWidget {
    Q_OBJECT
public:
    explicit HeaderRow(Model *model, QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;

private:
    void sync();
    // While a reload the user asked for waits, the arrow turns in place.
    void syncReloading();
    void showTurned(qreal degrees);

    Model *m_model;
    QToolButton *m_reload;
    QIcon m_reloadIcon;
    QVariantAnimation *m_turn;
};
