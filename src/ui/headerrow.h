#pragma once
// The panel's top row: name, subtitle and, while signed in, the reload button.

#include <QWidget>

class Model;
class QToolButton;

class HeaderRow : public QWidget {
    Q_OBJECT
public:
    explicit HeaderRow(Model *model, QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;

private:
    void sync();

    Model *m_model;
    QToolButton *m_reload;
};
