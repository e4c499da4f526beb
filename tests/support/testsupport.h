#pragma once
// Small tools every test can use: awaiting a coroutine with its result or
// failure, Qt's German texts, the test certificate, and a private HOME.

#include "client/failure.h"
#include "devserver.h"

#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QString>
#include <QTest>
#include <chrono>
#include <exception>
#include <initializer_list>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace testsupport {

using namespace std::chrono_literals;

// What became of a task: a value, a failure, or nothing yet (timed out).
template <typename T> struct Outcome {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    bool finished = false;
    std::optional<Value> value;
    std::exception_ptr error;

    bool ok() const { return finished && !error; }

    // The failure as E, or nothing when it was none or another kind.
    template <typename E> std::optional<E> failure() const {
        if (!error)
            return std::nullopt;
        try {
            std::rethrow_exception(error);
        } catch (const E &e) {
            return e;
        } catch (...) {
            return std::nullopt;
        }
    }

    // The text a user would read, or why there is none; for QVERIFY2.
    QString errorText() const {
        if (!finished)
            return QStringLiteral("the task did not finish in time");
        if (!error)
            return QStringLiteral("the task did not fail");
        try {
            std::rethrow_exception(error);
        } catch (const Failure &e) {
            return e.description();
        } catch (const std::exception &e) {
            return QStringLiteral("unexpected exception: %1").arg(QString::fromUtf8(e.what()));
        } catch (...) {
            return QStringLiteral("unexpected exception");
        }
    }
};

namespace detail {
template <typename T>
QCoro::Task<> collect(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->value.emplace();
        } else {
            outcome->value = co_await std::move(task);
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->finished = true;
}
} // namespace detail

// Starts the task; the outcome fills in once it has finished. It runs on
// after the caller stops looking; the shared outcome keeps what it writes alive.
template <typename T> std::shared_ptr<Outcome<T>> launch(QCoro::Task<T> task) {
    auto outcome = std::make_shared<Outcome<T>>();
    detail::collect(std::move(task), outcome);
    return outcome;
}

// Lets the event loop run until the task has finished, at most `timeout`
// (long enough for a loaded machine; tests that expect a time-out inject short
// limits instead). Never blocks the loop, so in-process servers keep working.
template <typename T>
Outcome<T> awaitTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = 20s) {
    const auto outcome = launch(std::move(task));
    (void)QTest::qWaitFor([&] { return outcome->finished; }, static_cast<int>(timeout.count()));
    return *outcome;
}

// Installs Qt's own German catalogue, as the program does, so transport
// failures read in German. False when the catalogue is not installed.
bool loadQtGermanTranslations();

// Server options for https with the self-signed certificate the test build
// made (CN 127.0.0.1, localhost).
DevServerOptions httpsServerOptions();
// Makes every later TLS connection trust that certificate.
bool trustTestCertificate();

// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_CACHE_HOME into `dir`
// (created as needed), so a test sees whatever the code writes to disk: for
// this process, or in `environment` for a program it starts.
void isolateUserDirs(const QString &dir, QProcessEnvironment *environment = nullptr);
// Every file below `dir` whose bytes contain `needle`, as paths.
QStringList filesContaining(const QString &dir, const QByteArray &needle);

// A data table of one column: each row is a struct whose first member is its
// name (`const char *name`) and whose other members have defaults, so a row
// names only what sets it apart. The test reads it with FETCH_ROW(Row).
template <typename Row> void rows(std::initializer_list<Row> table) {
    QTest::addColumn<Row>("row");
    for (const Row &row : table)
        QTest::newRow(row.name) << row;
}

} // namespace testsupport

#define FETCH_ROW(Row) QFETCH(Row, row)

// Fails the test unless the outcome finished without a failure.
#define VERIFY_OK(outcome) QVERIFY2((outcome).ok(), qPrintable((outcome).errorText()))
// Waits by the wall clock for `condition`, letting the event loop run.
// QTRY_* counts its timeout per evaluation, so a slow condition (one that
// asks another process) would stretch "30 s" into minutes.
#define WAIT_UNTIL(condition, timeoutMs)                                                           \
    do {                                                                                           \
        const QDeadlineTimer deadline_(timeoutMs);                                                 \
        while (!(condition)) {                                                                     \
            if (deadline_.hasExpired())                                                            \
                QFAIL("not within " #timeoutMs " ms: " #condition);                                \
            QTest::qWait(50);                                                                      \
        }                                                                                          \
    } while (false)
