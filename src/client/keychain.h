#pragma once
// The token store. One item in the system keyring (service
// "de.velmora.zeit.token", key "device"), reached through QtKeychain: Secret
// Service on Linux, Keychain on macOS, Credential Manager on Windows. There is
// never a plaintext fallback.

#include "client/failure.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <memory>
#include <optional>

// What the user reads for each kind of keyring trouble, with what they can do.
QString keychainErrorText(KeychainError::Kind kind);

class TokenStore {
public:
    virtual ~TokenStore() = default;
    // The stored token, or nothing when none is stored. Throws KeychainError
    // when the keyring cannot be asked (not reachable, locked, refused).
    virtual QCoro::Task<std::optional<QString>> get() = 0;
    // Replaces the stored token. Throws KeychainError when it was not stored.
    virtual QCoro::Task<> set(QString token) = 0;
    // Removes the stored token; removing nothing is fine. Throws KeychainError.
    virtual QCoro::Task<> remove() = 0;
    // Whether a token could be stored now, asked before anything is spent on
    // getting one. Throws KeychainError when it could not.
    virtual QCoro::Task<> checkWritable() = 0;
    // Asks the user to unlock the keyring (its own prompt), and returns when
    // they are done; whether it worked shows in the next get().
    virtual QCoro::Task<> unlock() = 0;
};

class Keychain : public TokenStore {
public:
    static constexpr const char *service = "de.velmora.zeit.token";
    static constexpr const char *key = "device";
    // An empty item written and removed again by checkWritable().
    static constexpr const char *probeKey = "device-check";

    // Reads the keyring once; afterwards the token read or written last.
    QCoro::Task<std::optional<QString>> get() override;
    QCoro::Task<> set(QString token) override;
    QCoro::Task<> remove() override;
    QCoro::Task<> checkWritable() override;
    QCoro::Task<> unlock() override;

private:
    // Every read of the keyring leaves about a kilobyte behind in the keyring
    // library, and each request asks for the token: an app running for weeks
    // must not read it every 15 s. Shared with the jobs still running when
    // this store goes; `generation` tells a read that a write came meanwhile.
    struct Known {
        std::optional<QString> token;
        quint64 generation = 0;
    };
    std::shared_ptr<Known> m_known = std::make_shared<Known>();
};

// The same interface over memory, for tests and tools. A failure can be set to
// make every call throw it.
class MemoryTokenStore : public TokenStore {
public:
    explicit MemoryTokenStore(std::optional<QString> token = std::nullopt);
    QCoro::Task<std::optional<QString>> get() override;
    QCoro::Task<> set(QString token) override;
    QCoro::Task<> remove() override;
    QCoro::Task<> checkWritable() override;
    // Clears a Locked failure, as a user typing the password would.
    QCoro::Task<> unlock() override;

    std::optional<QString> token() const { return m_token; }
    int unlocks() const { return m_unlocks; }
    void setFailure(std::optional<KeychainError> failure) { m_failure = std::move(failure); }

private:
    std::optional<QString> m_token;
    std::optional<KeychainError> m_failure;
    int m_unlocks = 0;
};
