#pragma once

#include <QString>
#include <QStringList>

class QMimeData;

namespace dv {

// The file commands of the result list as this desktop provides them: clipboard contents
// with file addresses, paste, rename without replacing, and the trash.
class ShellOperations
{
public:
    // Clipboard or drag contents for the files: their addresses, the marker that file
    // managers read to tell a cut from a copy, and the paths as text.
    static QMimeData *FileUrlsMimeData(const QStringList &pPaths, bool pCut);
    // The local files named by clipboard contents, and whether they were cut.
    static QStringList LocalFiles(const QMimeData *pData);
    static bool IsCut(const QMimeData *pData);

    // Moves a file or folder to the user's trash. Creates the trash folders when missing and
    // checks that the file really went there (Qt 6.4 reports success otherwise while dropping
    // the file into the current folder); such a file is put back. False with a message on
    // failure.
    static bool MoveToTrash(const QString &pPath, QString *pError = nullptr);

    // Renames within the folder; never replaces an existing file. False with a message.
    static bool Rename(const QString &pPath, const QString &pNewName, QString *pError = nullptr);

    // Copies (or moves) a file or folder into pTargetFolder, under a "name - Copy.ext" name
    // when the name is taken. Returns the new path, or empty with a message.
    static QString Paste(const QString &pSource, const QString &pTargetFolder, bool pMove,
                         QString *pError = nullptr);

    // "name.ext", else "name - Copy.ext", "name - Copy (2).ext", ...: the first free one.
    static QString FreeName(const QString &pFolder, const QString &pName);
};

} // namespace dv
