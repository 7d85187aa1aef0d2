#include "ScriptServer.h"

#include "TestSupport.h"
#include "net/NewSocket.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

ScriptServer::ScriptServer() : m_server(new QTcpServer(this))
{
    if (!m_server->listen(QHostAddress(QStringLiteral("127.0.0.1")), 0))
        qFatal("ScriptServer: cannot listen");
    connect(m_server, &QTcpServer::newConnection, this, &ScriptServer::onNewConnection);
}

ScriptServer::~ScriptServer() = default;

quint16 ScriptServer::port() const
{
    return m_server->serverPort();
}

void ScriptServer::addSession(ScriptSession session)
{
    m_sessions.push_back(std::move(session));
}

std::vector<std::string> ScriptServer::transcript(size_t connection) const
{
    return connection < m_transcripts.size() ? m_transcripts[connection] : std::vector<std::string>{};
}

namespace {
// Closes with a reset: the peer sees the stream broken, not ended.
void resetConnection(QTcpSocket* s)
{
    linger lg{1, 0};
    ::setsockopt(static_cast<int>(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    s->abort();
}
// "\\n" in a directive's text stands for CR LF.
std::string withLineEnds(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += "\r\n";
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
}  // namespace

void ScriptServer::withDataSocket(std::function<void(QTcpSocket*)> action)
{
    if (m_dataSocket) {
        QTcpSocket* d = m_dataSocket;
        m_dataSocket = nullptr;
        action(d);
    } else {
        m_dataAction = std::move(action);
    }
}

void ScriptServer::play(QTcpSocket* socket, const std::string& reply)
{
    size_t start = 0;
    while (start <= reply.size() && socket->state() == QAbstractSocket::ConnectedState) {
        const size_t nl = reply.find('\n', start);
        const std::string line = reply.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        if (line == "<pasv>" || line == "<pasv-bare>" || line.rfind("<epsv", 0) == 0) {
            if (!m_dataServer) {
                m_dataServer = new QTcpServer(this);
                m_dataServer->listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
                connect(m_dataServer, &QTcpServer::newConnection, this, [this] {
                    m_dataSocket = m_dataServer->nextPendingConnection();
                    connect(m_dataSocket, &QTcpSocket::readyRead, this, [this, d = m_dataSocket] {
                        if (d->property("own-reader").toBool())
                            return;
                        m_dataReceived += d->readAll().toStdString();
                    });
                    if (m_dataQueued)
                        sendData(m_pendingData);
                    if (m_dataAction)
                        withDataSocket(std::exchange(m_dataAction, nullptr));
                });
            }
            const quint16 p = m_dataServer->serverPort();
            std::string out = PassiveReplyFor(p);
            if (line == "<epsv>") {
                out = "229 Entering Extended Passive Mode (|||" + std::to_string(p) + "|)";
            } else if (line.rfind("<epsv:", 0) == 0) {
                // A reply of the test's own, "%p" the listener's port.
                out = line.substr(6, line.size() - 7);
                const size_t at = out.find("%p");
                if (at != std::string::npos)
                    out.replace(at, 2, std::to_string(p));
            }
            if (line == "<pasv-bare>") {
                out.erase(out.find('('), 1);
                out.erase(out.find(')'), 1);
            }
            socket->write((out + "\r\n").c_str());
        } else if (line.rfind("<data:", 0) == 0) {
            sendData(line.substr(6, line.size() - 7));
        } else if (line.rfind("<data-later:", 0) == 0) {
            const size_t colon = line.find(':', 12);
            const int ms = std::stoi(line.substr(12, colon - 12));
            const std::string text = line.substr(colon + 1, line.size() - colon - 2);
            QTimer::singleShot(ms, this, [this, text] { sendData(text); });
        } else if (line.rfind("<data-trickle:", 0) == 0) {
            const size_t colon = line.find(':', 14);
            const int ms = std::stoi(line.substr(14, colon - 14));
            auto text = std::make_shared<std::string>(withLineEnds(line.substr(colon + 1, line.size() - colon - 2)));
            withDataSocket([this, ms, text](QTcpSocket* d) {
                auto* timer = new QTimer(d);
                connect(timer, &QTimer::timeout, d, [d, text] {
                    if (text->empty()) {
                        d->disconnectFromHost();
                        return;
                    }
                    d->write(text->data(), 1);
                    text->erase(0, 1);
                });
                timer->start(ms);
            });
        } else if (line.rfind("<payload-repeat:", 0) == 0) {
            // Streams the payload N times, a little at a time, so a listing of
            // millions of lines never sits whole in this process.
            const std::string rest = nl == std::string::npos ? std::string() : reply.substr(nl + 1);
            QPointer<QTcpSocket> control(socket);
            auto left = std::make_shared<uint64_t>(std::stoull(line.substr(16)));
            withDataSocket([this, control, rest, left](QTcpSocket* d) {
                auto carryOn = [this, control, rest] {
                    if (control && !rest.empty())
                        play(control, rest);
                };
                auto pump = [this, d, left] {
                    while (*left > 0 && d->state() == QAbstractSocket::ConnectedState &&
                           d->bytesToWrite() < (1 << 20)) {
                        d->write(payload.data(), static_cast<qint64>(payload.size()));
                        --*left;
                    }
                    if (*left == 0 && d->bytesToWrite() == 0)
                        d->disconnectFromHost();
                };
                connect(d, &QTcpSocket::bytesWritten, d, pump);
                connect(d, &QTcpSocket::disconnected, this, carryOn);
                connect(d, &QTcpSocket::errorOccurred, d, [d] { d->abort(); });
                connect(d, &QTcpSocket::disconnected, d, &QObject::deleteLater);
                pump();
            });
            return;
        } else if (line.rfind("<later:", 0) == 0) {
            const size_t colon = line.find(':', 7);
            const int ms = std::stoi(line.substr(7, colon - 7));
            const std::string text = line.substr(colon + 1, line.size() - colon - 2) + "\r\n";
            QTimer::singleShot(ms, socket,
                               [socket, text] { socket->write(text.data(), static_cast<qint64>(text.size())); });
        } else if (line == "<payload>" || line.rfind("<payload-cut:", 0) == 0 || line == "<recv>" ||
                   line.rfind("<recv-cut:", 0) == 0) {
            // The rest of the reply waits until the data part is done.
            const std::string rest = nl == std::string::npos ? std::string() : reply.substr(nl + 1);
            QPointer<QTcpSocket> control(socket);
            auto carryOn = [this, control, rest] {
                if (control && !rest.empty())
                    play(control, rest);
            };
            const bool cut = line.find("-cut:") != std::string::npos;
            const size_t limit = cut ? std::stoul(line.substr(line.find(':') + 1)) : std::string::npos;
            if (line.rfind("<payload", 0) == 0) {
                withDataSocket([this, carryOn, cut, limit](QTcpSocket* d) {
                    const std::string out = cut ? payload.substr(0, limit) : payload;
                    d->write(out.data(), static_cast<qint64>(out.size()));
                    if (!cut) {
                        connect(d, &QTcpSocket::disconnected, this, carryOn);
                        connect(d, &QTcpSocket::disconnected, d, &QObject::deleteLater);
                        d->disconnectFromHost();
                        return;
                    }
                    d->flush();
                    resetConnection(d);
                    d->deleteLater();
                    carryOn();
                });
            } else {
                withDataSocket([this, carryOn, cut, limit](QTcpSocket* d) {
                    d->setProperty("own-reader", true);
                    auto got = std::make_shared<size_t>(0);
                    auto finished = std::make_shared<bool>(false);
                    auto read = [this, d, carryOn, cut, limit, got, finished] {
                        if (*finished)
                            return;
                        const QByteArray bytes = d->read(cut ? static_cast<qint64>(limit - *got) : d->bytesAvailable());
                        m_dataReceived.append(bytes.constData(), static_cast<size_t>(bytes.size()));
                        *got += static_cast<size_t>(bytes.size());
                        if (cut && *got >= limit) {
                            *finished = true;
                            resetConnection(d);
                            d->deleteLater();
                            carryOn();
                        }
                    };
                    connect(d, &QTcpSocket::readyRead, this, read);
                    connect(d, &QTcpSocket::disconnected, this, [d, read, carryOn, finished] {
                        read();
                        if (*finished)
                            return;
                        *finished = true;
                        d->deleteLater();
                        carryOn();
                    });
                    read();
                });
            }
            return;
        } else if (line.rfind("<close-later:", 0) == 0) {
            const int ms = std::stoi(line.substr(13));
            QTimer::singleShot(ms, socket, [socket] { socket->disconnectFromHost(); });
        } else if (line == "<data-hold>") {
            // keep the data connection open
        } else if (line == "<data-close>") {
            sendData("");
        } else if (line == "<close>") {
            socket->disconnectFromHost();
        } else if (line.rfind("<raw>", 0) == 0) {
            socket->write(line.data() + 5, static_cast<qint64>(line.size() - 5));
        } else if (line != "<silent>") {
            const std::string out = line + "\r\n";
            socket->write(out.data(), static_cast<qint64>(out.size()));
        }
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
}

void ScriptServer::sendData(const std::string& text)
{
    if (!m_dataSocket) {
        m_pendingData = text;
        m_dataQueued = true;
        return;
    }
    m_dataQueued = false;
    const std::string out = withLineEnds(text);
    m_dataSocket->write(out.data(), static_cast<qint64>(out.size()));
    m_dataSocket->disconnectFromHost();
    m_dataSocket = nullptr;
}

void ScriptServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        const size_t index = m_transcripts.size();
        m_transcripts.emplace_back();
        m_acceptTimes.push_back(TickCount());
        ScriptSession session;
        if (!m_sessions.empty())
            session = m_sessions[std::min(index, m_sessions.size() - 1)];
        auto replies = std::make_shared<std::vector<ScriptReply>>(session.replies);
        auto used = std::make_shared<std::vector<bool>>(session.replies.size(), false);
        auto buffer = std::make_shared<std::string>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, index, replies, used, buffer] {
            *buffer += socket->readAll().toStdString();
            size_t lf;
            while ((lf = buffer->find('\n')) != std::string::npos) {
                std::string line = buffer->substr(0, lf);
                buffer->erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                // A server from before TLS and FEAT: "AUTH" and "FEAT"
                // refused, unless the script answers them itself (then they
                // are in the transcript).
                bool refused = false;
                for (const char* newer : {"AUTH", "FEAT"}) {
                    if (line.rfind(newer, 0) != 0)
                        continue;
                    bool scripted = false;
                    for (size_t i = 0; i < replies->size(); ++i)
                        scripted = scripted || (!(*used)[i] && (*replies)[i].command.rfind(newer, 0) == 0);
                    if (!scripted) {
                        play(socket, std::string("502 ") + newer + " not implemented.");
                        refused = true;
                    }
                }
                if (refused)
                    continue;
                m_transcripts[index].push_back(line);
                if (socket->state() != QAbstractSocket::ConnectedState)
                    return;
                // A reply keyed by the command first, else the next unkeyed one.
                size_t pick = replies->size();
                for (size_t i = 0; i < replies->size() && pick == replies->size(); ++i) {
                    const std::string& key = (*replies)[i].command;
                    if (!(*used)[i] && !key.empty() && line.compare(0, key.size(), key) == 0)
                        pick = i;
                }
                for (size_t i = 0; i < replies->size() && pick == replies->size(); ++i)
                    if (!(*used)[i] && (*replies)[i].command.empty())
                        pick = i;
                if (pick < replies->size()) {
                    (*used)[pick] = true;
                    play(socket, (*replies)[pick].text);
                }
            }
        });
        for (const std::string& g : session.greeting)
            play(socket, g);
    }
}
