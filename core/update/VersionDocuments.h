#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace dv {

// The first line of the version document: "<latest>/<oldest>", e.g. "25/20".
struct VersionLine
{
    int latest = 0;
    int oldest = 0;
    QString displayVersion; // the latest with a point before its last digit: "2.5"
};

// What the two documents of the update server ask for.
struct UpdateOffer
{
    bool mandatory = false; // the running version is older than the oldest usable one
    QString message;        // the update dialog's text, in the current language
};

// The version number of this build: the version text without its point ("2.4" gives 24).
int RunningVersionNumber();

// Parses a version line; nothing when it is not two decimal integers around the first "/".
std::optional<VersionLine> ParseVersionLine(const QString &line);

// "25" gives "2.5", "210" gives "21.0", "7" gives ".7".
QString DisplayVersion(const QString &number);

// Decides from the bodies of the version and changes documents whether Running is out of date.
// Nothing when no update is due; throws std::runtime_error when the version document is
// unusable, also when its latest version is below its oldest usable one.
std::optional<UpdateOffer> EvaluateVersionDocuments(QByteArrayView versionDocument,
                                                    QByteArrayView changesDocument, int running);

} // namespace dv
