#include "net/SocketErrors.h"

#include <cerrno>
#include <unordered_map>

std::string SocketErrorText(int code)
{
    static const std::unordered_map<int, const char*> texts = {
        {0, "没有错误"},
        {1027, "代理服务器不能连接到远程主机"},
        {1028, "TLS 加密连接失败"},
        {10004, "中断系统调用"},
        {10009, "坏文件数"},
        {10013, "请求被拒绝"},
        {10014, "坏地址"},
        {10022, "无效参数"},
        {10024, "打开文件太多"},
        {10035, "操作将中断"},
        {10036, "操作正在进行"},
        {10037, "操作已在进行"},
        {10038, "套接字操作在没有套接"},
        {10039, "要求目标地址"},
        {10040, "信息太长"},
        {10041, "插座协议类型错误"},
        {10042, "协议不可用"},
        {10043, "协议不被支持"},
        {10044, "插座类型不被支持"},
        {10045, "操作不支持插座"},
        {10046, "协议体系不被支持"},
        {10047, "地址体系不被协议体系支持"},
        {10048, "地址已使用"},
        {10049, "地址不可用"},
        {10050, "网络掉线"},
        {10051, "网络不可到达"},
        {10052, "网络挂断连接重置"},
        {10053, "连接中断"},
        {10054, "连接被同位体重置"},
        {10055, "没有缓冲空间可用"},
        {10056, "插座已连接"},
        {10057, "插座没有连接"},
        {10058, "不能在切断插座后发送"},
        {10059, "索引太多: 不能拆分"},
        {10060, "连接超时"},
        {10061, "连接被拒绝"},
        {10062, "符号链接层级太多"},
        {10063, "文件名太长"},
        {10064, "主机已关闭"},
        {10065, "没有路线到主机"},
        {10066, "目录非空"},
        {10067, "进程太多"},
        {10068, "用户太多"},
        {10069, "磁盘分配溢出"},
        {10070, "陈旧的 NFS 文件句柄"},
        {10071, "远程路径层级太多"},
        {10091, "网络子系统不可用"},
        {10092, "WinSock DLL 不支持此程序"},
        {10093, "WinSock 没有初始化"},
        {11001, "主机没找到"},
        {11002, "没找到可靠主机"},
        {11003, "不可恢复的错误"},
        {11004, "没有数"},
    };
    auto it = texts.find(code);
    return it != texts.end() ? it->second : "未知或无法证实的错误";
}

int SocketCodeFromErrno(int err)
{
    switch (err) {
        case 0:
            return 0;
        case EINTR:
            return 10004;
        case EBADF:
            return 10009;
        case EACCES:
        case EPERM:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case EMFILE:
        case ENFILE:
            return 10024;
        case EWOULDBLOCK:
            return 10035;
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        case ENOTSOCK:
            return 10038;
        case EDESTADDRREQ:
            return 10039;
        case EMSGSIZE:
            return 10040;
        case EPROTOTYPE:
            return 10041;
        case ENOPROTOOPT:
            return 10042;
        case EPROTONOSUPPORT:
            return 10043;
        case ESOCKTNOSUPPORT:
            return 10044;
        case EOPNOTSUPP:
            return 10045;
        case EPFNOSUPPORT:
            return 10046;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ENETRESET:
            return 10052;
        case ECONNABORTED:
            return 10053;
        case ECONNRESET:
            return 10054;
        case ENOBUFS:
        case ENOMEM:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return 10057;
        case ESHUTDOWN:
        case EPIPE:
            return 10058;
        case ETOOMANYREFS:
            return 10059;
        case ETIMEDOUT:
            return 10060;
        case ECONNREFUSED:
            return 10061;
        case ELOOP:
            return 10062;
        case ENAMETOOLONG:
            return 10063;
        case EHOSTDOWN:
            return 10064;
        case EHOSTUNREACH:
            return 10065;
        case ENOTEMPTY:
            return 10066;
        case EUSERS:
            return 10068;
        case EDQUOT:
            return 10069;
        case ESTALE:
            return 10070;
        case EREMOTE:
            return 10071;
        default:
            return 100000 + err;  // outside the table: the generic text
    }
}
