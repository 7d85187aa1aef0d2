#include "session/FileOps.h"

#include "ftp/Parser.h"
#include "panes/PaneLogic.h"
#include "transfer/TransferQueue.h"
#include "transfer/TransferRules.h"

namespace {
std::string withSlash(std::string dir)
{
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}
}  // namespace

int PermissionMode(const std::string& permissions)
{
    static const int bits[9] = {400, 200, 100, 40, 20, 10, 4, 2, 1};
    int mode = 0;
    for (size_t i = 0; i < 9 && i + 1 < permissions.size(); ++i)
        if (permissions[i + 1] != '-')
            mode += bits[i];
    return mode;
}

TRemoteProperties RemoteProperties(const TListingLines& listing, TFTPServerType serverType, const std::string& name)
{
    TRemoteProperties p;
    TListParser parser;
    for (const std::string_view text : listing) {
        const std::string line(text);
        TRemoteEntry e;
        if (!parser.ParseLine(serverType, listing.Mlsd, line, e) || e.Name != name)
            continue;
        p.found = true;  // a later line of the same name wins
        IPrompt::PropertiesRequest& r = p.shown;
        r.name = e.Name;
        r.size = PaneSizeText(std::max<int64_t>(e.Size, 0)).toStdString() + " 字节 ";
        r.date = PaneDateText(e.Date).toStdString();
        r.type = e.IsLink ? "远程符号链接" : e.IsDir ? "远程目录" : "远程文件";
        r.owner = e.Owner;
        r.group = e.Group;
        r.mode = listing.Mlsd ? std::max(e.Mode, 0) : PermissionMode(line.substr(0, line.find(' ')));
    }
    return p;
}

TRemoteFileOps::TRemoteFileOps(TFTPclient& client, TConnectionWorkflow& workflow, const TSettings& settings, Host host,
                               QObject* parent)
    : QObject(parent), m_ftp(client), m_workflow(workflow), m_settings(settings), m_host(std::move(host))
{
    connect(&workflow, &TConnectionWorkflow::DeleteListed, this, [this] { Listed(); });
    connect(&workflow, &TConnectionWorkflow::DeleteDirectoryFailed, this, [this] { DirectoryFailed(); });
    m_ftp.OnFileDeleted = [this](TFTPclient*) {
        if (m_workflow.State() != SessionState::DeletingTree)
            return;
        if (!m_pending.empty())
            m_pending.pop_front();
        if (m_host.StatusText && m_host.StatusText() == "Aborting") {
            // Stopped by the user: back where it began, the rest forgotten.
            m_pending.clear();
            m_toVisit.clear();
            m_visited.clear();
            m_workflow.SetBusy(SessionState::RemoteCommand);
            m_ftp.ChangeDir(m_startDir);
            return;
        }
        deleteStep();
    };
    m_ftp.OnDirectoryDeleted = [this](TFTPclient*) {
        if (m_workflow.State() != SessionState::DeletingFolders)
            return;
        if (!m_visited.empty()) {
            m_host.DropCache(withSlash(m_visited.back()));
            m_visited.pop_back();
        }
        if (!m_visited.empty()) {
            m_ftp.RemoveDir(m_visited.back());
            return;
        }
        m_workflow.SetBusy(SessionState::RemoteCommand);
        showDirectory();
    };
    m_ftp.OnFileRenamed = [this](TFTPclient*) {
        if (m_workflow.State() == SessionState::RemoteCommand)
            renameStep();
    };
    m_ftp.OnFileCHMOD = [this](TFTPclient*) {
        if (m_workflow.State() != SessionState::Chmod)
            return;
        if (!m_pending.empty())
            m_pending.pop_front();
        chmodStep();
    };
    m_ftp.OnRawCommand = [this](TFTPclient*) {
        if (std::exchange(m_probing, false)) {
            moveProbed();
            return;
        }
        if (m_workflow.State() == SessionState::RemoteCommand)
            m_workflow.GoIdle();
        else if (m_workflow.State() == SessionState::CustomCommand)
            customStep();
    };
}

bool TRemoteFileOps::begin(SessionState state)
{
    if (m_workflow.State() != SessionState::Idle)
        return false;
    m_workflow.SetBusy(state);
    return true;
}

void TRemoteFileOps::showDirectory()
{
    const std::string dir = m_host.RemoteDirectory();
    m_host.DropCache(dir);
    if (m_host.Status2)
        m_host.Status2("");
    m_host.ShowRemote();
}

bool TRemoteFileOps::MakeDirectory(const std::string& name)
{
    if (name.empty() || !begin(SessionState::RemoteCommand))
        return false;
    m_host.DropCache(m_host.RemoteDirectory());
    m_ftp.MakeDir(name);
    return true;
}

void TRemoteFileOps::DirectoryCreated()
{
    if (m_workflow.State() == SessionState::RemoteCommand)
        showDirectory();
}

// ---------------------------------------------------------------- delete

bool TRemoteFileOps::Delete(const std::vector<TRemoteRow>& selected)
{
    if (selected.empty() || m_workflow.State() != SessionState::Idle)
        return false;
    if (m_settings.ConfirmDel && !m_host.Prompt().Confirm("要删除所选文件吗?"))
        return false;
    m_pending.clear();
    m_toVisit.clear();
    m_visited.clear();
    m_startDir = withSlash(m_host.RemoteDirectory());
    bool folders = false;
    for (const TRemoteRow& row : selected) {
        if (row.name.empty() || row.name == "." || row.name == ".." || row.name.find('/') != std::string::npos)
            continue;
        if (m_settings.SkipDelete && MatchesSkipList(row.name, m_settings))
            continue;
        if (row.folder) {
            m_toVisit.push_back(m_startDir + row.name);
            folders = true;
        } else {
            m_pending.push_back(m_startDir + row.name);
        }
    }
    if (folders && !m_host.Prompt().Confirm("你确定你要删除所选的文件夹吗?  它包含的所有文件和文件夹都将被删除.")) {
        m_toVisit.clear();
        m_pending.clear();
        return false;
    }
    if (m_pending.empty() && m_toVisit.empty())
        return false;
    m_workflow.SetBusy(SessionState::DeletingTree);
    m_host.Status("删除文件");
    deleteStep();
    return true;
}

void TRemoteFileOps::deleteStep()
{
    if (!m_pending.empty()) {
        // Files go in the folder listed last, before the next is entered.
        const std::string name = LastPathSegment(m_pending.front());
        m_host.Status("删除: " + name);
        if (m_host.Status2)
            m_host.Status2(std::to_string(m_pending.size() - 1) + "文件剩余");
        m_ftp.DeleteRemoteFile(name);
        return;
    }
    if (!m_toVisit.empty()) {
        m_host.DropCache(withSlash(m_toVisit.front()));
        m_ftp.ChangeDir(m_toVisit.front());
        return;
    }
    if (!m_visited.empty()) {
        m_workflow.SetBusy(SessionState::DeletingFolders);
        m_ftp.ChangeDir(m_startDir);
        return;
    }
    m_workflow.SetBusy(SessionState::RemoteCommand);
    showDirectory();
}

void TRemoteFileOps::Listed()
{
    if (m_workflow.State() == SessionState::DeletingFolders) {
        // Back in the start folder: the folders go, the deepest first.
        if (m_visited.empty()) {
            m_workflow.SetBusy(SessionState::RemoteCommand);
            showDirectory();
        } else {
            m_ftp.RemoveDir(m_visited.back());
        }
        return;
    }
    if (m_toVisit.empty()) {
        deleteStep();
        return;
    }
    m_visited.push_back(m_toVisit.front());
    m_toVisit.pop_front();
    const std::string dir = withSlash(m_host.RemoteDirectory());
    for (const TRemoteRow& row : m_host.RemoteRows()) {
        if (row.name.empty() || row.name == "." || row.name == ".." || row.name.find('/') != std::string::npos)
            continue;  // never a path that leaves the folder
        if (row.folder)
            m_toVisit.push_back(dir + row.name);
        else
            m_pending.push_back(dir + row.name);
    }
    deleteStep();
}

void TRemoteFileOps::DirectoryFailed()
{
    if (m_workflow.State() == SessionState::DeletingFolders) {
        Listed();  // the folders are named by full path: go on from here
        return;
    }
    // A folder that cannot be entered is left as it is.
    if (!m_toVisit.empty()) {
        m_workflow.LogLine("无法进入目录: " + m_toVisit.front(), lcError);
        m_toVisit.pop_front();
    }
    deleteStep();
}

// ---------------------------------------------------------------- rename, move

bool TRemoteFileOps::Rename(const std::string& from, const std::string& to)
{
    if (from.empty() || to.empty() || !begin(SessionState::RemoteCommand))
        return false;
    const std::string dir = withSlash(m_host.RemoteDirectory());
    m_host.DropCache(dir);
    m_pending.clear();
    m_ftp.Rename(dir + from, dir + to);
    return true;
}

bool TRemoteFileOps::Move(const std::vector<std::string>& names, const std::string& target)
{
    if (names.empty() || target.empty() || !begin(SessionState::RemoteCommand))
        return false;
    m_target = withSlash(target);
    m_host.DropCache(m_target);
    m_host.DropCache(withSlash(m_host.RemoteDirectory()));
    m_pending.assign(names.begin(), names.end());
    renameStep();
    return true;
}

void TRemoteFileOps::renameStep()
{
    if (m_pending.empty()) {
        showDirectory();
        return;
    }
    // The server replaces a file of that name in the target without a word:
    // whether there is one is asked first ("MDTM" answers 213 for a file).
    m_host.Status("移动: " + m_pending.front());
    m_probing = true;
    m_ftp.SendRawCommand("MDTM " + m_target + m_pending.front());
}

void TRemoteFileOps::moveProbed()
{
    const std::string name = m_pending.front();
    m_pending.pop_front();
    if (m_ftp.LastReply().rfind("213", 0) == 0 &&
        !m_host.Prompt().Confirm("\"" + m_target + name + "\" 已存在. 要替换它吗?")) {
        m_workflow.LogLine("没有移动: " + name, lcNormal);
        renameStep();
        return;
    }
    m_ftp.Rename(withSlash(m_host.RemoteDirectory()) + name, m_target + name);
}

// ---------------------------------------------------------------- permissions, raw

bool TRemoteFileOps::Chmod(const std::vector<std::string>& names, const std::string& mode)
{
    if (names.empty() || mode.empty() || !begin(SessionState::Chmod))
        return false;
    m_host.DropCache(withSlash(m_host.RemoteDirectory()));
    m_pending.assign(names.begin(), names.end());
    m_mode = mode;
    chmodStep();
    return true;
}

void TRemoteFileOps::chmodStep()
{
    if (m_pending.empty()) {
        showDirectory();
        return;
    }
    m_host.Status("CHMOD " + m_mode + ": " + m_pending.front());
    if (m_host.Status2)
        m_host.Status2(std::to_string(m_pending.size() - 1) + "文件剩余");
    m_ftp.Chmod(m_pending.front(), m_mode);
}

bool TRemoteFileOps::CustomCommands(std::vector<std::string> lines)
{
    if (lines.empty() || !begin(SessionState::CustomCommand))
        return false;
    m_pending.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    customStep();
    return true;
}

void TRemoteFileOps::customStep()
{
    if (m_pending.empty()) {
        m_workflow.GoIdle();
        return;
    }
    const std::string line = std::move(m_pending.front());
    m_pending.pop_front();
    m_ftp.SendRawCommand(line);
}

bool TRemoteFileOps::RawCommand(const std::string& text)
{
    if (text.empty() || !begin(SessionState::RemoteCommand))
        return false;
    m_ftp.SendRawCommand(text);
    return true;
}
