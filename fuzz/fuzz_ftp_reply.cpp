// Feeds server bytes to the control connection's line reader and the reply
// state machine of TFTPclient. The first two bytes pick the firewall type,
// detection, S/Key, the resume setting and the starting reply state.
#include "ftp/Ftp.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

struct FtpClientTestAccess {
    static void setReplyState(TFTPclient& c, int32_t state) { c.SetReplyState(state); }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_ftp_reply";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    if (size < 2)
        return 0;
    static const int32_t starts[] = {rsGreeting, rsFwGreeting, rsUser, rsPass, rsSyst,
                                    rsRestProbe, rsPwd, rsKeepAlive, rsFeat, rsEpsv};
    TFTPclient ftp;
    ftp.FirewallType = static_cast<TFirewallType>(data[0] % FirewallTypeCount);
    ftp.ServerDetect = data[1] & 1;
    ftp.SKeyLogin = data[1] & 2;
    ftp.ResumeSupport = static_cast<uint8_t>((data[1] >> 2) % 3);
    ftp.InitialDirectory = (data[1] & 0x20) ? "/start" : "";
    ftp.Retry = 2;
    FtpClientTestAccess::setReplyState(ftp, starts[(data[0] >> 3) % std::size(starts)]);
    ftp.FeedLineBytes(reinterpret_cast<const char*>(data + 2), size - 2);
    QCoreApplication::processEvents();
    ftp.Close();
    return 0;
}
