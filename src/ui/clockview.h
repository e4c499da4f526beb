#pragma once
// The elapsed-time text. Unlike a QLabel it asks for a new layout only when
// its text grows or shrinks, so a tick repaints this widget and nothing else.
// Assistive technology sees "Laufzeit" with the time as its text.

#include <QWidget>

class ClockView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text)
public:
    explicit ClockView(QWidget *parent = nullptr);

    const QString &text() const { return m_text; }
    void setText(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString m_text;
};
