#pragma once
// Signed in, nothing loaded, and the keyring locked: the token cannot be read
// until it is unlocked. No busy bar, since nothing loads; "Entsperren" asks
// the keyring for its unlock prompt, and the message line says why.

#include <QWidget>

class Model;
class QPushButton;

class LockedView : public QWidget {
    Q_OBJECT
public:
    explicit LockedView(Model *model, QWidget *parent = nullptr);

    QWidget *firstControl() const;

private:
    QPushButton *m_unlock;
};
