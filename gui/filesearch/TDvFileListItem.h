#pragma once

#include <QIcon>
#include <QString>

#include <cstdint>
#include <memory>

namespace dv {

class TCustomCancellationToken;

// One row of the result list: a file (or folder) by its path. Kept lean, since a search can
// list hundreds of thousands of them: the folder text is shared by all rows of one folder,
// and what only a shown row needs (column texts, icon, pending background job) lives in a
// side record created when the row is first shown.
class TDvFileListItem
{
public:
    // pFolder ends with "/"; pName is the row's caption.
    TDvFileListItem(QString pFolder, QStringView pName, bool pIsFolder);
    ~TDvFileListItem();

    TDvFileListItem(const TDvFileListItem &) = delete;
    TDvFileListItem &operator=(const TDvFileListItem &) = delete;

    // The file-system path (a folder's without the trailing "/", except for "/").
    QString Path() const;
    // The caption: the file's name.
    QString Caption() const
    {
        return QString(reinterpret_cast<const QChar *>(fName.get()), fNameLength);
    }
    QStringView CaptionView() const { return QStringView(fName.get(), fNameLength); }
    // The containing folder, with its trailing "/".
    const QString &Folder() const { return fFolder; }
    // The containing folder as the In Folder column shows it (no trailing "/" but for "/").
    QString FolderDisplay() const;
    // The path this row was added with ended with a path separator.
    bool IsFolder() const { return fIsFolder; }
    // The row names the path (exactly, letter case included; one trailing "/" not considered).
    bool NamesPath(QStringView pPath) const;

    // Size and modification time, read from the file once (ReadFileData) and kept.
    bool FileDataRead() const { return fDataState != kNotRead; }
    bool FileDataValid() const { return fDataState == kValid; }
    // -1 when not read yet or unreadable.
    std::int64_t FileSize() const { return fFileSize; }
    // Milliseconds since 1970 UTC; meaningful when FileDataValid.
    std::int64_t ModifiedMs() const { return fModifiedMs; }
    // Reads size and time unless already read.
    void ReadFileData();
    // Forgets what was read and shown (a refresh).
    void Invalidate();

    // A background check of the row's file is queued (at most one at a time).
    bool CheckPending() const { return fCheckPending; }
    void SetCheckPending(bool pValue) { fCheckPending = pValue; }

    bool IsCut() const { return fCut; }
    void SetCut(bool pValue) { fCut = pValue; }

    // Moves the row to another path (rename), forgetting what was read about the old one.
    void SetPath(QString pFolder, QStringView pName);

    // What a shown row keeps: its texts and icon, and the token of its background jobs
    // (cancelled when the record goes, so a job whose row is gone delivers nothing).
    struct ShownState
    {
        ShownState();
        ~ShownState();
        QString SizeText;
        QString TypeText;
        QString DateText;
        QIcon Icon;
        std::shared_ptr<TCustomCancellationToken> Token;
        bool ExactIconRequested = false;
    };
    ShownState *Shown() const { return fShown.get(); }
    ShownState &EnsureShown();

private:
    enum : std::uint8_t
    {
        kNotRead,
        kValid,
        kFailed
    };

    void SetName(QStringView pName);

    QString fFolder;
    std::unique_ptr<char16_t[]> fName; // no string header: rows are many
    std::int64_t fFileSize = -1;
    std::int64_t fModifiedMs = 0;
    std::unique_ptr<ShownState> fShown;
    std::uint16_t fNameLength = 0; // a file name has at most 255 bytes
    std::uint8_t fDataState = kNotRead;
    bool fIsFolder = false;
    bool fCut = false;
    bool fCheckPending = false;
};

} // namespace dv
