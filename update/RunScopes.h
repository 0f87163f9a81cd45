#pragma once
// Scopes of one update run that must be undone on every way out of it,
// exceptions included.
#include "update/UpdateView.h"

// The run is marked running and the renew button disabled until it ends.
class RunningScope {
public:
    RunningScope(bool& running, UpdateView& view) : running_(running), view_(view)
    {
        running_ = true;
        view_.setRenewEnabled(false);
    }
    ~RunningScope()
    {
        running_ = false;
        view_.setRenewEnabled(true);
    }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    bool& running_;
    UpdateView& view_;
};

// A flag set for the length of a scope.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

// A pointer that points at something only for the length of a scope.
template <class T> class PointerScope {
public:
    PointerScope(T*& pointer, T& target) : pointer_(pointer) { pointer_ = &target; }
    ~PointerScope() { pointer_ = nullptr; }
    PointerScope(const PointerScope&) = delete;
    PointerScope& operator=(const PointerScope&) = delete;

private:
    T*& pointer_;
};
