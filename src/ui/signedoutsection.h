#pragma once
// Sign-in: server address, setup link, and the password sign-in behind a
// disclosure that starts collapsed.

#include <QWidget>

class Model;
class QLineEdit;
class QPushButton;
class QToolButton;

class SignedOutSection : public QWidget {
    Q_OBJECT
public:
    explicit SignedOutSection(Model *model, QWidget *parent = nullptr);

    // Where the focus goes when this section appears.
    QWidget *firstControl() const { return m_firstControl; }

private:
    void sync();

    Model *m_model;
    QPushButton *m_connect;
    QToolButton *m_toggle;
    QWidget *m_passwordArea;
    QPushButton *m_login;
    QWidget *m_firstControl = nullptr;
};
