#pragma once

#include "core/threads/TBasicWorkItem.h"

#include <QString>

#include <functional>
#include <memory>

namespace dv {

class TCustomCancellationToken;

// The background check of one result row: on a worker of the shared pool, whether the row's
// file still exists. The answer reaches the main thread only while the row's token is live
// (a removed row cancels it).
class TDvItemIdListWorkItem : public TBasicWorkItem
{
public:
    // Called on the main thread with whether the path still exists.
    using TDeliver = std::function<void(bool pExists)>;

    TDvItemIdListWorkItem(QString pPath, std::shared_ptr<TCustomCancellationToken> pToken,
                          bool pCheckExistence, TDeliver pDeliver);

    void DoWork() override;

private:
    QString fPath;
    std::shared_ptr<TCustomCancellationToken> fToken;
    bool fCheckExistence;
    TDeliver fDeliver;
};

} // namespace dv
