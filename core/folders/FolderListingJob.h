#pragma once

#include "core/threads/TBasicWorkItem.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace dv {

// Lists the folders the tree shows inside one folder on a worker thread, sorted as a person
// reads names, so that a slow or huge folder never holds up the window.
class FolderListingJob : public TBasicWorkItem
{
public:
    explicit FolderListingJob(const QString &aFolder);

    void DoWork() override;
    QString Folder() const { return fFolder; }
    // Nothing when the folder could not be listed.
    const std::optional<QStringList> &Names() const { return fNames; }

private:
    QString fFolder;
    std::optional<QStringList> fNames;
};

} // namespace dv
