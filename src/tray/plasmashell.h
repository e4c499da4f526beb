#pragma once
// KWin's window placement for its own shell (org_kde_plasma_shell), which it
// offers every Wayland client: the one way on Wayland to put a window at a
// point of our choosing, and to keep it off the taskbar and Alt+Tab.

#include <QPoint>
#include <memory>

class QWindow;

class PlasmaShell {
public:
    // Bound on Qt's own Wayland connection; null where the compositor does
    // not offer it, or the app does not run on Wayland.
    static PlasmaShell *instance();
    ~PlasmaShell();

    // Applies to the surface `window` has now (shown); Qt makes a new one
    // after each hide, so this runs on every show.
    void place(QWindow *window, QPoint position);
    // Before the window hides: Qt then destroys its surface, and KWin wants
    // what we attached to it gone first.
    void release(const QWindow *window);

    struct Private;

private:
    PlasmaShell();
    std::unique_ptr<Private> d;
};
