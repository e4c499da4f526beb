#pragma once
// The panel: the whole user interface, over the one Model. Every text is read
// from the model and every edit is written back at once; the panel keeps only
// what concerns its own widgets (whether the password sign-in is expanded,
// where the focus goes back to, the size it last asked for).

#include <QPointer>
#include <QWidget>

class AdminSection;
class FooterRow;
class HeaderRow;
class LoadingView;
class LockedView;
class MessageLine;
class Model;
class QMenu;
class RunningEntryView;
class SignedOutSection;
class StartForm;

class Menu : public QWidget {
    Q_OBJECT
public:
    explicit Menu(Model *model, QWidget *parent = nullptr);
    ~Menu() override;

    // 340 wide; as high as the shown sections need.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // Settings shown behind a button in the header (none: no button), for a
    // panel without a menu bar of its own.
    void setSettingsMenu(QMenu *menu);

Q_SIGNALS:
    void checkForUpdatesRequested();
    void quitRequested();
    // A section appeared or went away. A window holding the panel resizes to
    // sizeHint() (a top-level Menu does so itself).
    void sizeHintChanged();

protected:
    // Each time the panel is shown it reloads the state.
    void showEvent(QShowEvent *event) override;
    // Return starts nothing anywhere in the panel.
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;

private:
    void syncVariant();
    void syncMessage();
    // The section the model's variant shows.
    QWidget *shownVariant() const;
    void focusContent();
    bool inContent(const QWidget *widget) const;
    void returnFocus();

    Model *m_model;
    HeaderRow *m_header;
    SignedOutSection *m_signedOut;
    RunningEntryView *m_running;
    StartForm *m_startForm;
    LoadingView *m_loading;
    LockedView *m_locked;
    AdminSection *m_admin;
    MessageLine *m_message;
    FooterRow *m_footer;
    QSize m_lastHint;
    // A content button that lost the focus because its action disabled it.
    QPointer<QWidget> m_focusReturn;
    QPointer<QWidget> m_focusDropped; // where the focus went from it
    // Ends before the widgets go: destroying a focused child moves the focus.
    QMetaObject::Connection m_focusWatch;
};
