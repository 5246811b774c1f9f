#pragma once

#include <atomic>
#include <memory>

namespace dv {

// Something that can be asked to stop.
class ITerminatable
{
public:
    virtual ~ITerminatable() = default;
    virtual void Cancel() = 0;
};

// Answers whether cancellation was requested.
class ICancellationIndicator
{
public:
    virtual ~ICancellationIndicator() = default;
    virtual bool IsCancellationRequested() const = 0;
};

// An external cancellation source that work items can share.
class ICancellationToken : public ICancellationIndicator
{
public:
    virtual void Cancel() = 0;
};

using ICancellationTokenPtr = std::shared_ptr<ICancellationToken>;

// The plain token: one flag, set by Cancel.
class TCustomCancellationToken : public ICancellationToken
{
public:
    void Cancel() override { fCancellationRequested.store(true); }
    bool IsCancellationRequested() const override { return fCancellationRequested.load(); }

private:
    std::atomic<bool> fCancellationRequested{false};
};

} // namespace dv
