#include "core/filesearch/TDvItemIdListWorkItem.h"

#include "core/platform/FileName.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/TCustomCancellationToken.h"

#include <sys/stat.h>

namespace dv {

TDvItemIdListWorkItem::TDvItemIdListWorkItem(QString pPath,
                                             std::shared_ptr<TCustomCancellationToken> pToken,
                                             bool pCheckExistence, TDeliver pDeliver)
    : fPath(std::move(pPath)), fToken(std::move(pToken)), fCheckExistence(pCheckExistence),
      fDeliver(std::move(pDeliver))
{
    SetCancellationToken(fToken);
}

void TDvItemIdListWorkItem::DoWork()
{
    if (IsCanceled())
        return;
    bool exists = true;
    if (fCheckExistence) {
        // A dangling link is gone as far as its row is concerned.
        struct stat st;
        exists = ::stat(EncodeFileName(fPath).constData(), &st) == 0;
    }
    MainThreadQueue::Post([deliver = fDeliver, token = fToken, exists] {
        if (!token->IsCancellationRequested())
            deliver(exists);
    });
}

} // namespace dv
