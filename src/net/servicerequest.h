#pragma once

#include <QString>
#include <QStringList>

// What the requests to the maker's server share: the failure record of one
// exchange, the https-then-http request, and the reading of the replies.

// The failures of one exchange with the maker's server, kept for diagnosis;
// no window shows them. The error flag decides whether the reply is used.
class ServiceDiagnostics
{
public:
    // Ignores a message that is blank once spaces and control characters are
    // trimmed from both ends; otherwise sets the flag and appends the message
    // as given, separated from earlier ones by "\r\r".
    void add(const QString &message);
    void clear();

    const QString &text() const { return m_text; }
    bool hasError() const { return m_error; }

private:
    QString m_text;
    bool m_error = false;
};

// The time-out of the update check and the other service requests.
constexpr int kServiceTimeoutMs = 10000;

// Posts the lines to "https://" + address, and when that fails to
// "http://" + address. The https failure is recorded ("HTTPS Response:\r" and
// its message); a successful http attempt then clears the whole record,
// earlier messages included. When both fail the http failure is recorded too
// and the reply is empty. The address is the host followed by the path.
QString serviceRequest(const QString &address, const QStringList &lines, ServiceDiagnostics &diagnostics,
                       int timeoutMs = kServiceTimeoutMs);

// A reply's lines, split at CR LF, LF or CR; a final line break makes no
// extra line, and an empty reply has no lines.
QStringList replyLines(const QString &reply);

// The value of a line written as "<tag>value</tag>", the tags in lower case
// whatever the case of tag; empty when the line is not exactly of that shape
// (nothing trimmed) or when line or tag is empty.
QString ExtractTagValue(const QString &line, const QString &tag);

// The stored form of a text kept in the per-user store: its UTF-8 bytes
// mixed with a running 16-bit state and written as upper-case hexadecimal.
QString ScrambleText(const QString &text);
// The reverse: empty when a pair of characters is not hexadecimal; a final
// odd character is ignored.
QString UnscrambleText(const QString &hex);

// The name of an exception's type, for the diagnostics.
QString exceptionTypeName(const std::exception &e);
