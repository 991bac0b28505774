#pragma once

#include "testserver.h"

#include <QList>
#include <QString>

#include <memory>

// A forward HTTP proxy on 127.0.0.1 for tests, on a thread of its own, like
// TestServer. A request in absolute form ("GET http://host:port/path") goes on
// to that origin in origin form; "CONNECT host:port" opens a tunnel (answered
// "200 Connection established") through which the bytes pass untouched, as
// for https. Every request head it receives is recorded; the target stays as
// sent ("http://127.0.0.1:8080/feed", "127.0.0.1:8443").
//
// With an origin port, every request goes to 127.0.0.1 on that port whatever
// host it names: a proxy that alone can reach hosts the machine cannot even
// resolve.
class TestProxy
{
public:
    explicit TestProxy(quint16 originPort = 0);
    ~TestProxy();
    TestProxy(const TestProxy &) = delete;
    TestProxy &operator=(const TestProxy &) = delete;

    quint16 port() const;
    // "http://127.0.0.1:<port>", the form the proxy variables take.
    QString url() const;

    QList<RecordedRequest> requests() const;
    int requestCount() const;

    struct Private;

private:
    std::unique_ptr<Private> d;
};
