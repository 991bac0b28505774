#include "services/feedbackrequest.h"

#include "base/errors.h"
#include "net/postform.h"

#include <QRegularExpression>

QString stripControls(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

QString composeFeedback(FeedbackChoice choice, const QString &message)
{
    QString text;
    if (choice == FeedbackChoice::Like)
        text = QStringLiteral("I like it!\r");
    else if (choice == FeedbackChoice::Dislike)
        text = QStringLiteral("I dislike it!\r");
    return text + stripControls(message);
}

bool isValidEmail(const QString &address)
{
    static const QRegularExpression pattern(
        QStringLiteral("^[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+$"));
    // Anchored on the whole text: "$" alone would also accept a final line feed.
    return pattern.match(address, 0, QRegularExpression::NormalMatch).hasMatch()
        && !address.endsWith(QLatin1Char('\n'));
}

QStringList feedbackFields(const QString &appTitle, const QString &version, const QString &feedback,
                           const QString &email)
{
    QStringList fields{QStringLiteral("cmd=feedback"), QLatin1String("appname=") + appTitle,
                       QLatin1String("version=") + version, QLatin1String("feedback=") + feedback};
    const QString address = stripControls(email);
    if (!address.isEmpty())
        fields.append(QLatin1String("email=") + address);
    return fields;
}

bool sendFeedback(const QString &host, const QStringList &fields, int timeoutMs)
{
    const QString path = QStringLiteral("/php/feedback.php");
    QString reply;
    try {
        reply = PostForm(QLatin1String("https://") + host + path, fields, timeoutMs);
    } catch (const AppError &) {
        try {
            reply = PostForm(QLatin1String("http://") + host + path, fields, timeoutMs);
        } catch (const AppError &) {
            reply.clear();
        }
    }
    return stripControls(reply) == QLatin1String("OK");
}
