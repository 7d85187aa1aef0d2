// Site and proxy passwords in the desktop's keyring: GNOME's keyring daemon
// on a session bus of the test's own; the program itself, run again as a new
// process, logs in with what the keyring holds.
#include "QueueWindow.h"

#include "dialogs/Preferences.h"
#include "dialogs/SiteManager.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>

namespace {

const QByteArray Payload = QByteArray(70000, 'k') + "end";

// Corvyne as a new process on the same data folder and bus: fetches
// /file.bin from the saved site into a folder of its own, unattended.
bool fetchThroughSite(const RealServers::OwnKeyring& bus, const QString& data, const QString& site, std::string& why)
{
    QTemporaryDir into;
    QProcess p;
    QProcessEnvironment env = bus.environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CORVYNE_EXE), {QStringLiteral("--nosplash"), QStringLiteral("DATA=") + data,
                                          QStringLiteral("HOST=") + site,
                                          QStringLiteral("GET=/file.bin|") + into.path(), QStringLiteral("QUIT=YES")});
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        why = "the program did not end";
        return false;
    }
    QFile f(into.filePath(QStringLiteral("file.bin")));
    if (p.exitCode() != 0 || !f.open(QIODevice::ReadOnly) || f.readAll() != Payload) {
        why = "exit status " + std::to_string(p.exitCode()) + ": " + p.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

// A site for the server, its password typed into the site manager and saved.
void saveSiteWithPassword(QueueWindow& t, const std::string& name, quint16 port)
{
    t.w->SiteCommands().SiteManagerOpened = [&](TfrmSite& d) {
        t.prompt.texts = {name};
        d.btnAddSiteClick();
        d.txtServer->setText(QStringLiteral("127.0.0.1"));
        d.txtPort->setText(QString::number(port));
        d.chkAnonymous->setChecked(false);
        d.txtUsername->setText(QString::fromLatin1(RealServers::User));
        d.txtPassword->setText(QString::fromLatin1(RealServers::Password));
        d.chkSavePass->setChecked(true);
        EXPECT_TRUE(d.SaveSite());
        d.btnExitClick();
    };
    t.w->SiteCommands().mnuSiteManagerClick();
}

std::string sitesFile(const QString& data)
{
    QFile f(data + QStringLiteral("/sites.ini"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

size_t noticesIn(const std::vector<std::string>& said)
{
    return std::count_if(said.begin(), said.end(),
                         [](const std::string& s) { return s.find("扰码不是加密") != std::string::npos; });
}

}  // namespace

// Saved in the site manager, the password goes to the keyring (secret-tool
// finds it under the site's marker), sites.ini holds only the marker, and
// the program started anew logs in with it, also after the keyring daemon
// itself was restarted.
TEST(Keyring, ASitesPasswordLivesInTheKeyringAndANewProcessLogsInWithIt)
{
    RealServers::OwnKeyring keyring;
    RealServers::OwnPyftpdlib server({{QStringLiteral("file.bin"), Payload}});
    QueueWindow t;
    ASSERT_TRUE(t.w->Sites().Passwords().Available());
    saveSiteWithPassword(t, "钥匙", server.port);
    const std::string text = sitesFile(t.data.path());
    EXPECT_EQ(text.find("Pass="), std::string::npos) << text;
    const std::string id = t.w->Sites().Sites().ReadString("钥匙", "Keyring");
    ASSERT_FALSE(id.empty()) << text;
    EXPECT_EQ(keyring.lookup(QStringLiteral("Corvyne"), QString::fromStdString(id)), QString::fromLatin1(RealServers::Password));
    EXPECT_EQ(noticesIn(t.prompt.asked), 0u);
    EXPECT_EQ(t.w->Sites().ReadSite("钥匙")->Password(), RealServers::Password);

    std::string why;
    EXPECT_TRUE(fetchThroughSite(keyring, t.data.path(), QStringLiteral("钥匙"), why)) << why;
    keyring.restartDaemon();
    EXPECT_TRUE(fetchThroughSite(keyring, t.data.path(), QStringLiteral("钥匙"), why)) << why;
}

// No keyring on the bus (a server without a desktop): the password stays in
// sites.ini scrambled, as before, and the user is told so once, not at the
// next save and not in the next session. A site whose password is in the
// keyring keeps its marker when edited meanwhile.
TEST(Keyring, WithoutOneThePasswordStaysScrambledAndTheUserIsToldOnce)
{
    RealServers::OwnKeyring busOnly(false);
    RealServers::OwnPyftpdlib server({{QStringLiteral("file.bin"), Payload}});
    QTemporaryDir data;
    WriteTestFile(data.filePath(QStringLiteral("sites.ini")),
                  "[_Groups_]\ng1=g\nImport=1\n[_g_]\ns1=kept\n[kept]\nIP=127.0.0.1\nUser=u\nKeyring=0123abcd\n");
    {
        QueueWindow kept(data.path());
        kept.w->SiteCommands().SiteManagerOpened = [&](TfrmSite& d) {
            d.ShowSite("kept");
            EXPECT_TRUE(d.txtPassword->text().isEmpty());
            EXPECT_FALSE(d.txtPassword->placeholderText().isEmpty());
            EXPECT_TRUE(d.chkSavePass->isChecked());
            d.txtPort->setText(QStringLiteral("2121"));
            EXPECT_TRUE(d.SaveSite());
            d.btnExitClick();
        };
        kept.w->SiteCommands().mnuSiteManagerClick();
        const std::string text = sitesFile(data.path());
        EXPECT_NE(text.find("Port=2121"), std::string::npos) << text;
        EXPECT_NE(text.find("Keyring=0123abcd"), std::string::npos) << text;
        EXPECT_EQ(text.find("Pass="), std::string::npos) << text;
        kept.w->close();
    }
    {
        QueueWindow t(data.path());
        EXPECT_FALSE(t.w->Sites().Passwords().Available());
        saveSiteWithPassword(t, "one", server.port);
        EXPECT_EQ(noticesIn(t.prompt.asked), 1u);
        const auto pass = t.w->Sites().Sites().Document().Get("one", "Pass");
        ASSERT_TRUE(pass);
        EXPECT_EQ(UnscramblePassword(*pass), RealServers::Password);
        EXPECT_FALSE(t.w->Sites().Sites().Document().Get("one", "Keyring"));
        saveSiteWithPassword(t, "two", server.port);
        EXPECT_EQ(noticesIn(t.prompt.asked), 1u);
        t.w->close();
    }
    QueueWindow again(data.path());
    saveSiteWithPassword(again, "three", server.port);
    EXPECT_EQ(noticesIn(again.prompt.asked), 0u);
    std::string why;
    EXPECT_TRUE(fetchThroughSite(busOnly, data.path(), QStringLiteral("one"), why)) << why;
}

// A data folder of an earlier version: its scrambled site and proxy
// passwords stay as they are until the first save, then move into the
// keyring, and the program logs in with them afterwards.
TEST(Keyring, AnOlderFilesPasswordsMoveInOnTheFirstSave)
{
    RealServers::OwnKeyring keyring;
    RealServers::OwnPyftpdlib server({{QStringLiteral("file.bin"), Payload}});
    QTemporaryDir data;
    WriteTestFile(data.filePath(QStringLiteral("sites.ini")),
                  ("[_Groups_]\ng1=g\nImport=1\n[_g_]\ns1=old\n[old]\nIP=127.0.0.1\nPort=" + std::to_string(server.port) +
                   "\nUser=ftptest\nPass=" + ScramblePassword(RealServers::Password) + "\nOptions=300000000000000\n")
                      .c_str());
    WriteTestFile(data.filePath(QStringLiteral("corvyne.ini")),
                  ("[Setup]\nProxyUser=pu\nProxyPass=" + ScramblePassword("代理 secret") + "\n").c_str());
    {
        QueueWindow t(data.path());
        EXPECT_EQ(t.w->FTP().ProxyPass, "代理 secret");
        EXPECT_NE(sitesFile(data.path()).find("Pass="), std::string::npos);  // nothing moved by reading
        t.w->SetPreferencesOpened([](TfrmPref&) { return true; });
        t.w->mnuPreferencesClick();
        t.w->close();
        EXPECT_EQ(noticesIn(t.prompt.asked), 0u);
    }
    const std::string text = sitesFile(data.path());
    EXPECT_EQ(text.find("Pass="), std::string::npos) << text;
    TIniFile sites(data.filePath(QStringLiteral("sites.ini")).toStdString());
    TIniFile settings(data.filePath(QStringLiteral("corvyne.ini")).toStdString());
    ASSERT_TRUE(sites.Load() && settings.Load());
    EXPECT_EQ(keyring.lookup(QStringLiteral("Corvyne"), QString::fromStdString(sites.ReadString("old", "Keyring"))),
              QString::fromLatin1(RealServers::Password));
    EXPECT_EQ(settings.ReadString("Setup", "ProxyPass"), "");
    EXPECT_EQ(keyring.lookup(QStringLiteral("Corvyne"), QString::fromStdString(settings.ReadString("Setup", "ProxyKeyring"))),
              QStringLiteral("代理 secret"));
    QueueWindow again(data.path());
    EXPECT_EQ(again.w->FTP().ProxyPass, "代理 secret");
    std::string why;
    EXPECT_TRUE(fetchThroughSite(keyring, data.path(), QStringLiteral("old"), why)) << why;
}

// A locked keyring with nobody to unlock it: an unattended run whose site's
// password is there ends at once with a failure (it does not wait), and a
// password saved meanwhile stays in sites.ini, scrambled, with the keyring's
// refusal in the log; the password already in the keyring keeps its marker.
TEST(Keyring, ALockedKeyringRefusesAndNothingIsLost)
{
    RealServers::OwnKeyring keyring;
    RealServers::OwnPyftpdlib server({{QStringLiteral("file.bin"), Payload}});
    QueueWindow t;
    saveSiteWithPassword(t, "inside", server.port);
    const std::string id = t.w->Sites().Sites().ReadString("inside", "Keyring");
    ASSERT_FALSE(id.empty());
    keyring.lock();

    QElapsedTimer took;
    took.start();
    std::string why;
    EXPECT_FALSE(fetchThroughSite(keyring, t.data.path(), QStringLiteral("inside"), why));
    EXPECT_LT(took.elapsed(), 30000) << why;

    saveSiteWithPassword(t, "outside", server.port);
    const auto pass = t.w->Sites().Sites().Document().Get("outside", "Pass");
    ASSERT_TRUE(pass) << sitesFile(t.data.path());
    EXPECT_EQ(UnscramblePassword(*pass), RealServers::Password);
    EXPECT_NE(t.logText().find("密钥环: "), std::string::npos) << t.logText();
    EXPECT_EQ(t.w->Sites().Sites().ReadString("inside", "Keyring"), id);
    EXPECT_FALSE(t.w->Sites().Sites().Document().Get("inside", "Pass"));
}
