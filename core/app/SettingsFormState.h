#pragma once

#include <QString>

namespace dv {

// Everything settings.dt keeps, in file order, with the main window's built-in defaults.
// The two dates have no fixed default: the window sets them (today − 30 days, today) first.
struct SettingsFormState
{
    qint32 version = 1;
    QString fileNameFilter = QStringLiteral("*.*");
    QString textToFind;
    bool dateAllFiles = true; // "All files" on the Date page, else "Find files"
    qint32 dateKind = 2;      // 0 Accessed, 1 Created, 2 Modified
    double firstDate = 0;     // days since 1899-12-30, fraction = time of day, local time
    double lastDate = 0;
    bool sizeAllFiles = true;  // "All files" on the Size page, else "Size is:"
    qint32 sizeComparison = 0; // 0 greater or equals, 1 less or equals
    QString sizeValue = QStringLiteral("0");
    bool showHidden = false;
    bool searchInSubfolders = true;
    bool searchUnrecognizedFormats = false;
    bool maximized = false;
    qint32 windowLeft = 358;
    qint32 windowTop = 152;
    qint32 windowWidth = 1371;
    qint32 windowHeight = 663;
    qint32 leftColumnWidth = 329;
    qint32 folderListHeight = 97;
    qint32 previewHeight = 101;
    QString selectedFolder;

    // Not a field of its own: the spin position read from sizeValue (field 10).
    qint32 sizePosition = 0;

    bool operator==(const SettingsFormState &) const = default;
};

} // namespace dv
