#pragma once
// The bottom row: "Web-App öffnen", "Abmelden" while signed in, "Beenden".

#include <QWidget>

class LinkButton;
class Model;
class QToolButton;

class FooterRow : public QWidget {
    Q_OBJECT
public:
    explicit FooterRow(Model *model, QWidget *parent = nullptr);

Q_SIGNALS:
    void quitRequested();

private:
    void sync();

    Model *m_model;
    LinkButton *m_webApp;
    QToolButton *m_logout;
};
