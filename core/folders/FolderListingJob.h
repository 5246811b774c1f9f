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
    QString Folder() const { return m_folder; }
    // Nothing when the folder could not be listed.
    const std::optional<QStringList> &Names() const { return m_names; }

private:
    QString m_folder;
    std::optional<QStringList> m_names;
};

} // namespace dv
