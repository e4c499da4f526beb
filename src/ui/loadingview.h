#pragma once
// Signed in, nothing loaded yet: a busy bar and "Lade Daten …".

#include <QWidget>

class LoadingView : public QWidget {
    Q_OBJECT
public:
    explicit LoadingView(QWidget *parent = nullptr);
};
