#pragma once
// A small scriptable FTP server for the replies real servers will not give.
// Each accepted connection plays the next session script: its greeting, then
// a reply per command received. A reply keyed by a command ("USER", "REST
// 100", "PASV") answers the first command starting with that key, once; an
// unkeyed reply answers the next command no keyed reply is left for, in
// order. So one more command from the client gets no reply, not every later
// one the wrong reply. The commands are recorded so a test can compare the
// exact transcript.
//
// A reply is one or more lines separated by '\n', each sent with CR LF unless
// it is a directive: "<close>" closes the connection, "<silent>" sends
// nothing, "<raw>BYTES" sends BYTES as they are (no line end added).
// Passive data: "<pasv>" opens a data listener and replies 227 with its
// address; "<data:TEXT>" sends TEXT ("\\n" becomes CR LF) on the data
// connection and closes it; "<data-later:MS:TEXT>" does so MS ms later;
// "<data-hold>" keeps the data connection open; "<data-close>" closes it;
// "<close-later:MS>" closes the control connection MS ms later;
// "<later:MS:TEXT>" sends the line TEXT MS ms later; "<pasv-bare>" is
// "<pasv>" with the address written without parentheses; "<epsv>" is
// "<pasv>" answering "EPSV" (229 with the port); "<epsv:TEXT>" replies TEXT
// instead, "%p" in it the listener's port;
// "<data-trickle:MS:TEXT>" sends TEXT ("\\n" as above) a byte every MS ms,
// then closes.
// Payload (ScriptServer::payload) directives hold back the lines after them
// until the data part is done: "<payload>" sends it whole and closes,
// "<payload-cut:N>" sends its first N bytes and resets the connection,
// "<recv>" receives until the client closes, "<recv-cut:N>" resets after N
// bytes received, "<payload-repeat:N>" streams it N times and closes.

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;

// A session's "AUTH TLS" and "FEAT" are refused with 502, as by a server
// from before them, unless the script keys a reply to "AUTH" or "FEAT"; the
// refused ones are left out of the transcript.
struct ScriptReply {
    ScriptReply(const char* text) : text(text) {}             // NOLINT: unkeyed, by order
    ScriptReply(std::string text) : text(std::move(text)) {}  // NOLINT
    ScriptReply(std::string command, std::string text) : command(std::move(command)), text(std::move(text)) {}
    std::string command;  // empty: the next command without a keyed reply
    std::string text;
};

struct ScriptSession {
    ScriptSession() = default;
    ScriptSession(std::vector<std::string> greeting, std::vector<ScriptReply> replies)
        : greeting(std::move(greeting)), replies(std::move(replies))
    {
    }
    std::vector<std::string> greeting;  // sent on connect, each as a reply
    std::vector<ScriptReply> replies;
};

class ScriptServer : public QObject {
    Q_OBJECT

public:
    ScriptServer();
    ~ScriptServer() override;

    quint16 port() const;
    void addSession(ScriptSession session);
    // Commands received by connection number (0-based).
    const std::vector<std::vector<std::string>>& transcripts() const { return m_transcripts; }
    std::vector<std::string> transcript(size_t connection = 0) const;
    int connections() const { return static_cast<int>(m_transcripts.size()); }
    // Tick counts (ms) of each accepted connection.
    const std::vector<uint32_t>& acceptTimes() const { return m_acceptTimes; }
    // Bytes received on data connections, in order.
    const std::string& dataReceived() const { return m_dataReceived; }
    // What the payload directives send.
    std::string payload;

private:
    void onNewConnection();
    void play(QTcpSocket* socket, const std::string& reply);
    void sendData(const std::string& text);
    void withDataSocket(std::function<void(QTcpSocket*)> action);

    QTcpServer* m_dataServer = nullptr;
    QTcpSocket* m_dataSocket = nullptr;
    std::function<void(QTcpSocket*)> m_dataAction;  // waits for the data connection
    std::string m_pendingData;
    bool m_dataQueued = false;

    QTcpServer* m_server;
    std::vector<ScriptSession> m_sessions;
    std::vector<std::vector<std::string>> m_transcripts;
    std::vector<uint32_t> m_acceptTimes;
    std::string m_dataReceived;
};
