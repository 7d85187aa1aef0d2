#include "net/NewSocket.h"
#include "net/SocketErrors.h"

#include <gtest/gtest.h>
#include <cerrno>

TEST(SocketErrors, TextsOfTheTable)
{
    EXPECT_EQ(TCustomCorvSocket::ErrorText(0), "没有错误");
    EXPECT_EQ(TCustomCorvSocket::ErrorText(1027), "代理服务器不能连接到远程主机");
    EXPECT_EQ(TCustomCorvSocket::ErrorText(10059), "索引太多: 不能拆分");
    EXPECT_EQ(TCustomCorvSocket::ErrorText(10070), "陈旧的 NFS 文件句柄");
    EXPECT_EQ(TCustomCorvSocket::ErrorText(10092), "WinSock DLL 不支持此程序");
    EXPECT_EQ(TCustomCorvSocket::ErrorText(11004), "没有数");
    for (int unknown : {-1, 1, 1026, 10000, 10072, 10090, 11000, 11005, 100113})
        EXPECT_EQ(TCustomCorvSocket::ErrorText(unknown), "未知或无法证实的错误") << unknown;
}

TEST(SocketErrors, ErrnoMapsOntoTableCodes)
{
    const std::pair<int, int> cases[] = {
        {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},  {ECONNRESET, 10054},    {EHOSTUNREACH, 10065},
        {ENETUNREACH, 10051},  {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049}, {EAGAIN, 10035},
        {EINPROGRESS, 10036},  {ENOTSOCK, 10038},   {EPIPE, 10058},         {EMSGSIZE, 10040},
    };
    for (auto [err, code] : cases)
        EXPECT_EQ(SocketCodeFromErrno(err), code) << err;
    // An errno without a counterpart reads as the generic text, never as a
    // wrong specific one.
    EXPECT_EQ(SocketErrorText(SocketCodeFromErrno(EKEYREJECTED)), "未知或无法证实的错误");
}
