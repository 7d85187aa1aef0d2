// Single-command operations of TFTPclient: directories, delete, rename,
// permissions, raw commands and quit. None needs a data connection.
#include "ftp/Ftp.h"

#include "sftp/Sftp.h"

void TFTPclient::ChangeDir(const std::string& dir)
{
    if (Sftp) {
        m_lastDirectory = dir;
        if (sftpBegin(poDirectoryChanged))
            m_sftp->Enter(sftpPath(dir));
        return;
    }
    m_success = true;
    m_pending = poDirectoryChanged;
    InitialDirectory = dir;
    m_lastDirectory = dir;
    SendCommand("CWD " + dir, rsCwd);
}

void TFTPclient::ChangeDirUp()
{
    if (Sftp) {
        if (sftpBegin(poDirectoryChanged))
            m_sftp->Enter(sftpPath(".."));
        return;
    }
    m_success = true;
    m_pending = poDirectoryChanged;
    SendCommand("CDUP", rsCwd);
}

void TFTPclient::MakeDir(const std::string& dir)
{
    if (Sftp) {
        if (sftpBegin(poDirectoryCreated))
            m_sftp->MakeDir(sftpPath(dir));
        return;
    }
    m_success = true;
    m_pending = poDirectoryCreated;
    m_lastDirectory = InitialDirectory;
    SendCommand("MKD " + dir, rsMkdRmd);
}

void TFTPclient::RemoveDir(const std::string& dir)
{
    if (Sftp) {
        if (sftpBegin(poDirectoryDeleted))
            m_sftp->RemoveDir(sftpPath(dir));
        return;
    }
    m_success = true;
    m_pending = poDirectoryDeleted;
    SendCommand("RMD " + dir, rsMkdRmd);
}

void TFTPclient::DeleteRemoteFile(const std::string& name)
{
    if (Sftp) {
        if (sftpBegin(poFileDeleted))
            m_sftp->Remove(sftpPath(name));
        return;
    }
    m_success = true;
    m_pending = poFileDeleted;
    SendCommand("DELE " + name, rsDele);
}

void TFTPclient::Rename(const std::string& from, const std::string& to)
{
    if (Sftp) {
        if (sftpBegin(poFileRenamed))
            m_sftp->Rename(sftpPath(from), sftpPath(to));
        return;
    }
    m_success = true;
    m_pending = poFileRenamed;
    m_renameTarget = to;
    SendCommand("RNFR " + from, rsRnfr);
}

void TFTPclient::Chmod(const std::string& name, const std::string& mode)
{
    if (Sftp) {
        if (sftpBegin(poNone))
            m_sftp->Chmod(sftpPath(name), std::atoi(mode.c_str()));
        return;
    }
    SendCommand("SITE CHMOD " + mode + " " + name, rsChmod);
}

void TFTPclient::SendRawCommand(const std::string& text)
{
    if (Sftp) {
        sftpCommand(text);
        return;
    }
    SendCommand(text, rsRaw);
}

void TFTPclient::Quit()
{
    if (Sftp) {
        sftpCommand("QUIT");
        return;
    }
    SendCommand("QUIT", rsQuit);
}

void TFTPclient::OnCwdReply(const std::string& reply)
{
    m_success = ReplyClass(reply) == '2';
    SendCommand("PWD", rsPwd);
}

void TFTPclient::OnMkdRmdReply(const std::string& reply)
{
    if (ReplyClass(reply) != '2')
        InitialDirectory = m_lastDirectory;
    Finish();
}

void TFTPclient::OnDeleReply(const std::string&)
{
    Finish();
}

void TFTPclient::OnRnfrReply(const std::string& reply)
{
    if (ReplyClass(reply) == '3') {
        SendCommand("RNTO " + m_renameTarget, rsRnto);
        return;
    }
    Finish(false);
}

void TFTPclient::OnRntoReply(const std::string& reply)
{
    Finish(m_success && ReplyClass(reply) == '2');
}

// Raised straight from the reply handler, once per final reply in the state;
// the application reads the reply itself from the reply-line information.
void TFTPclient::OnChmodReply(const std::string&)
{
    if (OnFileCHMOD)
        OnFileCHMOD(this);
}

void TFTPclient::OnRawReply(const std::string&)
{
    if (OnRawCommand)
        OnRawCommand(this);
}

void TFTPclient::OnQuitReply(const std::string& reply)
{
    if (ReplyClass(reply) != '2')
        Close();
    SetReplyState(rsIdle);
}
