// The main window's bookmarks: the menu with the current site's folders,
// adding one, the dialog that edits them, and going to one.

#include "dialogs/BookmarkDialogs.h"
#include "widgets/DialogSize.h"
#include "app/Main.h"

#include <QMenu>

namespace {
constexpr int FixedItems = 4;  // add, edit, a separator, "<主目录>"
}

void TfrmMain::buildBookmarks(QMenu* menu)
{
    mnuBookmarks = menu;
    QAction* add = menu->addAction(QStringLiteral("添加书签(&A)"), this, [this] { mnuAddBookmarkClick(); });
    QAction* edit = menu->addAction(QStringLiteral("编辑书签(&E)"), this, [this] { mnuEditBookmarkClick(); });
    menu->addSeparator();
    mnuHomeBookmark =
        menu->addAction(QStringLiteral("<主目录>"), this, [this] { GoToBookmark(mnuHomeBookmark->data().toString()); });
    connect(menu, &QMenu::aboutToShow, this, [=, this] {
        const bool site = !m_workflow->CurrentSite.empty();
        if (!site && menu->actions().size() > FixedItems)
            LoadBookmarks();  // no site: no bookmarks
        add->setEnabled(site && !m_remote->Directory().empty());
        edit->setEnabled(add->isEnabled());
        mnuHomeBookmark->setEnabled(!mnuHomeBookmark->data().toString().isEmpty());
        mnuHomeBookmark->setToolTip(mnuHomeBookmark->data().toString());
    });
}

void TfrmMain::LoadBookmarks()
{
    const QList<QAction*> items = mnuBookmarks->actions();
    for (qsizetype i = FixedItems; i < items.size(); ++i) {
        mnuBookmarks->removeAction(items[i]);
        items[i]->deleteLater();
    }
    if (m_workflow->CurrentSite.empty())
        return;
    for (const TBookmark& b : ReadBookmarks(m_sites.Stats(), m_workflow->CurrentSite)) {
        const QString path = QString::fromStdString(b.Path);
        QAction* a =
            mnuBookmarks->addAction(QString::fromStdString(b.Name), this, [this, path] { GoToBookmark(path); });
        a->setToolTip(path);
        a->setData(path);
    }
}

void TfrmMain::GoToBookmark(const QString& path)
{
    if (!path.isEmpty() && m_workflow->State() == SessionState::Idle)
        m_workflow->ChangeRemoteDirectory(path.toStdString());
}

void TfrmMain::mnuAddBookmarkClick()
{
    if (m_workflow->CurrentSite.empty() || m_remote->Directory().empty())
        return;
    std::string name;
    if (!m_prompt->AskText("添加书签", "书签名称", name) || name.empty())
        return;
    if (!BookmarkNameFits(name)) {
        m_prompt->ShowMessage(MessageKind::Error, "书签名称不能含有 \":\"");
        return;
    }
    AppendBookmark(m_sites.Stats(), m_workflow->CurrentSite, {name, m_remote->Directory()});
    LoadBookmarks();
}

void TfrmMain::mnuEditBookmarkClick()
{
    if (m_workflow->CurrentSite.empty())
        return;
    TfrmBookmark dialog(ReadBookmarks(m_sites.Stats(), m_workflow->CurrentSite), this);
    new TDialogSize(dialog, m_settingsFile, "Bookmarks");
    const bool ok = BookmarksOpened ? BookmarksOpened(dialog) : dialog.exec() == QDialog::Accepted;
    if (!ok)
        return;
    RewriteBookmarks(m_sites.Stats(), m_workflow->CurrentSite, dialog.Bookmarks());
    LoadBookmarks();
}
