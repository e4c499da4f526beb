// Drives real models against the local time server into each condition of the
// panel and saves a picture of each: velmora-screenshots [directory]
// (default docs/screenshots). Meant for QT_QPA_PLATFORM=offscreen.

#include "devserver.h"
#include "model/model.h"
#include "ui/menu.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

// Runs the event loop until `done` holds, at most `timeoutMs`.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void settle(int ms = 300) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2e), base(0x1e, 0x1e, 0x20), text(0xe8, 0xe8, 0xea);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xd6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6c, 0xa8, 0xff));
    p.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0xa0));
    p.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
    p.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x44));
    p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x33));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x75, 0x75, 0x7a));
    return p;
}

class Shooter {
public:
    Shooter(DevServer &server, QString directory)
        : m_server(server)
        , m_directory(std::move(directory)) {}

    std::unique_ptr<Model> newModel() {
        auto model =
            std::make_unique<Model>(std::make_shared<MemoryTokenStore>(),
                                    Preferences(m_prefs.filePath(QStringLiteral("prefs.ini"))));
        model->setServerURL(m_server.baseUrl());
        return model;
    }

    // Signs in through a setup link, as a user would, and waits for the state
    // unless the server was told to hold it back.
    bool signIn(Model &model, const QString &userId, bool awaitState = true) {
        model.setSetupInput(m_server.setupLink(m_server.createSetupCode(userId)));
        model.runConnectWithSetupLink();
        if (!waitUntil([&] { return model.signedIn(); }))
            return false;
        return !awaitState || waitUntil([&] { return model.state() && !model.busy(); });
    }

    bool shoot(Model &model, const QString &name, const std::function<void(Menu &)> &prepare = {},
               const std::function<bool()> &ready = {}) {
        Menu menu(&model);
        // As it opens from the tray, with its settings button.
        menu.setSettingsMenu(&m_settings);
        menu.show();
        if (prepare)
            prepare(menu);
        if (ready && !waitUntil(ready)) {
            std::fprintf(stderr, "%s: the panel did not reach its condition\n", qPrintable(name));
            return false;
        }
        settle();
        menu.adjustSize();
        const QString path = QDir(m_directory).filePath(name + QStringLiteral(".png"));
        if (!menu.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s (%dx%d)\n", qPrintable(path), menu.width(), menu.height());
        return true;
    }

private:
    DevServer &m_server;
    QString m_directory;
    QTemporaryDir m_prefs;
    QMenu m_settings;
};

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QStringList args = QApplication::arguments();
    const QString directory = args.size() > 1 ? args.at(1) : QStringLiteral("docs/screenshots");
    if (!QDir().mkpath(directory)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(directory));
        return 1;
    }

    DevServer server;
    if (!server.start()) {
        std::fprintf(stderr, "the local time server did not start\n");
        return 1;
    }
    Shooter shooter(server, directory);
    bool ok = true;

    {
        auto model = shooter.newModel();
        ok &= shooter.shoot(*model, QStringLiteral("signed-out"));
    }
    {
        // A failed password sign-in: the disclosure open, the message below.
        auto model = shooter.newModel();
        model->setEmail(QString::fromLatin1(DevServer::memberEmail));
        model->setPassword(QStringLiteral("falsch"));
        ok &= shooter.shoot(
            *model, QStringLiteral("signed-out-password"),
            [&](Menu &menu) {
                menu.findChild<QToolButton *>(QStringLiteral("passwordToggle"))->click();
                model->runLogin();
            },
            [&] { return !model->busy() && !model->message().isEmpty(); });
    }
    {
        // Every state answer held back: signed in, nothing loaded yet.
        auto model = shooter.newModel();
        Fault slow;
        slow.delayMs = 1500;
        server.setFault(QStringLiteral("/api/state"), slow);
        ok &= shooter.signIn(*model, server.adminId(), false);
        ok &= shooter.shoot(*model, QStringLiteral("loading"));
        server.clearFaults();
        // Let the held answers arrive before the model goes.
        waitUntil([&] { return model->state() && !model->busy(); });
        server.clearFaults();
    }
    {
        // Started with the keyring locked: the token cannot be read yet, and
        // the prompt the panel asks for is dismissed.
        struct StaysLocked : MemoryTokenStore {
            using MemoryTokenStore::MemoryTokenStore;
            QCoro::Task<> unlock() override { co_return; }
        };
        auto store = std::make_shared<StaysLocked>(QStringLiteral("t"));
        store->setFailure(KeychainError(KeychainError::Kind::Locked,
                                        keychainErrorText(KeychainError::Kind::Locked)));
        Model model(store, Preferences(QDir::temp().filePath(QStringLiteral("velmora-shot.ini"))));
        ok &= shooter.shoot(model, QStringLiteral("keyring-locked"));
    }
    {
        auto model = shooter.newModel();
        ok &= shooter.signIn(*model, server.adminId());
        ok &= shooter.shoot(*model, QStringLiteral("start-form-admin"));
    }
    {
        // A client without rates: no reasons, and the hint.
        auto model = shooter.newModel();
        ok &= shooter.signIn(*model, server.memberId());
        server.stopEntryFor(server.memberId());
        model->runRefresh();
        waitUntil([&] { return model->state() && !model->state()->running; });
        model->setClientSearch(QStringLiteral("Café"));
        model->chooseClient();
        ok &= shooter.shoot(*model, QStringLiteral("start-form-missing-rate"));
    }
    {
        auto model = shooter.newModel();
        server.startEntryFor(server.memberId(), QStringLiteral("c1"), 2,
                             QStringLiteral("Schnittstelle Lohnbuchhaltung"),
                             double(QDateTime::currentMSecsSinceEpoch()) - 4985'000.0);
        ok &= shooter.signIn(*model, server.memberId());
        ok &= shooter.shoot(*model, QStringLiteral("running-member"));
    }
    {
        // A day of switching: five recent pairs, one of them running.
        auto model = shooter.newModel();
        ok &= shooter.signIn(*model, server.memberId());
        for (const auto &[client, reason] :
             {std::pair{"c12", 3}, std::pair{"c6", 5}, std::pair{"c4", 1}, std::pair{"c2", 3},
              std::pair{"c6", 2}, std::pair{"c4", 3}}) {
            model->runStartPair({QString::fromUtf8(client), reason});
            waitUntil([&] {
                return !model->busy() && !model->reloading() && model->runningPair() &&
                       model->runningPair()->pair.clientId == QString::fromUtf8(client);
            });
        }
        ok &= shooter.shoot(*model, QStringLiteral("running-switch"));
        model->runStop();
        waitUntil([&] { return model->state() && !model->state()->running && !model->busy(); });
        ok &= shooter.shoot(*model, QStringLiteral("start-form-recent"));
    }
    {
        // The administrator's timer runs; a setup link for a phone is made
        // while the panel is open, so its notice shows.
        auto model = shooter.newModel();
        server.startEntryFor(server.adminId(), QStringLiteral("c6"), 1,
                             QStringLiteral("Quartalsabschluss"),
                             double(QDateTime::currentMSecsSinceEpoch()) - 3725'000.0);
        ok &= shooter.signIn(*model, server.adminId());
        ok &= shooter.shoot(
            *model, QStringLiteral("running-admin-qr"),
            [&](Menu &) {
                settle(500); // the reload on showing first
                model->runMakeSetupLink();
            },
            [&] {
                return !model->setupImage().isNull() && !model->busy() &&
                       !model->message().isEmpty();
            });
        QApplication::setPalette(darkPalette());
        ok &= shooter.shoot(*model, QStringLiteral("running-admin-qr-dark"));
        QApplication::setPalette(QApplication::style()->standardPalette());
    }
    return ok ? 0 : 1;
}
