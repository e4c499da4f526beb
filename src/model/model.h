#pragma once
// The one object that holds everything the user sees and performs every user
// action. Widgets show its properties and write edits straight back; every
// action is a coroutine on the main thread's event loop and never fails
// towards its caller: each outcome lands in the properties, failures as a
// German text in `message`.

#include "client/api.h"
#include "client/keychain.h"
#include "client/preferences.h"
#include "client/records.h"
#include "client/transport.h"
#include "model/recentpairs.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QUrl>
#include <exception>
#include <memory>
#include <optional>

// The message while the system reports no network.
QString offlineText();

class Model : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString serverURL READ serverURL WRITE setServerURL NOTIFY serverURLChanged)
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(QString setupInput READ setupInput WRITE setSetupInput NOTIFY setupInputChanged)
    Q_PROPERTY(QString setupLink READ setupLink NOTIFY setupLinkChanged)
    Q_PROPERTY(QImage setupImage READ setupImage NOTIFY setupImageChanged)
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY signedInChanged)
    Q_PROPERTY(std::optional<State> state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString selectedClient READ selectedClient WRITE setSelectedClient NOTIFY
                   selectedClientChanged)
    Q_PROPERTY(
        QString clientSearch READ clientSearch WRITE setClientSearch NOTIFY clientSearchChanged)
    Q_PROPERTY(qint64 selectedReason READ selectedReason WRITE setSelectedReason NOTIFY
                   selectedReasonChanged)
    Q_PROPERTY(QString note READ note WRITE setNote NOTIFY noteChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    // A standing notice from outside the panel (coming back to a timer that
    // ran on); the message line shows it while it has no message.
    Q_PROPERTY(QString notice READ notice WRITE setNotice NOTIFY noticeChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    // What the panel shows, derived from the fields above.
    Q_PROPERTY(Variant variant READ variant NOTIFY variantChanged)
    Q_PROPERTY(bool canStart READ canStart NOTIFY canStartChanged)
    Q_PROPERTY(bool isAdmin READ isAdmin NOTIFY isAdminChanged)
    // A reload the user asked for is waiting for the server's answer.
    Q_PROPERTY(bool reloading READ reloading NOTIFY reloadingChanged)
    // The system says there is no network (until the server answers all the
    // same): failed reloads say so in one sentence, and its return reloads.
    Q_PROPERTY(bool offline READ offline WRITE setOffline NOTIFY offlineChanged)
    // Signed in as far as we know, but the keyring is locked: the token may be
    // there and cannot be read. A reload the user asks for asks to unlock it.
    Q_PROPERTY(bool keyringLocked READ keyringLocked NOTIFY keyringLockedChanged)

public:
    // How `startPair` ended.
    enum class StartOutcome {
        Started,        // after stopping the timer that ran, if one did
        AlreadyRunning, // the pair runs already: nothing was sent
        Busy,           // another action is under way: nothing was sent
        NotListed,      // the pickers would not list the pair: nothing was sent
        StopFailed,     // the running timer could not be stopped; nothing started
        StartFailed,    // the server refused the start (after a stop, if one ran)
    };

    // The panel's content: exactly one of these is shown.
    // KeyringLocked: signed in, nothing loaded, and the token unreadable
    // until the keyring is unlocked.
    enum class Variant { SignedOut, Loading, KeyringLocked, RunningEntry, StartForm };
    Q_ENUM(Variant)

    // The user's own preferences and the system keyring.
    explicit Model(QObject *parent = nullptr);
    Model(std::shared_ptr<TokenStore> tokenStore, Preferences preferences,
          QObject *parent = nullptr);
    ~Model() override;

    const QString &serverURL() const { return m_serverURL; }
    const QString &email() const { return m_email; }
    const QString &password() const { return m_password; }
    const QString &setupInput() const { return m_setupInput; }
    const QString &setupLink() const { return m_setupLink; }
    const QImage &setupImage() const { return m_setupImage; } // null: none yet
    bool signedIn() const { return m_signedIn; }
    const std::optional<State> &state() const { return m_state; }
    const QString &selectedClient() const { return m_selectedClient; }
    const QString &clientSearch() const { return m_clientSearch; }
    qint64 selectedReason() const { return m_selectedReason; }
    const QString &note() const { return m_note; }
    // A longer note is cut to this, and the message line says so before
    // anything is sent. (A text field holds 32,767 characters.)
    static constexpr qsizetype maxNoteLength = 32767;
    const QString &message() const { return m_message; }
    const QString &notice() const { return m_notice; }
    bool busy() const { return m_busy; }
    Variant variant() const;
    // Whether `start` would send a request now.
    bool canStart() const;
    // Signed in with a loaded state whose user is an administrator.
    bool isAdmin() const;
    bool reloading() const { return m_reloading; }
    bool offline() const { return m_offline; }
    bool keyringLocked() const { return m_keyringLocked; }

    void setServerURL(const QString &value);
    void setEmail(const QString &value);
    void setPassword(const QString &value);
    void setSetupInput(const QString &value);
    void setSelectedClient(const QString &value);
    void setClientSearch(const QString &value);
    void setSelectedReason(qint64 value);
    void setNote(const QString &value);
    // Going offline says so once in the message line; coming back reloads once.
    void setOffline(bool value);
    void setNotice(const QString &value);

    // The base address from `serverURL`, computed on every read.
    std::optional<QUrl> endpoint() const;
    // The server's inbox page, "/?tab=inbox" on the base address's host.
    std::optional<QUrl> inboxURL() const;

    // Enabled, unarchived clients, in the server's order.
    QList<Customer> listedClients() const;
    // Active reasons with a rate for `clientId`, in the server's order.
    QList<Reason> listedReasons(const QString &clientId) const;
    // The recent pairs offered now, newest first: their client and reason
    // are listed as the pickers would list them. Empty while signed out or
    // before a state is loaded.
    const QList<OfferedPair> &offeredPairs() const { return m_offeredPairs; }
    // The pair of the running entry, found by its client's and reason's
    // names when each names exactly one listed client and reason.
    const std::optional<OfferedPair> &runningPair() const { return m_runningPair; }

    // Enabled, unarchived clients whose name contains `clientSearch`
    // (letter case ignored, accents significant), in the server's order.
    QList<Customer> clients() const;
    // Active reasons with a rate for `selectedClient`, in the server's order.
    QList<Reason> reasons() const;
    // The first rate the state holds for the pair, if any.
    std::optional<qint64> rateCents(const QString &clientId, qint64 reasonId) const;
    // Keep a still listed selection, else take the first listed entry.
    void chooseClient();
    void chooseReason();
    // Shows a freshly loaded state and keeps the selections valid; the rates
    // of the selected client are indexed again when next asked for. A state
    // equal to the one shown changes nothing and notifies nobody.
    void applyState(State loaded);

    // One request to the time server: the body of a 2xx answer, or a throw
    // (ServiceError, TransportError, KeychainError). A 401 answer signs out
    // and removes the token before the failure goes on.
    QCoro::Task<QByteArray> request(const Route &route, std::optional<QJsonObject> body);
    // The same, with the answer read as the endpoint's record.
    template <typename Answer>
    QCoro::Task<Answer> call(const Endpoint<Answer> &endpoint,
                             std::optional<QJsonObject> body = std::nullopt) {
        co_return endpoint.decode(co_await request(endpoint, std::move(body)));
    }

    // Reloads the state; goes out even while another reload waits.
    QCoro::Task<> refresh();
    QCoro::Task<> login();
    QCoro::Task<> connectWithSetupLink();
    QCoro::Task<> logout();
    QCoro::Task<> start();
    // True when the server took the stop; on failure `message` says why.
    QCoro::Task<bool> stop();
    QCoro::Task<> makeSetupLink();
    // Starts a listed pair, or switches to it: a running timer is stopped
    // first, and both requests go out under the one busy guard. `note` is
    // sent instead of the typed `note`, which then stays as it is.
    QCoro::Task<StartOutcome> startPair(RecentPair pair,
                                        std::optional<QString> note = std::nullopt);

    Transport &transport() { return *m_transport; }
    TokenStore &tokenStore() { return *m_tokenStore; }

public Q_SLOTS:
    // The same actions for buttons and timers: start the coroutine, return at once.
    void runRefresh();
    // The periodic reload: skipped while an earlier one still waits, so a slow
    // server never collects a queue of state requests.
    void runAutomaticRefresh();
    // The keyring was unlocked (the user came back, or typed the password):
    // a token that could not be read may be readable now.
    void keyringUnlocked();
    void runLogin();
    void runConnectWithSetupLink();
    void runLogout();
    void runStart();
    void runStop();
    void runMakeSetupLink();
    void runStartPair(const RecentPair &pair);

Q_SIGNALS:
    void serverURLChanged();
    void emailChanged();
    void passwordChanged();
    void setupInputChanged();
    void setupLinkChanged();
    void setupImageChanged();
    void signedInChanged();
    void stateChanged();
    void selectedClientChanged();
    void clientSearchChanged();
    void selectedReasonChanged();
    void noteChanged();
    void messageChanged();
    void noticeChanged();
    void busyChanged();
    void variantChanged();
    void canStartChanged();
    void isAdminChanged();
    void reloadingChanged();
    void offlineChanged();
    void keyringLockedChanged();
    void offeredPairsChanged();

private:
    void setSetupLink(const QString &value);
    void setSetupImage(const QImage &value);
    void setSignedIn(bool value);
    // True when the state changed.
    bool setState(std::optional<State> value);
    void setMessage(const QString &value);
    void setBusy(bool value);
    // Announces the derived properties whose value changed.
    void syncViewRules();
    void setReloading(bool value);
    void setKeyringLocked(bool value);
    QCoro::Task<> reload(bool asked);
    // Drops every state answer to a request sent before now.
    void discardPendingRefreshes();
    QCoro::Task<bool> signIn(const Endpoint<LoginResponse> &endpoint, QJsonObject body);
    QCoro::Task<> finishSignIn();
    // The recent pairs of the server now entered, read again when it changed.
    const QList<RecentPair> &recentPairs();
    void rememberPair(const RecentPair &pair);
    void syncOfferedPairs();
    // The pair with its names, if the pickers would list its client and, for
    // that client, its reason.
    std::optional<OfferedPair> listedPair(const RecentPair &pair) const;
    // Listed client and reason of exactly these names, with a rate.
    std::optional<OfferedPair> pairNamed(const QString &client, const QString &reason) const;

    std::shared_ptr<TokenStore> m_tokenStore;
    Preferences m_preferences;
    Transport *m_transport;

    QString m_serverURL;
    QString m_email;
    QString m_password;
    QString m_setupInput;
    QString m_setupLink;
    QImage m_setupImage;
    bool m_signedIn = false;
    std::optional<State> m_state;
    QString m_selectedClient;
    QString m_clientSearch;
    qint64 m_selectedReason = 0;
    QString m_note;
    QString m_message;
    QString m_notice;
    bool m_busy = false;
    // The derived properties as last announced.
    Variant m_shownVariant = Variant::SignedOut;
    bool m_shownCanStart = false;
    bool m_shownIsAdmin = false;
    bool m_reloading = false;
    bool m_offline = false;
    bool m_keyringLocked = false;

    // reasonId -> cents of the first rate, for one client: the panel asks for
    // the selected client's rates on every keystroke, and a new state should
    // not pay for indexing every client's.
    const QHash<qint64, qint64> &ratesOf(const QString &clientId) const;
    mutable std::optional<QString> m_ratesClient; // whose rates m_rates holds
    mutable QHash<qint64, qint64> m_rates;
    quint64 m_nextRefresh = 0;
    quint64 m_oldestAcceptedRefresh = 0;
    int m_reloadsInFlight = 0;
    int m_askedReloadsInFlight = 0;
    QString m_preferencesProblem;          // shown once the sign-in has loaded the state
    std::optional<QString> m_recentServer; // whose pairs m_recentPairs holds
    QList<RecentPair> m_recentPairs;
    QList<OfferedPair> m_offeredPairs;
    std::optional<OfferedPair> m_runningPair;
};
