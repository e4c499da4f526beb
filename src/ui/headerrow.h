#pragma once
// The panel's top row: name, subtitle, while signed in the reload button, and
// the settings button when there is a settings menu to show.

#include <QIcon>
#include <QWidget>

class Model;
class QMenu;
class QToolButton;
class QVariantAnimation;

class HeaderRow : public QWidget {
    Q_OBJECT
public:
    explicit HeaderRow(Model *model, QWidget *parent = nullptr);
    // The menu the settings button opens; none hides the button.
    void setSettingsMenu(QMenu *menu);

protected:
    void changeEvent(QEvent *event) override;

private:
    void sync();
    // While a reload the user asked for waits, the arrow turns in place.
    void syncReloading();
    void showTurned(qreal degrees);

    Model *m_model;
    QToolButton *m_reload;
    QToolButton *m_settings;
    QIcon m_reloadIcon;
    QVariantAnimation *m_turn;
};
