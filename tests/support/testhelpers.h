#pragma once

// Small helpers shared by the test suites.

#include "app/errors.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

#include <functional>

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

} // namespace testhelpers
