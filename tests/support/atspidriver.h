#pragma once
// The accessibility driver (tools/atspi-driver/velmora_driver.py) for C++
// tests: one driver process that keeps listening for announcements, taking
// one command at a time, e.g. {"press", "push button", "Timer starten"}.

#include <QProcess>

class AtspiDriver {
public:
    ~AtspiDriver();

    // Starts the driver in the session of `environment` (DISPLAY, D-Bus).
    bool start(const QProcessEnvironment &environment);
    // Runs one command. True with its output in `out`, or false with what
    // went wrong and what the driver saw (the accessibility tree) in `out`.
    bool run(const QStringList &command, QString *out);

private:
    QProcess m_process;
};

// Runs a driver command; on failure the test fails with what the driver saw.
#define DRIVE(out, ...) QVERIFY2(m_driver.run({__VA_ARGS__}, &(out)), qPrintable(out))
