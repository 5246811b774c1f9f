#pragma once

#include <QString>

namespace dv {

// Why a candidate's content could not be tested.
enum class ContentTestFailure
{
    None,              // tested: the verdict stands
    CannotOpen,        // the file could not be opened or read (Reason: the system's text)
    ExtractionFailed,  // the server answered with an error (Reason: status and text)
    ServerUnreachable, // no server answered at the endpoint
    TimedOut,          // the server sent nothing for too long
    OverLimit,         // a bound of ours stopped the test
    Cancelled,         // the search was stopped while the file was tested
};

// A failure and the text the user reads about it (in the interface language).
struct ContentTestError
{
    ContentTestFailure Failure = ContentTestFailure::None;
    QString Reason;

    bool IsSet() const { return Failure != ContentTestFailure::None; }

    // The file could not be opened or read; ErrorNumber is the errno value (0: not a regular
    // file).
    static ContentTestError CannotOpen(int errorNumber);
    static ContentTestError CannotRead(int errorNumber);
    // The server answered Status with StatusText.
    static ContentTestError HttpStatus(int status, const QString &statusText);
    // The exchange broke off for Message (the transfer's own words).
    static ContentTestError ExchangeFailed(const QString &message);
    static ContentTestError Unreachable(const QString &endpoint);
    static ContentTestError TimedOut(int readTimeoutMs);
    // Only the first MaxBytes bytes of a plain-text file were searched.
    static ContentTestError PlainTextOverLimit(qint64 maxBytes);
    // The server's text went on past our bound of MaxUnits code units.
    static ContentTestError ServerTextOverLimit(qint64 maxUnits);
    static ContentTestError Cancelled();
};

} // namespace dv
