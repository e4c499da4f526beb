#pragma once
// The window that holds the panel. Beside a tray icon it is a frameless
// popup that closes when it loses focus; without a tray it is an ordinary
// window. Its height follows the panel's content.

#include "tray/panelplacement.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

// Where a panel of `size` goes for a tray icon at `anchor` (or a 1 x 1 rect at
// the pointer where the icon's place is unknown), inside `available`: above
// the anchor when it is in the lower half, below it otherwise, centred on it
// and pushed fully onto the screen. An empty anchor (neither known) gives the
// top-right corner.
QPoint panelPosition(const QRect &anchor, const QSize &size, const QRect &available);

// The part of the anchor's screen (else the primary one's) that bars leave
// free, for a window placed by `placement`.
QRect availableArea(const Placement &placement);

class QMenu;
class QMenuBar;

class PanelWindow : public QWidget {
    Q_OBJECT
public:
    enum class Mode { Popup, Window };

    // Takes `content` (the panel) as its only child and keeps it for good.
    // Without content, the window is empty until setContent().
    explicit PanelWindow(QWidget *content = nullptr, QWidget *parent = nullptr);

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);
    QWidget *content() const { return m_content; }
    // Once only; the window keeps it for good.
    void setContent(QWidget *content);
    // Menus shown in a menu bar above the panel in window mode, where no
    // tray icon offers them. Once only; the caller keeps the menus.
    void setWindowMenus(const QList<QMenu *> &menus);

    void setVisible(bool visible) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The session the panel shows in, as the placement policy sees it.
    static SessionKind session();

    // Popup mode: shows the panel as `placement` says and gives it the focus.
    void popUp(const Placement &placement);
    // The compositor's leave to take the focus at the next show (Wayland).
    void setActivationToken(const QString &token);
    // Window mode: shows, restores and raises the window.
    void present();

    // Hidden for losing the focus a moment ago. A click on the tray icon
    // takes the focus first; it must not reopen what it just closed.
    bool justClosedByFocusLoss() const;

public Q_SLOTS:
    // Resizes to the panel's size hint, keeping the popup beside its icon.
    void fitToContent();

Q_SIGNALS:
    // Window mode: the user closed the window.
    void closeRequested();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void place();
    QCoro::Task<> placeWithSway();
    // Window mode: the menu bar's height above the content.
    int contentTop() const;
    void layOut();
    void syncMenuBar();
    // Undoes what a late activation of the hidden panel did to the focus.
    void restoreFocusAfterStrayActivation();

    QWidget *m_content = nullptr;
    QMenuBar *m_menuBar = nullptr;
    QList<QMenu *> m_windowMenus;
    Mode m_mode = Mode::Popup;
    Placement m_placement;
    // The screen's part that bars leave free, learnt at each opening.
    QRect m_available;
    QElapsedTimer m_focusLossClose;
    bool m_fitPending = false;
    bool m_hiding = false;
    // One sway placement at a time: each reads back where sway put the panel.
    bool m_swayPlacing = false;
    bool m_swayAgain = false;
    // The focus before and after a compositor activated the hidden panel.
    QPointer<QWidget> m_focusBeforeStray, m_focusAfterStray;
};
