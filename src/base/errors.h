#pragma once

#include <QString>
#include <stdexcept>

// The program raises its errors as exceptions of this type. A command that does
// not catch one lets it reach the application-wide handler, which shows the
// message in an error box (see errorBoxText()).
class AppError : public std::runtime_error
{
public:
    explicit AppError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const noexcept { return m_message; }

private:
    QString m_message;
};

// The text of the application-wide error box: the message, with "." appended
// when its last character has a higher code than "." (so none after "!", ")"
// or ".").
QString errorBoxText(const QString &message);

// The message of any exception, whatever its type.
QString exceptionMessage(const std::exception &e);
