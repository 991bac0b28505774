#pragma once

// Small helpers shared by the test suites.

#include "base/errors.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count; GCC ships no header that declares it.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#else
#include <malloc.h>
#endif

namespace testhelpers {

// The whole content of a file, or "<missing>" when it cannot be read.
inline QByteArray readFileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

// Creates or replaces the file with exactly these bytes.
inline void writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

inline const QString kNoError = QStringLiteral("<no error>");

// The message of the AppError the call throws, or kNoError.
inline QString errorOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const AppError &e) {
        return e.message();
    }
    return kNoError;
}

// The fields of a form body (name=value pairs joined by "&", "+" for a space,
// %XX escapes) as a server-side form parser reads them, in order.
inline QStringList fieldsOf(const QByteArray &body)
{
    QStringList fields;
    for (const QByteArray &pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype eq = pair.indexOf('=');
        auto decode = [](QByteArray part) {
            return QString::fromUtf8(QByteArray::fromPercentEncoding(part.replace('+', ' ')));
        };
        fields.append(decode(pair.left(eq)) + QLatin1Char('=') + decode(pair.mid(eq + 1)));
    }
    return fields;
}

// Bytes the heap has handed out and not taken back, whoever asked.
inline qint64 heapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

// Sets (or, with a null value, removes) environment variables for the life
// of the object, then puts back what was there.
class EnvironmentGuard
{
public:
    EnvironmentGuard(std::initializer_list<std::pair<const char *, const char *>> values)
    {
        for (const auto &[name, value] : values) {
            m_saved.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
            if (value)
                qputenv(name, value);
            else
                qunsetenv(name);
        }
    }
    ~EnvironmentGuard()
    {
        for (const Saved &s : m_saved) {
            if (s.wasSet)
                qputenv(s.name, s.value);
            else
                qunsetenv(s.name);
        }
    }
    EnvironmentGuard(const EnvironmentGuard &) = delete;
    EnvironmentGuard &operator=(const EnvironmentGuard &) = delete;

private:
    struct Saved
    {
        const char *name = nullptr;
        bool wasSet = false;
        QByteArray value;
    };
    std::vector<Saved> m_saved;
};

} // namespace testhelpers
