#pragma once
// TCustomCorvSocket: the program's one TCP endpoint. A non-blocking IPv4
// stream socket driven by the Qt event loop (socket notifiers, QHostInfo,
// QTimer), so nothing ever blocks. It offers asynchronous resolve, connect
// with a connect-phase time-out, listen/accept, SOCKS 4 CONNECT, a text-line
// reader and two file pumps (socket to file, file to socket); TLS (OpenSSL)
// over the stream once a handshake has been started on it.

#include "net/RateLimit.h"
#include "net/Tls.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;
class QHostInfo;
struct ssl_st;
struct ssl_session_st;

enum TSocketMode : uint8_t { smLine = 0, smStream = 1, smSocks = 2 };

// Milliseconds of a monotonic clock, wrapping at 32 bits (a tick count).
uint32_t TickCount();
// The same clock at the scheduler's resolution (a few milliseconds), read
// without asking the hardware: for throttles that run once per line.
uint32_t CoarseTickCount();

// True when text is an IPv4 address in dotted form.
bool IsDottedAddress(const std::string& text);
// An IPv6 address, with or without brackets.
bool IsIPv6Address(const std::string& text);

class TCustomCorvSocket : public QObject {
    Q_OBJECT

public:
    // Read notice events (the values of the classic readiness mask).
    enum NoticeEvent { evRead = 1, evWrite = 2, evAccept = 8, evConnect = 16, evClose = 32 };

    // A pending line longer than this without a line feed is a protocol
    // error: a peer that never ends its line must not grow memory unbounded.
    static constexpr size_t MaxLineLength = 64 * 1024;
    static constexpr size_t SendChunkSize = 0x8000;

    explicit TCustomCorvSocket(QObject* owner = nullptr);
    ~TCustomCorvSocket() override;

    TCustomCorvSocket(const TCustomCorvSocket&) = delete;
    TCustomCorvSocket& operator=(const TCustomCorvSocket&) = delete;

    // ---- properties
    uint16_t Port = 0;          // remote port, or local port to bind (0 = any)
    std::string Host;           // dotted address or name; dotted once resolved
    int32_t Timeout = 15;       // connect-phase time-out in seconds; <= 0 disables
    std::string SocksDestHost;  // destination the SOCKS server is asked to reach
    int32_t SocksPort = 0;      // destination port for the SOCKS server
    uint8_t SocksVersion = 0;   // 0 no proxy, 1 SOCKS 4
    uint32_t LastActivity = 0;  // tick count of the last socket notice without error
    // The budget a file's bytes take from, shared with other connections
    // (none: as fast as they come).
    std::shared_ptr<TRateLimit> RateLimit;

    TSocketMode Mode() const { return m_mode; }
    void SetMode(TSocketMode mode);

    // ---- events (one listener each, may be unset; the sender comes first)
    std::function<void(TCustomCorvSocket*, const std::string& address, bool connecting,
                       const std::string& officialName)>
        OnResolved;
    std::function<void(TCustomCorvSocket*, const std::string& line)> OnLine;
    std::function<void(TCustomCorvSocket*, int handle)> OnAccept;
    std::function<void(TCustomCorvSocket*, int handle)> OnConnect;
    std::function<void(TCustomCorvSocket*)> OnClose;
    std::function<void(TCustomCorvSocket*)> OnTimeout;
    std::function<void(TCustomCorvSocket*)> OnStreamDone;
    std::function<void(TCustomCorvSocket*, int code, const std::string& message)> OnError;
    std::function<void(TCustomCorvSocket*, int64_t count)> OnProgress;
    // The receive file could not be written or the send file not read (errno
    // value). The file is closed already; the connection is left to the owner.
    std::function<void(TCustomCorvSocket*, int err)> OnFileError;

    // ---- operations
    virtual void Connect();
    virtual void Disconnect();
    // Disconnects with a reset instead of an orderly close, so the peer sees
    // the stream broken off rather than complete.
    void Reset();
    void ResolveHost(const std::string& name);
    bool Listen();
    // Accepts the listener's waiting connection. With requiredPeer set, a
    // connection from any other address is closed at once and false returned;
    // refusedPeer (when given) then receives that address.
    bool Accept(TCustomCorvSocket& listener, const std::string& requiredPeer = {}, std::string* refusedPeer = nullptr);
    bool IsConnected() const { return m_fd >= 0; }
    bool IsConnecting() const { return m_connecting; }
    int Handle() const { return m_fd; }
    std::string LocalAddress() const;
    int LocalPort() const;
    int64_t BytesAvailable() const;
    int RecvBuffer(char* buffer, int size);
    int GetBuffer(char* buffer, int size);
    int SendBuf(const char* data, int length);
    int SendLine(const std::string& text);
    // Sends data as urgent (out-of-band) data; 0 when closed, -1 on failure.
    int SendUrgent(const char* data, int length);
    // Dotted address of the peer; empty when not connected.
    std::string PeerAddress() const;
    static bool CanOpenFile(const std::string& name, bool forWriting);
    // text: an ASCII transfer; the CR LF line ends it brings become LF, the
    // line end of the files here.
    bool OpenReceiveFile(const std::string& name, int64_t offset, bool text = false);
    bool StartSendFile(const std::string& name, int64_t offset);
    void CloseReceiveFile();
    void StopSending(bool disconnect);
    bool ReceiveFileOpen() const { return m_recvFd >= 0; }
    bool SendFileOpen() const { return m_sendFd >= 0; }
    static std::string ErrorText(int code);

    // Connect-phase timer; an owner may restart it (the FTP client does so to
    // bound the wait for a greeting).
    void StartTimeoutTimer();
    void StopTimeoutTimer();

    // ---- TLS over the connection: a client handshake started on a connected
    // socket and driven by the same notices as everything else; the stream's
    // reads and writes then go through it. host is what the certificate must
    // name (a name or a dotted address); resumeFrom a TLS connection whose
    // session this one resumes (FTP data connections resume the control
    // connection's). OnTlsReady follows the handshake; a failed one is an
    // OnError, one that never ends the connect-phase time-out.
    void StartTls(const std::string& host, const TCustomCorvSocket* resumeFrom = nullptr);
    // This connection is being broken off (a transfer aborted): the
    // sessions it brought, or still brings, are not offered again (a server
    // drops the sessions of a connection that ended badly).
    void ForgetTlsSessions();
    // TLS no newer than 1.2 for the next StartTls: its sessions resume any
    // number of times, where a TLS 1.3 ticket may serve only once.
    bool TlsUpTo12 = false;
    std::function<void(TCustomCorvSocket*)> OnTlsReady;
    bool TlsActive() const { return m_ssl != nullptr; }
    bool TlsHandshaking() const { return m_tlsHandshaking; }
    bool TlsResumed() const;
    // The peer ended the stream with TLS's close_notify, not just a closed
    // connection (which an attacker or a broken line can fake).
    bool TlsClosedCleanly() const { return m_tlsCleanEnd; }
    std::string TlsDescription() const;  // "TLSv1.3, TLS_AES_256_GCM_SHA384"
    const TCertificateInfo& PeerCertificate() const { return m_peerCert; }

    // Feeds bytes to the line reader as if they had arrived on the socket.
    // The reader's own entry point, used by the socket and by the fuzz target.
    void FeedLineBytes(const char* data, size_t length);

protected:
    // Reports a failed socket call: codes 0, 10035 and 10038 are dropped;
    // otherwise disconnects first when asked and raises OnError with
    // "<operation>: <error text>".
    void SocketError(int code, bool disconnectFirst, const char* operation);

private:
    void OpenSocket();
    void HostResolved(const QHostInfo& info);
    void SocketNotice(int event, int errorCode);
    void OnReadReady();
    void OnWriteReady();
    void OnTimerTick();
    int ReadLines();
    void ReadSocks();
    void SendSocksRequest();
    void RecvStreamSegment();
    void SendDataBuffer();
    void CreateNotifiers(bool listening);
    void DropNotifiers();
    void CloseSendFile();
    void CloseRecvFile();
    void FileFailed(int err);
    void FlushPartialLine();
    // One read or write of the stream, plain or through TLS: bytes moved, 0
    // at the stream's end (reads), or -1 with code set (WouldBlock: not now).
    long streamRead(char* buffer, size_t size, int& code);
    long streamWrite(const char* data, size_t size, int& code);
    int readTlsLines();
    void tlsHandshakeStep();
    void tlsReadReady();
    void tlsFailed(const char* operation);
    bool dropTls();  // true when the socket lingers on, closed later

    int m_fd = -1;
    int m_resolveId = -1;
    bool m_connecting = false;
    bool m_connectPending = false;  // TCP connect started, completion not yet seen
    bool m_listening = false;
    bool m_socksResolving = false;
    bool m_noDrain = false;  // Disconnect must not read buffered lines
    TSocketMode m_mode = smLine;
    TSocketMode m_savedMode = smLine;
    std::string m_pendingLine;
    size_t m_lineStart = 0;  // start of the first line not yet handed out
    int m_feedDepth = 0;     // nested FeedLineBytes calls (from OnLine listeners)
    std::string m_socksReply;
    int32_t m_tickCount = 0;
    QTimer* m_timer = nullptr;
    bool m_rateWaiting = false;  // the budget is spent: the pump goes on when it is back
    void rateWait(bool sending);
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QSocketNotifier* m_spareRead = nullptr;  // disabled, kept for the next connection
    QSocketNotifier* m_spareWrite = nullptr;
    std::vector<char> m_sendChunk;
    size_t m_sendPos = 0;
    int m_sendFd = -1;
    bool m_sendByKernel = true;  // sendfile(2) works for the current send file
    int m_recvFd = -1;
    std::vector<char> m_recvBuffer;
    std::vector<char> m_textBuffer;  // a text receive's converted bytes
    bool m_recvText = false;
    bool m_recvCR = false;  // a text receive's CR at a chunk's end, held for what follows
    ssl_st* m_ssl = nullptr;
    bool m_socksGranted = false;   // the SOCKS proxy connected us through
    bool m_tlsAfterSocks = false;  // TLS waits for that
    std::string m_tlsAfterSocksHost;
    const TCustomCorvSocket* m_tlsAfterSocksResume = nullptr;
    // The sessions of this connection's family: its own (a new connection
    // starts a family), or those of the connection it resumes.
    std::shared_ptr<Tls::TSessionFamily> m_sessions;
    bool m_tlsHandshaking = false;
    bool m_tlsEof = false;          // the stream ended (cleanly or not)
    bool m_tlsCleanEnd = false;     // ... with close_notify
    bool m_tlsEofReported = false;
    bool m_tlsNoShutdown = false;   // a reset: no close_notify, the stream is broken off
    std::string m_tlsError;
    TCertificateInfo m_peerCert;
};
