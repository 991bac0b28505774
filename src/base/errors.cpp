#include "base/errors.h"

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

QString exceptionMessage(const std::exception &e)
{
    if (auto *app = dynamic_cast<const AppError *>(&e))
        return app->message();
    return QString::fromLocal8Bit(e.what());
}
