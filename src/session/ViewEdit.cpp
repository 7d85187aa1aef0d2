#include "session/ViewEdit.h"

#include "common/Text.h"

#include "transfer/TransferQueue.h"
#include "transfer/TransferRules.h"

#include <QFileInfo>
#include <QTemporaryDir>

namespace {

bool alnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

std::string EditorForExtension(const TIniFile& settings, const std::string& file)
{
    const std::string name = LastPathSegment(file);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size())
        return {};
    const std::string ext = AsciiLower(name.substr(dot));
    for (int i = 1;; ++i) {
        const std::optional<std::string> value = settings.Document().Get("Editors", "e" + std::to_string(i));
        if (!value)
            return {};
        const size_t comma = value->find(',');
        if (comma == std::string::npos)
            continue;
        // ".txt .htm" or ".txt.htm": the extension whole, so ".htm" is not
        // taken for ".html".
        const std::string list = AsciiLower(value->substr(0, comma));
        for (size_t at = list.find(ext); at != std::string::npos; at = list.find(ext, at + 1)) {
            const size_t end = at + ext.size();
            if (end == list.size() || !alnum(list[end])) {
                std::string program = value->substr(comma + 1);
                const size_t first = program.find_first_not_of(' ');
                const size_t last = program.find_last_not_of(' ');
                return first == std::string::npos ? std::string() : program.substr(first, last - first + 1);
            }
        }
    }
}

TViewEdit::TViewEdit(TFTPclient& client, TConnectionWorkflow& workflow, const TSettings& settings,
                     const TIniFile& settingsFile, Host host, QObject* parent)
    : QObject(parent),
      m_ftp(client),
      m_workflow(workflow),
      m_settings(settings),
      m_settingsFile(settingsFile),
      m_host(std::move(host))
{
    // The queue run takes every other completion.
    auto received = std::move(m_ftp.OnFileReceived);
    m_ftp.OnFileReceived = [this, received](TFTPclient* c) {
        const SessionState s = m_workflow.State();
        if (s == SessionState::Viewing || s == SessionState::Editing)
            this->received();
        else if (received)
            received(c);
    };
    auto stored = std::move(m_ftp.OnFileStored);
    m_ftp.OnFileStored = [this, stored](TFTPclient* c) {
        if (m_workflow.State() == SessionState::Editing)
            this->stored();
        else if (stored)
            stored(c);
    };
}

TViewEdit::~TViewEdit() = default;

std::string TViewEdit::CopyFolder()
{
    if (!m_copies) {
        // Private to the user and to this run: a shared /tmp holds nothing
        // another user could read, replace or predict.
        auto dir = std::make_unique<QTemporaryDir>();
        if (!dir->isValid())
            return {};
        m_copies = std::move(dir);
    }
    return m_copies->path().toStdString() + "/";
}

// ---------------------------------------------------------------- local files

void TViewEdit::view(const std::string& file)
{
    if (!m_settings.Viewer.empty()) {
        if (!m_host.OpenWith(m_settings.Viewer, file))
            m_host.Log("无法启动查看程序: " + m_settings.Viewer, lcError);
        return;
    }
    // No program for the file: it is shown as text.
    if (!m_host.OpenDefault(file))
        m_host.BuiltInViewer(file);
}

void TViewEdit::ViewLocal(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths)
        view(path);
}

void TViewEdit::EditLocal(const std::string& path)
{
    const std::string byExtension = EditorForExtension(m_settingsFile, path);
    if (!byExtension.empty() && m_host.OpenWith(byExtension, path))
        return;
    if (!m_settings.Editor.empty()) {
        if (!m_host.OpenWith(m_settings.Editor, path))
            m_host.Log("无法启动编辑程序: " + m_settings.Editor, lcError);
        return;
    }
    // No editor set: the desktop's program for the file, as a user expects.
    if (!m_host.OpenDefault(path))
        m_host.Log("无法打开: " + path, lcError);
}

// ---------------------------------------------------------------- remote files

bool TViewEdit::fetch(SessionState state, const std::string& remote, const std::string& name, int64_t size)
{
    if (m_workflow.State() != SessionState::Idle)
        return false;
    // The local copy is named with the name's text (the server's bytes may be
    // GBK); the copy goes back to the server's own bytes.
    const std::string localName = m_ftp.NameCodec().Decode(name).toStdString();
    if (!SafeEntryName(name) || !SafeEntryName(localName)) {
        m_host.Log("这个名称不能作为本地文件名: " + localName, lcError);
        return false;
    }
    const std::string folder = CopyFolder();
    if (folder.empty()) {
        m_host.Log("无法创建临时文件夹", lcError);
        return false;
    }
    m_workflow.SetBusy(state);
    m_file = folder + localName;
    m_ftp.LocalFile = m_file;
    m_ftp.RemoteFile = remote;
    m_ftp.TransferMode =
        ChooseTransferMode(static_cast<TModePanel>(m_workflow.TransferModePanel), localName, m_settings);
    m_host.Status((state == SessionState::Viewing ? "查看: " : "编辑: ") + localName);
    m_host.ResetProgress();
    m_ftp.TransferBytes = 0;
    m_ftp.Download(false, false, size);
    if (!m_ftp.Success() && m_ftp.ReplyState() == rsIdle)  // refused before anything was sent
        m_workflow.GoIdle();
    return true;
}

bool TViewEdit::ViewRemote(const std::string& name, int64_t size)
{
    return fetch(SessionState::Viewing, m_host.RemoteDirectory() + name, name, size);
}

bool TViewEdit::EditRemote(const std::string& name, int64_t size)
{
    return fetch(SessionState::Editing, name, name, size);
}

bool TViewEdit::startEditor(const std::string& file)
{
    const std::string byExtension = EditorForExtension(m_settingsFile, file);
    if (!byExtension.empty() && m_host.OpenWith(byExtension, file))
        return true;
    return !m_settings.Editor.empty() && m_host.OpenWith(m_settings.Editor, file);
}

void TViewEdit::received()
{
    // A copy that did not arrive whole is neither shown nor, above all,
    // sent back over the server's file.
    if (!m_ftp.Success()) {
        m_workflow.GoIdle();
        return;
    }
    if (m_workflow.State() == SessionState::Viewing) {
        m_workflow.GoIdle();
        view(m_file);
        return;
    }
    m_host.Status2("");
    m_workflow.RestartIdleTimer();  // the keep-alive holds the session while the file is edited
    const bool again = startEditor(m_file) ? m_host.Prompt().Confirm("请点[确定]重新上传编辑过的文件, 或点[取消]中断.")
                                           : m_host.BuiltInEditor(m_file);
    if (m_workflow.State() != SessionState::Editing) {
        // The session ended while the file was open: nothing can go back now.
        if (again)
            m_host.Prompt().ShowMessage(MessageKind::Error, "连接已断开, 编辑过的文件未上传, 保留在: " + m_file);
        return;
    }
    if (again)
        upload();
    else
        m_workflow.GoIdle();
}

void TViewEdit::upload()
{
    m_workflow.SetBusy(SessionState::Editing);
    m_host.Status("Updating: " + LastPathSegment(m_file));
    m_ftp.LocalFile = m_file;
    m_ftp.ResumePos = 0;
    m_host.ResetProgress();
    m_ftp.TransferBytes = 0;
    m_ftp.Upload(false, true);  // the server's copy stays whole until the edited one is
    if (!m_ftp.Success() && m_ftp.ReplyState() == rsIdle)
        stored();
}

void TViewEdit::stored()
{
    if (!m_ftp.Success())
        m_host.Prompt().ShowMessage(MessageKind::Error, "编辑过的文件未能上传, 保留在: " + m_file);
    m_workflow.AfterLogin = AfterLoginAction::None;
    m_workflow.SetBusy(SessionState::RemoteCommand);
    m_host.DropCache(m_host.RemoteDirectory());
    m_host.Status2("");
    m_host.ShowRemote();
}
