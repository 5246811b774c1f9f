#pragma once

#include <QString>

namespace dv {

// Base address of the update server: $DELVORA_UPDATE_URL when set, else the build's default.
QString UpdateBaseUrl();

// Asks the update server whether a newer version exists. True when the update dialog must be
// shown; NewVersionMessage and CloseEndsProgram then describe it. Never fails outwardly: no
// network, an error answer or an unexpected document all give false, silently.
// Runs on the calling thread and blocks it, for 5 s at most from start to answer: past that
// the check has failed, however slowly the server still sends.
bool CheckForNewVersion();
// The same against the server at BaseUrl.
bool CheckForNewVersion(const QString &baseUrl);

// The text for the update dialog; empty until a check returned true.
QString NewVersionMessage();
// True when closing the update dialog must end the program (a mandatory update, or "Update
// Now" was pressed).
bool CloseEndsProgram();
void SetCloseEndsProgram(bool value);

// BaseUrl joined with a path relative to it.
QString UpdateServerUrl(const QString &baseUrl, const QString &relativePath);

} // namespace dv
