#include "services/check.h"

#include "base/errors.h"
#include "services/identity.h"
#include "services/servicesettings.h"

namespace {

bool isBlankText(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 32)
            return false;
    }
    return true;
}

} // namespace

QString updateCheckAddress(const QString &host)
{
    return host + QLatin1String("/php/check2.php");
}

QString dateText(const QLocale &locale, const QDate &date)
{
    return locale.toString(date, QLocale::ShortFormat);
}

void runUpdateCheck(const UpdateCheckSetup &setup, UpdateCheckResults &results,
                    const std::function<void(const QString &)> &showNotice)
{
    ServiceDiagnostics &diagnostics = results.diagnostics;
    diagnostics.clear();

    QString guid;
    try {
        guid = ReadMachineGuid(setup.machineIdFile);
    } catch (const std::exception &) {
        diagnostics.add(QStringLiteral("Error: GUID generate problem!"));
        guid.clear();
    }

    const ServiceSettings settings(setup.settingsFile);
    try {
        settings.open();
    } catch (const std::exception &) {
        diagnostics.add(QStringLiteral("Error: Registry open problem!"));
    }

    // Each read falls back to its default when the store fails.
    const auto guardedText = [&settings](const QString &name) {
        try {
            return settings.readText(name);
        } catch (const std::exception &) {
            return QString();
        }
    };
    const auto guardedInteger = [&settings](const QString &name, int defaultValue) {
        try {
            return settings.readInteger(name, defaultValue);
        } catch (const std::exception &) {
            return defaultValue;
        }
    };

    const QString previousDate = guardedText(servicekeys::LastUpdateCheck);
    int count = guardedInteger(servicekeys::LastUpdateCheckCount, 0);
    const QString storedUrl = guardedText(servicekeys::CurrentURL);
    if (!storedUrl.isEmpty())
        results.DownloadLink = UnscrambleText(storedUrl);
    results.showUpdate = guardedInteger(servicekeys::ShowUpdate, 1);

    if (results.showUpdate == 0)
        return;
    const QString today = dateText(setup.locale, setup.today.isValid() ? setup.today : QDate::currentDate());
    if (previousDate == today && count >= 5)
        return;

    try {
        QStringList lines{QStringLiteral("cmd=check"), QLatin1String("appname=") + setup.appTitle,
                          QLatin1String("version=") + setup.version, QLatin1String("os=") + OsDescription()};
        try {
            lines.append(QLatin1String("local=") + UserLocaleName(setup.locale));
        } catch (const std::exception &) {
            diagnostics.add(QStringLiteral("Error: LocaleName2 problem!"));
        }
        lines.append(QLatin1String("guid=") + guid);

        const QString reply = serviceRequest(setup.address, lines, diagnostics, setup.timeoutMs);
        const QStringList replied = replyLines(reply);
        if (reply.startsWith(QLatin1String("ERROR")))
            diagnostics.add(QStringLiteral("INVALIDSERVERRESPONSE"));
        if (diagnostics.hasError())
            return;

        count = previousDate == today ? count + 1 : 1;
        try {
            settings.writeText(servicekeys::LastUpdateCheck, today);
            settings.writeInteger(servicekeys::LastUpdateCheckCount, count);
        } catch (const std::exception &) {
        }

        // Each value on its own: a missing line or a failing write skips that
        // value only.
        if (replied.size() > 0) {
            results.ReportedVersion = ExtractTagValue(replied.at(0), QStringLiteral("version"));
            try {
                settings.writeText(servicekeys::CurrentVersion, results.ReportedVersion);
            } catch (const std::exception &) {
            }
        }
        if (replied.size() > 1) {
            results.DownloadLink = ExtractTagValue(replied.at(1), QStringLiteral("url"));
            try {
                settings.writeText(servicekeys::CurrentURL, ScrambleText(results.DownloadLink));
            } catch (const std::exception &) {
            }
        }
        const QString notice = replied.size() > 5 ? ExtractTagValue(replied.at(5), QStringLiteral("important"))
                                                  : QString();

        if (!isBlankText(notice) && showNotice)
            showNotice(noticeForBox(notice));

        if (results.ReportedVersion != setup.version) {
            QString digits = results.ReportedVersion;
            digits.remove(QLatin1Char('.'));
            bool isNumber = false;
            digits.toInt(&isNumber);
            if (isNumber && results.showUpdate == 1 && (previousDate != today || count < 5))
                results.UpdateAvailable = true;
        }
    } catch (const std::exception &e) {
        diagnostics.add(exceptionTypeName(e) + QLatin1String(" Error:\r") + exceptionMessage(e));
    }
}

QString noticeForBox(const QString &notice)
{
    if (notice.size() <= kNoticeShownChars)
        return notice;
    qsizetype end = kNoticeShownChars;
    // Never end between the halves of a surrogate pair.
    if (notice.at(end - 1).isHighSurrogate())
        --end;
    QString shown = notice.left(end);
    while (!shown.isEmpty() && shown.back().isSpace())
        shown.chop(1);
    return shown + QLatin1String("\r\r(The notice was cut here: it is longer than this box shows.)");
}

TChecker::TChecker(UpdateCheckSetup setup, std::shared_ptr<UpdateCheckResults> results,
                   std::function<void(const QString &)> showNotice, QObject *parent)
    : QThread(parent), m_setup(std::move(setup)), m_results(std::move(results)), m_showNotice(std::move(showNotice))
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TChecker::run()
{
    m_results->CheckDone.store(false, std::memory_order_release);
    runUpdateCheck(m_setup, *m_results, m_showNotice);
    m_results->CheckDone.store(true, std::memory_order_release);
}
