#include "testproxy.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

struct TestProxy::Private
{
    quint16 port = 0;
    quint16 originPort = 0;  // when set, where every request goes
    mutable QMutex mutex;
    QList<RecordedRequest> requests;  // guarded by mutex

    QThread thread;
    QObject *home = nullptr;  // lives on thread; parent of the listener
    QTcpServer *listener = nullptr;

    void record(const RecordedRequest &request)
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
    }
};

namespace {

// One client connection: its request head, then a relay between the client
// and the origin until either side closes.
class ProxyConnection : public QObject
{
public:
    ProxyConnection(TestProxy::Private *proxy, QTcpSocket *client, QObject *parent)
        : QObject(parent), m_proxy(proxy), m_client(client)
    {
        client->setParent(this);
        m_upstream = new QTcpSocket(this);
        connect(client, &QTcpSocket::readyRead, this, [this] { fromClient(); });
        connect(client, &QTcpSocket::disconnected, this, [this] { closeBoth(); });
        connect(m_upstream, &QTcpSocket::connected, this, [this] { upstreamReady(); });
        connect(m_upstream, &QTcpSocket::readyRead, this, [this] { m_client->write(m_upstream->readAll()); });
        connect(m_upstream, &QTcpSocket::disconnected, this, [this] { closeBoth(); });
        connect(m_upstream, &QAbstractSocket::errorOccurred, this, [this] {
            if (!m_upstreamOpen)
                m_client->write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            closeBoth();
        });
    }

private:
    void fromClient()
    {
        m_in += m_client->readAll();
        if (m_upstreamOpen) {
            m_upstream->write(m_in);
            m_in.clear();
            return;
        }
        if (m_haveHead)
            return;  // waiting for the origin
        const qsizetype end = m_in.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        m_haveHead = true;
        const QByteArray head = m_in.left(end);
        m_in.remove(0, end + 4);

        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        RecordedRequest request;
        request.method = first.value(0);
        request.target = first.value(1);
        request.path = request.target;
        request.version = first.value(2);
        QByteArray forwarded;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed();
            request.headers.append({name, line.mid(colon + 1).trimmed()});
            if (!name.toLower().startsWith("proxy-"))
                forwarded += line + "\r\n";
        }
        m_proxy->record(request);

        QString host;
        quint16 port = 0;
        if (request.method == "CONNECT") {
            const qsizetype colon = request.target.lastIndexOf(':');
            host = QString::fromLatin1(request.target.left(colon)).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
            port = quint16(request.target.mid(colon + 1).toUShort());
            m_tunnel = true;
        } else {
            const QUrl url(QString::fromLatin1(request.target));
            host = url.host();
            port = quint16(url.port(80));
            const QByteArray originTarget = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
            m_head = request.method + ' ' + (originTarget.isEmpty() ? QByteArray("/") : originTarget) + ' '
                + request.version + "\r\n" + forwarded + "\r\n";
        }
        if (m_proxy->originPort != 0) {
            host = QStringLiteral("127.0.0.1");
            port = m_proxy->originPort;
        }
        m_upstream->connectToHost(host, port);
    }

    void upstreamReady()
    {
        m_upstreamOpen = true;
        if (m_tunnel)
            m_client->write("HTTP/1.1 200 Connection established\r\n\r\n");
        else
            m_upstream->write(m_head);
        if (!m_in.isEmpty()) {
            m_upstream->write(m_in);
            m_in.clear();
        }
    }

    // Either side has closed: the other is closed once what it still has to
    // send has gone; the connection goes when the client's side is closed.
    void closeBoth()
    {
        if (m_upstream->bytesAvailable() > 0)
            m_client->write(m_upstream->readAll());
        if (m_client->state() == QAbstractSocket::UnconnectedState) {
            m_upstream->abort();
            deleteLater();
            return;
        }
        if (m_closing)
            return;
        m_closing = true;
        m_client->disconnectFromHost();
        m_upstream->disconnectFromHost();
    }

    TestProxy::Private *m_proxy = nullptr;
    QTcpSocket *m_client = nullptr;
    QTcpSocket *m_upstream = nullptr;
    QByteArray m_in;
    QByteArray m_head;
    bool m_haveHead = false;
    bool m_tunnel = false;
    bool m_upstreamOpen = false;
    bool m_closing = false;
};

class ProxyListener : public QTcpServer
{
public:
    ProxyListener(TestProxy::Private *proxy, QObject *parent) : QTcpServer(parent), m_proxy(proxy) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket;
        socket->setSocketDescriptor(descriptor);
        new ProxyConnection(m_proxy, socket, this);
    }

private:
    TestProxy::Private *m_proxy = nullptr;
};

} // namespace

TestProxy::TestProxy(quint16 originPort) : d(std::make_unique<Private>())
{
    d->originPort = originPort;
    d->thread.setObjectName(QStringLiteral("TestProxy"));
    d->thread.start();
    d->home = new QObject;
    d->home->moveToThread(&d->thread);
    Private *p = d.get();
    QMetaObject::invokeMethod(d->home, [p] {
        p->listener = new ProxyListener(p, p->home);
        if (!p->listener->listen(QHostAddress::LocalHost, 0))
            qFatal("TestProxy: cannot listen: %s", qPrintable(p->listener->errorString()));
        p->port = p->listener->serverPort();
    }, Qt::BlockingQueuedConnection);
}

TestProxy::~TestProxy()
{
    Private *p = d.get();
    QMetaObject::invokeMethod(d->home, [p] {
        delete p->listener;  // and with it every connection
        p->listener = nullptr;
    }, Qt::BlockingQueuedConnection);
    d->thread.quit();
    d->thread.wait();
    delete d->home;
}

quint16 TestProxy::port() const
{
    return d->port;
}

QString TestProxy::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(d->port);
}

QList<RecordedRequest> TestProxy::requests() const
{
    QMutexLocker lock(&d->mutex);
    return d->requests;
}

int TestProxy::requestCount() const
{
    QMutexLocker lock(&d->mutex);
    return int(d->requests.size());
}
