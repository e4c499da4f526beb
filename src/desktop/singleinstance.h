#pragma once
// One running app per user. The first start listens on a local socket; a
// later start finds it, asks it to show its panel and ends. The command line
// asks it questions over the same socket (--status, --stop).

#include "desktop/commandanswer.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        First,      // we listen; later starts reach us
        HandedOver, // another instance runs and was asked to show its panel
        Alone,      // the socket could not be set up; we run without it
    };

    // `name`: a socket path, or a plain name that Qt places in the temp folder.
    explicit SingleInstance(QString name = defaultName(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Per user: in the user's runtime folder where there is one.
    static QString defaultName();

    // Finds a running instance and hands over to it (asking it to show its
    // panel if `show`), or becomes the one. Blocks only for the local
    // connect, before the event loop runs.
    Role claim(bool show = true);

    const QString &name() const { return m_name; }
    // The listening server's full socket path (empty unless First).
    QString serverPath() const;

    // Answers a later start's question ("status", "status-json", "stop").
    using Handler = std::function<QCoro::Task<CommandAnswer>(QByteArray)>;
    void setCommandHandler(Handler handler) { m_handler = std::move(handler); }
    // Asks the instance listening on `name`; nothing when none answers.
    // Blocks: for a command-line process that does nothing else.
    static std::optional<CommandAnswer> ask(const QString &name, const QByteArray &command,
                                            int timeoutMs);

Q_SIGNALS:
    // A later start asked us to show the panel.
    void showRequested();

private:
    bool handOver(bool show);
    void acceptConnections();
    QCoro::Task<> respond(QPointer<QLocalSocket> socket, QByteArray command);

    QString m_name;
    QLocalServer *m_server = nullptr;
    Handler m_handler;
};
