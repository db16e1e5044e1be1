// Raised statuses. Inside an operation a failing step's status is raised
// and caught again at the operation's end, where it becomes the result; so
// a sequence of steps reads as a sequence, and every early exit releases
// what the holders own.
#ifndef TAVOCOM_CORE_RAISE_H
#define TAVOCOM_CORE_RAISE_H

#include <tavocom/tavocom.h>

#include <new>
#include <type_traits>

namespace tavo::core {

/// Carries a failing step's status to the end of its operation. Never
/// leaves the library: every operation that raises ends in Guarded.
struct RaisedStatus {
    COM_HRESULT status;
};

[[noreturn]] inline void Raise(COM_HRESULT status) { throw RaisedStatus{status}; }

/// Raises a failure; hands a success (S_OK, S_FALSE, ...) back. Takes a
/// status only: a truth value or another integer does not compile.
template <class Status>
COM_HRESULT Check(Status status) {
    static_assert(std::is_same_v<Status, COM_HRESULT>, "Check takes a status code");
    if (COM_FAILED(status)) Raise(status);
    return status;
}

/// What the end of an operation does with std::bad_alloc.
enum class OnAllocFailure {
    Status,    ///< becomes E_OUTOFMEMORY
    Propagate, ///< leaves the operation, where the caller is promised the exception
};

/// Runs `body`, which returns the operation's status, and turns a raised
/// status into the result. Every other exception passes unchanged:
/// utlAutoIfBase::XBadPtrException and the memory service's own errors are
/// part of the interface.
template <OnAllocFailure Alloc = OnAllocFailure::Status, class Body>
COM_HRESULT Guarded(Body&& body) {
    try {
        return body();
    } catch (const RaisedStatus& raised) {
        return raised.status;
    } catch (const std::bad_alloc&) {
        if constexpr (Alloc == OnAllocFailure::Propagate) {
            throw;
        } else {
            return E_OUTOFMEMORY;
        }
    }
}

/// Runs `body` for an operation that answers with a status whatever went
/// wrong inside: a raised status becomes the result, std::bad_alloc
/// `onAlloc` and every other exception `onOther`.
template <class Body>
COM_HRESULT GuardedAll(COM_HRESULT onAlloc, COM_HRESULT onOther, Body&& body) noexcept {
    try {
        return body();
    } catch (const RaisedStatus& raised) {
        return raised.status;
    } catch (const std::bad_alloc&) {
        return onAlloc;
    } catch (...) {
        return onOther;
    }
}

} // namespace tavo::core

#endif
