#pragma once
// Coroutines of an object that can be destroyed while they wait. Each wait
// goes through unlessGone(): once the owner is gone, the coroutine unwinds
// with OwnerGone instead of touching it. The owner makes every wait end when
// it goes (its Transport aborts pending requests; a keyring job ends by
// itself), so no frame is left suspended.

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <exception>
#include <type_traits>
#include <utility>

// Deliberately no std::exception: the actions' catch-alls, which would show
// a text on the gone object, let it pass.
struct OwnerGone {};

// The task's result or failure while `owner` lives; OwnerGone once it is gone.
template <typename T>
QCoro::Task<T> unlessGone(QPointer<const QObject> owner, QCoro::Task<T> task) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            if (!owner)
                throw OwnerGone{};
        } else {
            T value = co_await std::move(task);
            if (!owner)
                throw OwnerGone{};
            co_return value;
        }
    } catch (const std::exception &) {
        if (!owner)
            throw OwnerGone{};
        throw;
    }
}
