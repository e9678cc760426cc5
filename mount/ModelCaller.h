#pragma once
#include <functional>

// How the file system's threads reach the thread that owns the model: Call runs `fn` there
// and returns when it has run (its exception is thrown again in the caller). On that
// thread itself it runs at once. tavrel-mount's model thread implements it, and so does
// the window (TPostedCaller over its event loop). Only the file system's threads wait on
// the model's thread; that thread never waits on them.
class IModelCaller {
public:
    virtual ~IModelCaller() = default;
    virtual void Call(const std::function<void()>& fn) = 0;
};
