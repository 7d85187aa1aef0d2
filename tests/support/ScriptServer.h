#pragma once
// A small scriptable FTP server for the replies real servers will not give.
// Each accepted connection plays the next session script: its greeting, then
// one reply per command received, in order. The commands are recorded so a
// test can compare the exact transcript.
//
// A reply is one or more lines separated by '\n', each sent with CR LF unless
// it is a directive: "<close>" closes the connection, "<silent>" sends
// nothing, "<raw>BYTES" sends BYTES as they are (no line end added).
// Passive data: "<pasv>" opens a data listener and replies 227 with its
// address; "<data:TEXT>" sends TEXT ("\\n" becomes CR LF) on the data
// connection and closes it; "<data-later:MS:TEXT>" does so MS ms later;
// "<data-hold>" keeps the data connection open; "<data-close>" closes it;
// "<close-later:MS>" closes the control connection MS ms later.

#include <QObject>

#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;

struct ScriptSession {
    std::vector<std::string> greeting;  // sent on connect, each as a reply
    std::vector<std::string> replies;   // the n-th command gets the n-th reply
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

private:
    void onNewConnection();
    void play(QTcpSocket* socket, const std::string& reply);
    void sendData(const std::string& text);

    QTcpServer* m_dataServer = nullptr;
    QTcpSocket* m_dataSocket = nullptr;
    std::string m_pendingData;
    bool m_dataQueued = false;

    QTcpServer* m_server;
    std::vector<ScriptSession> m_sessions;
    std::vector<std::vector<std::string>> m_transcripts;
    std::vector<uint32_t> m_acceptTimes;
    std::string m_dataReceived;
};
