#pragma once
// Signed in, nothing loaded yet: a busy bar and "Lade Daten …".

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

// A thin bar with a gliding segment: work of unknown length. It animates
// only while it can be seen.
class BusyBar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool animating READ isAnimating)
public:
    explicit BusyBar(QWidget *parent = nullptr);

    bool isAnimating() const { return m_frames.isActive(); }
    QSize sizeHint() const override { return QSize(200, 4); }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer m_frames;
    QElapsedTimer m_clock;
};

class LoadingView : public QWidget {
    Q_OBJECT
public:
    explicit LoadingView(QWidget *parent = nullptr);
};
