#include "dialogs/BrowseServer.h"

#include "widgets/ListingRows.h"
#include "panes/PaneLogic.h"
#include "widgets/corvview.h"
#include "console/cxGraphics.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QSplitter>
#include <QVBoxLayout>

TfrmBrowseServer::TfrmBrowseServer(const Session& session, IPrompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window), FTP2(this), m_prompt(prompt), m_session(session)
{
    setAttribute(Qt::WA_DeleteOnClose);
    resize(382 * 3 / 2, 353 * 3 / 2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QMenuBar(this);
    layout->setMenuBar(bar);
    mnuBrowse = bar->addMenu(QStringLiteral("浏览(&B)"));
    QAction* queue = mnuBrowse->addAction(QStringLiteral("队列(&Q)"), this, [this] { mnuQueueClick(); });
    queue->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction* edit = mnuBrowse->addAction(QStringLiteral("编辑(&E)"), this, [this] { mnuEditClick(); });
    QAction* view = mnuBrowse->addAction(QStringLiteral("查看(&V)"), this, [this] { mnuViewClick(); });
    QAction* cd = mnuBrowse->addAction(QStringLiteral("更改目录(&C)"), this, [this] { mnuChangeDirClick(); });
    mnuBrowse->addAction(QStringLiteral("关闭(&C)"), this, [this] { mnuCloseClick(); });
    connect(mnuBrowse, &QMenu::aboutToShow, this, [=, this] {
        const bool selected = !Browse->SelectedRows().empty();
        for (QAction* a : {queue, edit, view})
            a->setEnabled(selected);
        cd->setEnabled(!m_busy);
    });

    BrowsePathBox = new QComboBox(this);
    layout->addWidget(BrowsePathBox);
    auto* split = new QSplitter(Qt::Vertical, this);
    Browse = new TCorvListView(split);
    Browse->SetColumns(
        {QStringLiteral("名称"), QStringLiteral("大小"), QStringLiteral("日期"), QStringLiteral("属性")});
    Browse->SetRowSelect(session.selectLine);
    Browse->setContextMenuPolicy(Qt::CustomContextMenu);
    Memo1 = new TWinConsole(split);
    TURLData noLinks = Memo1->URLText();
    noLinks.Enabled = false;
    Memo1->SetURLText(noLinks);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);
    StatusBar = new QLabel(this);
    StatusBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    layout->addWidget(StatusBar);

    auto* popup = new QMenu(this);
    popup->addAction(QStringLiteral("队列(&Q)"), this, [this] { mnuQueueClick(); });
    popup->addAction(QStringLiteral("编辑(&E)"), this, [this] { mnuEditClick(); });
    popup->addAction(QStringLiteral("查看(&V)"), this, [this] { mnuViewClick(); });
    popup->addAction(QStringLiteral("更改目录(&C)"), this, [this] { mnuChangeDirClick(); });
    popup->addAction(QStringLiteral("退出(&X)"), this, [this] { mnuCloseClick(); });
    connect(Browse, &QWidget::customContextMenuRequested, this,
            [this, popup](const QPoint& at) { popup->popup(Browse->mapToGlobal(at)); });
    connect(Browse, &TCorvListView::RowDoubleClicked, this, [this](int row) { BrowseDblClick(row); });
    connect(BrowsePathBox, &QComboBox::activated, this, [this](int i) { BrowsePathBoxChange(i); });

    // ---- the second client, set up from the session
    FTP2.TakeLoginFrom(*session.login);
    FTP2.SKeyLogin = false;  // nobody answers a one-time password's challenge here
    FTP2.InitialDirectory = session.initialDirectory;
    FTP2.OnFtpInfo = [this](TFTPclient*, FtpInfo kind, const std::string& text) { ftpInfo(kind, text); };
    FTP2.OnLoggedIn = [this](TFTPclient* c) {
        if (!c->Success())
            return fail();
        m_loggedIn = true;
        status(QStringLiteral("登录"));
        list();
    };
    FTP2.OnListingDone = [this](TFTPclient*) { listingDone(); };
    FTP2.OnDirectoryChanged = [this](TFTPclient*) { list(); };
    FTP2.OnFileReceived = [this](TFTPclient*) { fileReceived(); };
    FTP2.OnFileStored = [this](TFTPclient*) { list(); };
    FTP2.OnFtpError = [this](TFTPclient*, FtpError, const std::string&) { fail(); };
    FTP2.OnFtpQuit = [this](TFTPclient*) {
        m_loggedIn = false;
        if (!m_closing)
            close();
    };
    status(QStringLiteral("连接到服务器"));
    setBusy(true);
    FTP2.Connect();
}

TfrmBrowseServer::~TfrmBrowseServer()
{
    // No event of the client may reach a window that is going.
    FTP2.OnFtpInfo = nullptr;
    FTP2.OnFtpError = nullptr;
    FTP2.OnFtpQuit = nullptr;
    FTP2.Close();
}

void TfrmBrowseServer::setBusy(bool busy)
{
    m_busy = busy;
    BrowsePathBox->setEnabled(!busy);
    if (busy)
        Browse->setCursor(Qt::WaitCursor);
    else
        Browse->unsetCursor();
}

void TfrmBrowseServer::status(const QString& text)
{
    StatusBar->setText(text);
}

void TfrmBrowseServer::fail()
{
    if (m_closing)
        return;
    m_loggedIn = false;
    setBusy(false);
    m_prompt.ShowMessage(MessageKind::Error, "无法浏览服务器");
    // The client's quit closes the window; one that is not connected closes now.
    if (FTP2.Connected())
        FTP2.Quit();
    else
        close();
}

void TfrmBrowseServer::ftpInfo(FtpInfo kind, const std::string& text)
{
    switch (kind) {
        case fiConnected:
            status(QStringLiteral("连接到服务器"));
            break;
        case fiDisconnected:
            if (m_loggedIn)
                m_prompt.ShowMessage(MessageKind::Error, "服务器断开.");
            break;
        case fiAttemptsExhausted:
            fail();
            break;
        case fiReplyLine:
        case fiCommandSent: {
            const QString line = text.compare(0, 4, "PASS") == 0
                                     ? QStringLiteral("PASS xxxxxx")
                                     : QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
            Memo1->AddColoredLine(line, palette().color(QPalette::WindowText));
            break;
        }
        case fiListingLine: {
            // The main window's rules for a row, without a name filter.
            TListingRules rules;
            rules.serverType = FTP2.ServerType;
            rules.showLinks = m_session.showLinks;
            rules.linksAsFiles = m_session.resolveFile;
            rules.mlsd = FTP2.ListingLines.Mlsd;
            rules.names = FTP2.SharedNameCodec();
            TCorvRow row;
            if (ListingRowOf(m_parser, rules, text, row, m_sharedTexts))
                Browse->AddListingRow(std::move(row));
            break;
        }
        default:
            break;
    }
}

void TfrmBrowseServer::list()
{
    setBusy(true);
    Browse->BeginUpdate();
    Browse->Clear();
    m_parser.BeginListing();
    FTP2.List();
}

void TfrmBrowseServer::listingDone()
{
    m_path = FTP2.InitialDirectory.empty() ? std::string("/") : FTP2.InitialDirectory;
    if (m_path.size() > 1 && m_path.back() != '/')
        m_path += '/';
    BrowsePathBox->clear();
    // Shown as text, each item holding the server's bytes of its folder.
    for (const std::string& prefix : RemotePathPrefixes(m_path))
        BrowsePathBox->addItem(FTP2.NameCodec().DecodePath(prefix), QByteArray::fromStdString(prefix));
    BrowsePathBox->setCurrentIndex(0);
    if (m_path.size() > 1)
        Browse->AddRow(rkParent, {QStringLiteral(".."), QString(), QString(), QString()}, true);
    Browse->SetSort(0, true);
    Browse->SortNow();
    Browse->EndUpdate();
    // Columns as wide as their texts (the first rows are enough to tell).
    const QFontMetrics m(Browse->font());
    for (int c = 0; c < Browse->ColumnCount(); ++c) {
        int width = m.horizontalAdvance(Browse->ColumnCaption(c)) + 24;
        for (int r = 0; r < std::min(Browse->RowCount(), 2000); ++r)
            width = std::max(width, m.horizontalAdvance(Browse->Text(r, c)) + (c == 0 ? 40 : 16));
        Browse->SetColumnWidth(c, width);
    }
    setBusy(false);
    status(QStringLiteral("就绪"));
}

void TfrmBrowseServer::changeDir(const std::string& dir)
{
    setBusy(true);
    status(QStringLiteral("更改目录"));
    FTP2.ChangeDir(dir);
}

void TfrmBrowseServer::BrowsePathBoxChange(int index)
{
    if (m_busy || index < 0)
        return;
    changeDir(BrowsePathBox->itemData(index).toByteArray().toStdString());
}

void TfrmBrowseServer::BrowseDblClick(int row)
{
    if (m_busy || row < 0 || row >= Browse->RowCount())
        return;
    const int kind = Browse->Kind(row);
    const std::string name = Browse->NameBytes(row);
    if (kind == rkParent) {
        std::string parent = m_path.substr(0, m_path.size() - 1);
        parent = parent.substr(0, parent.rfind('/') + 1);
        changeDir(parent.empty() ? "/" : parent);
    } else if (kind == rkFile) {
        Browse->SelectWhere([row](int r) { return r == row; });
        mnuQueueClick();
    } else {
        changeDir(m_path + name);
    }
}

void TfrmBrowseServer::mnuQueueClick()
{
    std::vector<TPaneItem> rows;
    for (int r : Browse->SelectedRows())
        if (Browse->Kind(r) != rkParent)
            rows.push_back(
                {Browse->NameBytes(r), Browse->Kind(r) != rkFile, Browse->Size(r), Browse->Date(r)});
    if (!rows.empty() && OnQueue)
        OnQueue(m_path, rows);
}

void TfrmBrowseServer::fetch(bool edit)
{
    const std::vector<int> selected = Browse->SelectedRows();
    if (m_busy || selected.empty() || Browse->Kind(selected.front()) != rkFile)
        return;
    const std::string name = Browse->NameBytes(selected.front());
    // The name comes from the server: it must stay one name inside our folder.
    const QString localName = Browse->Text(selected.front(), 0);  // GBK bytes are no name for a UTF-8 disk
    if (!SafeEntryName(name) || !SafeEntryName(localName.toStdString()) || !m_temp.isValid()) {
        status(QStringLiteral("无效的文件名"));
        return;
    }
    status(QString::fromUtf8(edit ? "编辑:" : "查看:") + Browse->Text(selected.front(), 0));
    m_editMode = edit;
    setBusy(true);
    FTP2.TransferMode = AsciiTransfer;
    FTP2.LocalFile = m_temp.filePath(localName).toStdString();
    FTP2.RemoteFile = m_path + name;
    FTP2.ResumePos = 0;
    FTP2.Download(false, false, 0);
}

void TfrmBrowseServer::mnuViewClick()
{
    fetch(false);
}

void TfrmBrowseServer::mnuEditClick()
{
    fetch(true);
}

void TfrmBrowseServer::fileReceived()
{
    setBusy(false);
    status(QStringLiteral("就绪"));
    if (!FTP2.Success())
        return;
    const QString file = QString::fromStdString(FTP2.LocalFile);
    if (!m_editMode) {
        if (RunViewer)
            RunViewer(file);
        return;
    }
    if (!RunEditor || !RunEditor(file))
        return;
    status(QStringLiteral("更新:") + QString::fromStdString(FTP2.RemoteFile));
    setBusy(true);
    FTP2.ResumePos = 0;
    FTP2.Upload(false);
}

void TfrmBrowseServer::mnuChangeDirClick()
{
    if (m_busy)
        return;
    std::string dir = m_path;
    if (!m_prompt.AskText("更改目录", "新建目录", dir) || dir.empty())
        return;
    if (dir.back() != '/')
        dir += '/';
    changeDir(dir);
}

void TfrmBrowseServer::mnuCloseClick()
{
    m_loggedIn = false;
    if (FTP2.Connected())
        FTP2.Quit();  // the window closes on the client's quit
    else
        close();
}

void TfrmBrowseServer::closeEvent(QCloseEvent* event)
{
    m_closing = true;
    if (FTP2.Connected()) {
        FTP2.SendRaw("QUIT");
        FTP2.Close();
    }
    event->accept();
}
