// The main window's viewing and editing: the commands, and the programs and
// built-in editor they hand files to.

#include "dialogs/Editor.h"
#include "app/Main.h"
#include "session/ViewEdit.h"
#include "console/cxGraphics.h"

#include <QDesktopServices>
#include <QLabel>
#include <QProcess>
#include <QUrl>

void TfrmMain::buildViewEdit()
{
    TViewEdit::Host host;
    host.RemoteDirectory = [this] { return m_remote->CurrentPath(); };
    host.Status = [this](const std::string& t) { m_status->Show(QString::fromStdString(t)); };
    host.Status2 = [this](const std::string& t) { m_status->Show2(QString::fromStdString(t)); };
    host.DropCache = [this](const std::string& dir) { m_cache.Drop(dir); };
    host.ShowRemote = [this] { m_remote->Show(); };
    host.ResetProgress = [this] { m_status->Show2({}); };
    host.OpenWith = [this](const std::string& program, const std::string& file) {
        // The program's own arguments may follow its name ("kate -n").
        QStringList words = QProcess::splitCommand(QString::fromStdString(program));
        if (words.isEmpty())
            return false;
        const QString name = words.takeFirst();
        return launch(name, words << QString::fromStdString(file));
    };
    host.OpenDefault = [this](const std::string& file) { return openDefault(QString::fromStdString(file)); };
    host.BuiltInViewer = [this](const std::string& file) { builtInViewer(QString::fromStdString(file)); };
    host.BuiltInEditor = [this](const std::string& file) { return builtInEditor(QString::fromStdString(file)); };
    host.Prompt = [this]() -> IPrompt& { return *m_prompt; };
    host.Log = [this](const std::string& text, int colour) { LogLine(text, colour); };
    m_viewEdit = std::make_unique<TViewEdit>(FTP, *m_workflow, m_settings, m_settingsFile, std::move(host), this);
}

void TfrmMain::builtInViewer(const QString& file)
{
    auto* viewer = new TfrmEditor(*m_prompt, this);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    if (viewer->LoadFile(file, true))
        viewer->show();
    else
        viewer->deleteLater();
}

bool TfrmMain::builtInEditor(const QString& file)
{
    if (RunEditor)
        return RunEditor(file);
    TfrmEditor editor(*m_prompt, this);
    return editor.LoadFile(file, false) && editor.exec() == QDialog::Accepted;
}

bool TfrmMain::openUrl(const QUrl& url)
{
    return OpenUrl ? OpenUrl(url) : QDesktopServices::openUrl(url);
}

bool TfrmMain::launch(const QString& program, const QStringList& arguments)
{
    return LaunchProgram ? LaunchProgram(program, arguments) : QProcess::startDetached(program, arguments, m_local->Directory());
}

bool TfrmMain::openDefault(const QString& path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    return OpenUrl ? OpenUrl(url) : QDesktopServices::openUrl(url);
}

namespace {
// The first selected row, when it is a file: viewing and editing need one.
int firstFileRow(const TCorvListView* pane)
{
    const std::vector<int> rows = pane->SelectedRows();
    return !rows.empty() && pane->Kind(rows.front()) == rkFile ? rows.front() : -1;
}
}  // namespace

void TfrmMain::popViewClick()
{
    TCorvListView* pane = ActivePane();
    const int row = firstFileRow(pane);
    if (row < 0)
        return;
    if (pane == m_remote->View()) {
        m_viewEdit->ViewRemote(m_remote->View()->Text(row, 0).toStdString(), m_remote->View()->Size(row));
        return;
    }
    std::vector<std::string> paths;
    for (int r : m_local->View()->SelectedRows())
        if (m_local->View()->Kind(r) == rkFile)
            paths.push_back((m_local->Directory() + m_local->View()->Text(r, 0)).toStdString());
    m_viewEdit->ViewLocal(paths);
}

void TfrmMain::popEditClick()
{
    TCorvListView* pane = ActivePane();
    const int row = firstFileRow(pane);
    if (row < 0)
        return;
    if (pane == m_remote->View())
        m_viewEdit->EditRemote(m_remote->View()->Text(row, 0).toStdString(), m_remote->View()->Size(row));
    else
        m_viewEdit->EditLocal((m_local->Directory() + m_local->View()->Text(row, 0)).toStdString());
}
