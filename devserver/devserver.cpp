// Lifecycle, request recording and misbehaviour of the local time server.
// What each endpoint checks and answers lives in endpoints.cpp.

#include "devserver_p.h"

#include <httplib.h>

#include <chrono>
#include <csignal>

#ifndef _WIN32
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace devserver;

namespace {

QString fromStd(const std::string &s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// httplib adds these to every request itself; the client never sent them.
bool isHttplibHeader(const std::string &name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

#ifndef _WIN32
// httplib does not hand the connection's socket to a handler. Find it by its
// two ends: the only socket whose local port is ours and whose peer port is
// the client's.
int connectionSocket(const httplib::Request &req) {
    if (req.ssl)
        return SSL_get_fd(req.ssl);
    auto matches = [&req](int fd) {
        sockaddr_in local{}, peer{};
        socklen_t llen = sizeof local, plen = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &llen) != 0 ||
            getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &plen) != 0)
            return false;
        return local.sin_family == AF_INET && peer.sin_family == AF_INET &&
               ntohs(local.sin_port) == req.local_port && ntohs(peer.sin_port) == req.remote_port;
    };
    if (DIR *dir = opendir("/proc/self/fd")) {
        int found = -1;
        while (dirent *entry = readdir(dir)) {
            bool ok = false;
            const int fd = QByteArray(entry->d_name).toInt(&ok);
            if (ok && matches(fd)) {
                found = fd;
                break;
            }
        }
        closedir(dir);
        return found;
    }
    for (int fd = 0; fd < 4096; ++fd) {
        if (matches(fd))
            return fd;
    }
    return -1;
}

// Ends every connection accepted on `port`, so that connections idling in
// keep-alive do not hold stop() for the keep-alive time.
void shutDownConnections(int port) {
    auto ours = [port](int fd) {
        sockaddr_in local{}, peer{};
        socklen_t llen = sizeof local, plen = sizeof peer;
        return getsockname(fd, reinterpret_cast<sockaddr *>(&local), &llen) == 0 &&
               local.sin_family == AF_INET && ntohs(local.sin_port) == port &&
               getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &plen) == 0;
    };
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    QList<int> fds;
    while (dirent *entry = readdir(dir)) {
        bool ok = false;
        const int fd = QByteArray(entry->d_name).toInt(&ok);
        if (ok && fd != dirfd(dir))
            fds.append(fd);
    }
    closedir(dir);
    for (int fd : std::as_const(fds)) {
        if (ours(fd))
            ::shutdown(fd, SHUT_RDWR);
    }
}

bool peerClosed(int fd) {
    if (fd < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
#ifdef POLLRDHUP
    p.events |= POLLRDHUP;
#endif
    if (poll(&p, 1, 0) <= 0)
        return false;
#ifdef POLLRDHUP
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR))
        return true;
#endif
    if (p.revents & (POLLHUP | POLLERR))
        return true;
    char c;
    return (p.revents & POLLIN) && recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}
#endif

} // namespace

// --- handling one request -------------------------------------------------

bool DevServer::Impl::sleepUnlessStopping(int ms) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (stopping)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !stopping;
}

std::optional<Fault> DevServer::Impl::takeFault(const QString &path) {
    auto it = faults.find(path);
    if (it == faults.end())
        return std::nullopt;
    Fault fault = *it;
    if (it->times == 0) {
        faults.erase(it);
        return std::nullopt;
    }
    if (it->times > 0 && --it->times == 0)
        faults.erase(it);
    return fault;
}

static bool faultAnswers(const Fault &f) {
    return f.status != 0 || f.rawBody || f.stall || f.drop || !f.redirectTo.isEmpty() ||
           f.hugeBodyBytes > 0 || f.cutAfterBytes >= 0 || f.chunked || f.brokenGzip || f.gzipBomb;
}

void DevServer::Impl::handle(const httplib::Request &req, httplib::Response &res) {
    Incoming in;
    in.method = fromStd(req.method);
    in.path = fromStd(req.path);
    const auto q = req.target.find('?');
    if (q != std::string::npos)
        in.query = fromStd(req.target.substr(q + 1));
    for (const auto &[name, value] : req.headers) {
        if (isHttplibHeader(name))
            continue;
        const QString key = fromStd(name).toLower();
        const QString v = fromStd(value);
        in.headers[key] = in.headers.contains(key) ? in.headers[key] + QStringLiteral(", ") + v : v;
        in.headerCounts[key] += 1;
    }
    in.body = QByteArray(req.body.data(), qsizetype(req.body.size()));
    // httplib reads bodies of POST, PUT, PATCH and DELETE only.
    in.bodyUnread =
        (req.method == "GET" || req.method == "HEAD" || req.method == "OPTIONS") &&
        ((req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0") ||
         req.has_header("Transfer-Encoding"));

    // Answers go out uncompressed, so that byte-level faults arrive as sent.
    const_cast<httplib::Request &>(req).headers.erase("Accept-Encoding");

    std::optional<Fault> fault;
    std::optional<Answer> rejection;
    {
        std::lock_guard lock(mutex);
        requests.append({in.method, in.path, in.query, in.headers, in.body});
        fault = takeFault(in.path);
        rejection = check(in, fault && faultAnswers(*fault));
    }

    if (fault && fault->delayMs > 0 && !sleepUnlessStopping(fault->delayMs)) {
        res.status = 503;
        res.set_header("Connection", "close");
        return;
    }

    if (fault && faultAnswers(*fault)) {
        applyFault(*fault, req, res);
        return;
    }

    Answer answer;
    if (rejection) {
        answer = *rejection;
    } else {
        std::lock_guard lock(mutex);
        answer = serve(in);
    }
    res.status = answer.status;
    for (const auto &[name, value] : answer.headers)
        res.set_header(name.toStdString(), value.toStdString());
    if (in.bodyUnread) // the unread body would otherwise be taken for the next request
        res.set_header("Connection", "close");
    if (!answer.body.isEmpty() || answer.status != 204)
        res.set_content(answer.body.toStdString(), answer.contentType.toStdString());
}

void DevServer::Impl::applyFault(const Fault &fault, const httplib::Request &req,
                                 httplib::Response &res) {
    const std::string contentType = fault.contentType.toStdString();
    if (fault.drop) {
#ifndef _WIN32
        const int fd = connectionSocket(req);
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
#endif
        // Whatever httplib tries to write now goes nowhere.
        res.status = 500;
        res.set_header("Connection", "close");
        return;
    }
    if (fault.stall) {
        res.status = fault.status ? fault.status : 200;
#ifndef _WIN32
        const int fd = connectionSocket(req);
#else
        const int fd = -1;
#endif
        const std::string first =
            fault.body.isEmpty() ? std::string("{\"us") : fault.body.left(4).toStdString();
        res.set_chunked_content_provider(
            contentType, [this, first, fd](size_t offset, httplib::DataSink &sink) {
                if (offset == 0)
                    return sink.write(first.data(), first.size());
                // Hold the answer open until the server stops or the client gives up.
                while (!stopping && sink.is_writable()) {
#ifndef _WIN32
                    if (peerClosed(fd))
                        break;
#else
                (void)fd;
#endif
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                return false;
            });
        return;
    }
    if (!fault.redirectTo.isEmpty()) {
        res.status = fault.status ? fault.status : 302;
        res.set_header("Location", fault.redirectTo.toStdString());
        res.set_content(fault.body.toStdString(), contentType);
        return;
    }
    if (fault.hugeBodyBytes > 0) {
        res.status = fault.status ? fault.status : 200;
        const size_t total = size_t(fault.hugeBodyBytes);
        // {"filler":"xxxx…x"}, cut to the announced length.
        const auto filler = [total](size_t offset, size_t length) {
            static const std::string head = "{\"filler\":\"";
            static const std::string tail = "\"}";
            std::string chunk(std::min<size_t>(length, 64 * 1024), 'x');
            for (size_t i = 0; i < chunk.size(); ++i) {
                const size_t at = offset + i;
                if (at < head.size())
                    chunk[i] = head[at];
                else if (total >= head.size() + tail.size() && at >= total - tail.size())
                    chunk[i] = tail[at - (total - tail.size())];
            }
            return chunk;
        };
        if (fault.chunked) {
            res.set_chunked_content_provider(
                contentType, [this, total, filler](size_t offset, httplib::DataSink &sink) {
                    if (offset >= total) {
                        sink.done();
                        return true;
                    }
                    const std::string chunk = filler(offset, total - offset);
                    return !stopping && sink.write(chunk.data(), chunk.size());
                });
            return;
        }
        res.set_content_provider(
            total, contentType,
            [this, filler](size_t offset, size_t length, httplib::DataSink &sink) {
                const std::string chunk = filler(offset, length);
                return !stopping && sink.write(chunk.data(), chunk.size());
            });
        return;
    }
    if (fault.cutAfterBytes >= 0 || fault.chunked || fault.brokenGzip || fault.gzipBomb) {
        applyBrokenBody(fault, req, res);
        return;
    }
    res.status = fault.status ? fault.status : 200;
    res.set_content(fault.body.toStdString(), contentType);
}

void DevServer::Impl::applyBrokenBody(const Fault &fault, const httplib::Request &req,
                                      httplib::Response &res) {
    res.status = fault.status ? fault.status : 200;
    std::string body = fault.body.toStdString();
    if (fault.brokenGzip) {
        // A valid gzip header, then bytes that are no deflate stream.
        res.set_header("Content-Encoding", "gzip");
        body =
            std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + std::string(4096, '\xff');
    }
    if (fault.gzipBomb) {
        // qCompress gives a zlib stream behind a 4-byte length: its deflate
        // data sits between the 2-byte header and the 4-byte checksum. The
        // gzip trailer is left zero; a client gives up long before it.
        static const std::string bomb = [] {
            const QByteArray zlib = qCompress(QByteArray(256 * 1024 * 1024, '\0'), 9);
            const QByteArray deflate = zlib.mid(6, zlib.size() - 10);
            return std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) +
                   deflate.toStdString() + std::string(8, '\0');
        }();
        res.set_header("Content-Encoding", "gzip");
        body = bomb;
    }
    const size_t sent =
        fault.cutAfterBytes >= 0 ? std::min(body.size(), size_t(fault.cutAfterBytes)) : body.size();
    const bool cut = sent < body.size();
#ifndef _WIN32
    const int fd = fault.reset ? connectionSocket(req) : -1;
#else
    const int fd = -1;
#endif
    // What ends a cut answer: httplib closes a connection whose provider gives up.
    const auto breakOff = [fd] {
#ifndef _WIN32
        if (fd >= 0) {
            // Disconnecting an established TCP socket sends a reset at once.
            sockaddr unspecified{};
            unspecified.sa_family = AF_UNSPEC;
            ::connect(fd, &unspecified, sizeof unspecified);
        }
#else
        (void)fd;
#endif
        return false;
    };
    const std::string contentType = fault.contentType.toStdString();
    if (fault.chunked) {
        res.set_chunked_content_provider(
            contentType, [body, sent, cut, breakOff](size_t offset, httplib::DataSink &sink) {
                if (offset < sent)
                    return sink.write(body.data() + offset, std::min<size_t>(1024, sent - offset));
                if (cut)
                    return breakOff();
                sink.done();
                return true;
            });
        return;
    }
    res.set_content_provider(
        body.size(), contentType,
        [body, sent, breakOff](size_t offset, size_t length, httplib::DataSink &sink) {
            if (offset < sent)
                return sink.write(body.data() + offset, std::min(length, sent - offset));
            return breakOff();
        });
}

// --- lifecycle ------------------------------------------------------------

DevServer::DevServer(DevServerOptions options)
    : d(std::make_unique<Impl>()) {
    d->options = std::move(options);
    d->snakeCase = d->options.snakeCaseState;
    d->port = d->options.port;
    d->data = demoData(nowMs());
}

DevServer::~DevServer() {
    stop();
}

bool DevServer::start() {
    if (d->thread.joinable())
        return true;
#ifndef _WIN32
    // A client that hangs up mid-answer must not end the process (TLS writes
    // do not pass MSG_NOSIGNAL).
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::unique_ptr<httplib::Server> server;
    if (d->options.https) {
        server = std::make_unique<httplib::SSLServer>(d->options.certFile.toLocal8Bit().constData(),
                                                      d->options.keyFile.toLocal8Bit().constData());
    } else {
        server = std::make_unique<httplib::Server>();
    }
    if (!server->is_valid())
        return false;

    // Idle keep-alive connections hold stop() for this long.
    server->set_keep_alive_timeout(1);
    server->set_payload_max_length(8 * 1024 * 1024);
    // Stalled answers each hold a thread until they end.
    server->new_task_queue = [] { return new httplib::ThreadPool(32); };

    const httplib::Server::Handler handler = [impl = d.get()](const httplib::Request &req,
                                                              httplib::Response &res) {
        impl->handle(req, res);
    };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Patch(".*", handler);
    server->Delete(".*", handler);
    server->Options(".*", handler);
    // A POST without Content-Length has an empty body, but httplib refuses it
    // with 400 before any handler runs; answer it here instead.
    server->set_pre_routing_handler([impl = d.get()](const httplib::Request &req,
                                                     httplib::Response &res) {
        const bool bodyMethod = req.method == "POST" || req.method == "PUT" ||
                                req.method == "PATCH" || req.method == "DELETE";
        if (!bodyMethod || req.has_header("Content-Length") || req.has_header("Transfer-Encoding"))
            return httplib::Server::HandlerResponse::Unhandled;
        impl->handle(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });

    int port = d->options.port;
    if (port == 0) {
        port = server->bind_to_any_port("127.0.0.1");
        if (port <= 0)
            return false;
    } else if (!server->bind_to_port("127.0.0.1", port)) {
        return false;
    }

    d->stopping = false;
    {
        std::lock_guard lock(d->mutex);
        d->port = port;
    }
    httplib::Server *raw = server.get();
    d->server = std::move(server);
    d->listening = true;
    d->thread = std::thread([raw, impl = d.get()] {
        raw->listen_after_bind();
        impl->listening = false;
    });

    // stop() only works once the accept loop runs.
    while (!raw->is_running() && d->listening)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!d->listening) {
        d->thread.join();
        d->server.reset();
        return false;
    }
    return true;
}

void DevServer::stop() {
    if (!d->thread.joinable())
        return;
    d->stopping = true;
    d->server->stop();
#ifndef _WIN32
    shutDownConnections(port());
#endif
    d->thread.join();
    d->server.reset();
}

int DevServer::port() const {
    std::lock_guard lock(d->mutex);
    return d->port;
}

QString DevServer::baseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(d->options.https ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(port());
}

// --- data -------------------------------------------------------------------

QString DevServer::adminId() const {
    return QStringLiteral("u1");
}
QString DevServer::memberId() const {
    return QStringLiteral("u2");
}

QString DevServer::createSetupCode(const QString &userId) {
    std::lock_guard lock(d->mutex);
    return d->createSetupCodeLocked(userId);
}

QString DevServer::setupLink(const QString &code) const {
    return QStringLiteral("https://127.0.0.1:%1/#setup=%2").arg(port()).arg(code);
}

QString DevServer::issueToken(const QString &userId) {
    std::lock_guard lock(d->mutex);
    return d->issueTokenLocked(userId);
}

void DevServer::setNinjaSynced(bool synced) {
    std::lock_guard lock(d->mutex);
    d->ninjaSynced = synced;
}

void DevServer::setSnakeCaseState(bool snakeCase) {
    std::lock_guard lock(d->mutex);
    d->snakeCase = snakeCase;
}

void DevServer::setStateOverride(const QByteArray &json) {
    std::lock_guard lock(d->mutex);
    d->stateOverride = json;
}

void DevServer::clearStateOverride() {
    std::lock_guard lock(d->mutex);
    d->stateOverride.reset();
}

void DevServer::startEntryFor(const QString &userId, const QString &clientId, qint64 reasonId,
                              const QString &note, double startedAtMs) {
    std::lock_guard lock(d->mutex);
    d->startEntryLocked(userId, clientId, reasonId, note, startedAtMs);
}

void DevServer::stopEntryFor(const QString &userId) {
    std::lock_guard lock(d->mutex);
    d->stopEntryLocked(userId);
}

bool DevServer::hasRunningEntry(const QString &userId) const {
    std::lock_guard lock(d->mutex);
    return d->data.running.contains(userId);
}

void DevServer::setAppcastVersion(const QString &version) {
    std::lock_guard lock(d->mutex);
    d->appcastVersion = version;
    d->appcastBody.reset();
}

void DevServer::setAppcastBody(const QByteArray &xml) {
    std::lock_guard lock(d->mutex);
    d->appcastBody = xml;
}

void DevServer::setFault(const QString &path, const Fault &fault) {
    std::lock_guard lock(d->mutex);
    d->faults.insert(path, fault);
}

void DevServer::clearFaults() {
    std::lock_guard lock(d->mutex);
    d->faults.clear();
}

QList<RecordedRequest> DevServer::requests() const {
    std::lock_guard lock(d->mutex);
    return d->requests;
}

QList<RecordedRequest> DevServer::requestsTo(const QString &path) const {
    std::lock_guard lock(d->mutex);
    QList<RecordedRequest> out;
    for (const RecordedRequest &r : d->requests) {
        if (r.path == path)
            out.append(r);
    }
    return out;
}

void DevServer::clearRequests() {
    std::lock_guard lock(d->mutex);
    d->requests.clear();
}

QStringList DevServer::surprises() const {
    std::lock_guard lock(d->mutex);
    return d->surprises;
}

void DevServer::clearSurprises() {
    std::lock_guard lock(d->mutex);
    d->surprises.clear();
}
