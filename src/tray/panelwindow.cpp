#include "tray/panelwindow.h"

#if VELMORA_PLASMA_SHELL
#include "tray/plasmashell.h"
#endif

#include "client/logging.h"
#include "tray/swayipc.h"
#include "tray/workarea.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>

namespace {

// Gap between the icon (or the screen's edge) and the panel.
constexpr int gap = 4;
constexpr int cornerMargin = 8;
// How long after a close by focus loss a tray click still counts as its cause.
constexpr qint64 refocusWindowMs = 300;

int clamp(int value, int low, int high) {
    // A panel larger than the screen starts at the screen's edge.
    return high < low ? low : std::clamp(value, low, high);
}

} // namespace

QRect availableArea(const Placement &placement) {
    QScreen *screen = nullptr;
    if (!placement.anchor.isEmpty())
        screen = QGuiApplication::screenAt(placement.anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect available = screen->availableGeometry();
    // Qt on Wayland knows no bars: KWin tells its X clients where they are.
    if (placement.method == PlacementMethod::PlasmaSurface) {
        if (const auto workArea = xWorkArea(qgetenv("DISPLAY"))) {
            const QRect free = available & *workArea;
            if (!free.isEmpty())
                return free;
        }
    }
    return available;
}

QPoint panelPosition(const QRect &anchor, const QSize &size, const QRect &available) {
    const int maxX = available.right() - size.width() + 1;
    const int maxY = available.bottom() - size.height() + 1;
    if (anchor.isEmpty()) {
        return {clamp(maxX - cornerMargin, available.left(), maxX),
                clamp(available.top() + cornerMargin, available.top(), maxY)};
    }
    const bool iconAtBottom = anchor.center().y() > available.center().y();
    const int y = iconAtBottom ? anchor.top() - gap - size.height() : anchor.bottom() + 1 + gap;
    const int x = anchor.center().x() - size.width() / 2;
    return {clamp(x, available.left(), maxX), clamp(y, available.top(), maxY)};
}

PanelWindow::PanelWindow(QWidget *content, QWidget *parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("panelWindow"));
    setWindowTitle(QStringLiteral("velmora Zeit"));
    setMode(Mode::Popup);
    if (content)
        setContent(content);
}

void PanelWindow::setContent(QWidget *content) {
    Q_ASSERT(!m_content && content);
    m_content = content;
    // No layout: the panel's size hint is the window's, taken as it is.
    m_content->setParent(this);
    layOut();
    m_content->installEventFilter(this);
    if (isVisible())
        m_content->show();
}

void PanelWindow::setWindowMenus(const QList<QMenu *> &menus) {
    Q_ASSERT(m_windowMenus.isEmpty() && !menus.isEmpty());
    m_windowMenus = menus;
    syncMenuBar();
}

// The menu bar is made when the panel first becomes a window: making it
// loads the style's icons, and with them Qt's image plugins, which a panel
// beside a tray icon never needs.
void PanelWindow::syncMenuBar() {
    if (m_mode == Mode::Window && !m_windowMenus.isEmpty() && !m_menuBar) {
        m_menuBar = new QMenuBar(this);
        // In the window itself: a global menu would put it out of sight.
        m_menuBar->setNativeMenuBar(false);
        for (QMenu *menu : std::as_const(m_windowMenus))
            m_menuBar->addMenu(menu);
    }
    if (m_menuBar)
        m_menuBar->setVisible(m_mode == Mode::Window);
    fitToContent();
    layOut();
}

void PanelWindow::layOut() {
    const int top = contentTop();
    if (m_menuBar && top > 0)
        m_menuBar->setGeometry(0, 0, width(), top);
    if (m_content)
        m_content->setGeometry(rect().adjusted(0, top, 0, 0));
}

int PanelWindow::contentTop() const {
    return m_menuBar && m_mode == Mode::Window ? m_menuBar->sizeHint().height() : 0;
}

void PanelWindow::setMode(Mode mode) {
    m_mode = mode;
    const bool wasVisible = isVisible();
    if (mode == Mode::Popup)
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    else
        setWindowFlags(Qt::Window);
    syncMenuBar();
    if (wasVisible)
        show();
}

SessionKind PanelWindow::session() {
#if VELMORA_PLASMA_SHELL
    const bool plasmaShell = PlasmaShell::instance() != nullptr;
#else
    const bool plasmaShell = false;
#endif
    return sessionKind(
        QGuiApplication::platformName(), !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"),
        qEnvironmentVariable("XDG_SESSION_TYPE"), plasmaShell, !sway::socketPath().isEmpty());
}

void PanelWindow::restoreFocusAfterStrayActivation() {
    QWidget *before = std::exchange(m_focusBeforeStray, nullptr);
    QWidget *after = std::exchange(m_focusAfterStray, nullptr);
    // Only when nothing else has moved the focus since.
    if (before && after && focusWidget() == after && before->isEnabled() &&
        before->isVisibleTo(this))
        before->setFocus(Qt::OtherFocusReason);
}

void PanelWindow::popUp(const Placement &placement) {
    m_placement = placement;
    m_available = availableArea(placement);
    restoreFocusAfterStrayActivation();
    fitToContent();
    place();
    show();
    // Only a shown window has a Wayland surface to place.
    if (m_placement.method == PlacementMethod::PlasmaSurface ||
        m_placement.method == PlacementMethod::SwayIpc)
        place();
    raise();
    activateWindow();
}

void PanelWindow::setActivationToken(const QString &token) {
    // Qt's Wayland shell hands it over at the next activation, once.
    qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
}

void PanelWindow::present() {
    restoreFocusAfterStrayActivation();
    fitToContent();
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

bool PanelWindow::justClosedByFocusLoss() const {
    return m_focusLossClose.isValid() && !m_focusLossClose.hasExpired(refocusWindowMs);
}

void PanelWindow::place() {
    const QPoint position = panelPosition(m_placement.anchor, size(), m_available);
    switch (m_placement.method) {
    case PlacementMethod::Move:
        move(position);
        break;
    case PlacementMethod::PlasmaSurface:
#if VELMORA_PLASMA_SHELL
        if (isVisible() && windowHandle())
            PlasmaShell::instance()->place(windowHandle(), position);
#endif
        break;
    case PlacementMethod::SwayIpc:
        // Only once shown: sway moves windows it has mapped.
        if (isVisible())
            placeWithSway();
        break;
    case PlacementMethod::Compositor:
        break;
    }
}

QCoro::Task<> PanelWindow::placeWithSway() {
    if (std::exchange(m_swayPlacing, true)) {
        m_swayAgain = true; // once this one is done, with its point and the size by then
        co_return;
    }
    const QPointer<PanelWindow> self(this);
    do {
        m_swayAgain = false;
        const QRect anchor = m_placement.anchor;
        const std::optional<QPoint> beside = co_await sway::placePanel(
            anchor.isEmpty() ? std::nullopt : std::optional(anchor.topLeft()), size());
        if (!self)
            co_return;
        // Kept, so that a panel growing later stays beside the same point, not
        // beside wherever the pointer has gone since.
        if (beside && m_placement.method == PlacementMethod::SwayIpc)
            m_placement.anchor = QRect(*beside, QSize(1, 1));
    } while (m_swayAgain && isVisible());
    m_swayPlacing = false;
}

void PanelWindow::setVisible(bool visible) {
#if VELMORA_PLASMA_SHELL
    if (!visible && isVisible() && PlasmaShell::instance())
        PlasmaShell::instance()->release(windowHandle());
#endif
    // Hiding gives up the focus; that is no close by focus loss.
    const bool wasHiding = std::exchange(m_hiding, !visible);
    QWidget::setVisible(visible);
    m_hiding = wasHiding;
}

void PanelWindow::fitToContent() {
    m_fitPending = false;
    const QSize wanted = sizeHint().expandedTo(minimumSizeHint());
    if (wanted.isValid() && wanted != size())
        resize(wanted);
}

QSize PanelWindow::sizeHint() const {
    return m_content ? m_content->sizeHint() + QSize(0, contentTop()) : QWidget::sizeHint();
}

QSize PanelWindow::minimumSizeHint() const {
    return m_content ? m_content->minimumSizeHint() + QSize(0, contentTop())
                     : QWidget::minimumSizeHint();
}

void PanelWindow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    layOut();
    // Above the icon the panel grows upwards, so it moves with its size.
    // The layout may resize the window itself, so this is the one place.
    if (m_mode == Mode::Popup && isVisible())
        place();
}

bool PanelWindow::event(QEvent *event) {
    switch (event->type()) {
    case QEvent::WindowActivate:
        qCDebug(lcTray) << "panel has the focus";
        if (!isVisible()) {
            // Activated after it was hidden (a compositor's late answer to a
            // quick open and close): Qt now moves the focus to the next
            // control it finds shown, which would greet the next opening.
            m_focusBeforeStray = focusWidget();
            QMetaObject::invokeMethod(
                this, [this] { m_focusAfterStray = focusWidget(); }, Qt::QueuedConnection);
        }
        break;
    case QEvent::WindowDeactivate:
        qCDebug(lcTray) << "panel lost the focus";
        if (m_mode == Mode::Popup && isVisible() && !m_hiding) {
            hide();
            m_focusLossClose.start();
        }
        break;
    case QEvent::LayoutRequest:
        fitToContent();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool PanelWindow::eventFilter(QObject *watched, QEvent *event) {
    // The panel's layout settles after this filter, so fit afterwards.
    if (watched == m_content && event->type() == QEvent::LayoutRequest && !m_fitPending) {
        m_fitPending = true;
        QMetaObject::invokeMethod(this, &PanelWindow::fitToContent, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

void PanelWindow::keyPressEvent(QKeyEvent *event) {
    if (m_mode == Mode::Popup && event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::closeEvent(QCloseEvent *event) {
    if (m_mode == Mode::Window) {
        event->accept();
        Q_EMIT closeRequested();
        return;
    }
    QWidget::closeEvent(event);
}

void PanelWindow::paintEvent(QPaintEvent *) {
    if (m_mode != Mode::Popup)
        return;
    // Frameless, the panel needs an edge of its own to stand out from a
    // desktop or window of the same colour. The content keeps a 16 px inset.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
