#include "dialogs/SiteManager.h"

#include "ftp/NameCodec.h"
#include "panes/PaneLogic.h"
#include "common/Text.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const char* const TransModeCaptions[] = {"ASCII", "二进制", "自动", "(用户预设)"};
const QString SavePassCaption = QStringLiteral("保存密码");
const QString NoPassCaption = QStringLiteral("没有密码");

Qt::CheckState checkOf(TriState t)
{
    return t == TriState::On ? Qt::Checked : t == TriState::Off ? Qt::Unchecked : Qt::PartiallyChecked;
}

TriState triOf(const QCheckBox* box)
{
    const Qt::CheckState s = box->checkState();
    return s == Qt::Checked ? TriState::On : s == Qt::Unchecked ? TriState::Off : TriState::UseSetting;
}

QString countText(double v)
{
    return PaneSizeText(static_cast<int64_t>(v));
}
}  // namespace

TfrmSite::TfrmSite(TSiteDatabase& sites, IPrompt& prompt, bool autoSave, Mode mode, QWidget* parent)
    : QDialog(parent), m_sites(sites), m_prompt(prompt), m_autoSave(autoSave), m_mode(mode)
{
    setWindowTitle(QStringLiteral("站点管理器"));
    auto* layout = new QHBoxLayout(this);

    auto* left = new QVBoxLayout;
    GroupList = new QComboBox(this);
    GroupList->setObjectName(QStringLiteral("GroupList"));
    SiteList = new QListWidget(this);
    SiteList->setObjectName(QStringLiteral("SiteList"));
    SiteList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    SiteList->setContextMenuPolicy(Qt::CustomContextMenu);
    left->addWidget(GroupList);
    left->addWidget(SiteList, 1);
    auto* groupButtons = new QGridLayout;
    btnAddGroup = new QPushButton(QStringLiteral("添加组(&D)"), this);
    btnDeleteGroup = new QPushButton(QStringLiteral("删除组(&E)"), this);
    btnAddSite = new QPushButton(QStringLiteral("添加站点(&N)"), this);
    btnDeleteSite = new QPushButton(QStringLiteral("删除站点(&S)"), this);
    groupButtons->addWidget(btnAddGroup, 0, 0);
    groupButtons->addWidget(btnDeleteGroup, 0, 1);
    groupButtons->addWidget(btnAddSite, 1, 0);
    groupButtons->addWidget(btnDeleteSite, 1, 1);
    left->addLayout(groupButtons);
    layout->addLayout(left);

    auto* right = new QVBoxLayout;
    buildDetails();
    right->addWidget(Details, 1);
    auto* buttons = new QHBoxLayout;
    btnImport = new QPushButton(QStringLiteral("导入(&I)"), this);
    btnApply = new QPushButton(QStringLiteral("应用(&A)"), this);
    btnConnect = new QPushButton(QStringLiteral("连接(&O)"), this);
    btnExit = new QPushButton(QStringLiteral("退出(&X)"), this);
    btnConnect->setDefault(true);
    buttons->addWidget(btnImport);
    buttons->addStretch();
    for (QPushButton* b : {btnApply, btnConnect, btnExit})
        buttons->addWidget(b);
    right->addLayout(buttons);
    layout->addLayout(right, 1);

    SiteMenu = new QMenu(this);
    mnuMoveTo = SiteMenu->addMenu(QStringLiteral("移到"));
    SiteMenu->addSeparator();
    mnuDelete = SiteMenu->addAction(QStringLiteral("删除"), this, [this] { btnDeleteSiteClick(); });

    connect(GroupList, &QComboBox::activated, this, [this] { GroupListChange(); });
    connect(SiteList, &QListWidget::itemClicked, this, [this] { SiteListClick(); });
    connect(SiteList, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        mnuDelete->setEnabled(!SelectedSites().empty());
        SiteMenu->popup(SiteList->viewport()->mapToGlobal(at));
    });
    connect(btnAddGroup, &QPushButton::clicked, this, [this] { btnAddGroupClick(); });
    connect(btnDeleteGroup, &QPushButton::clicked, this, [this] { btnDeleteGroupClick(); });
    connect(btnAddSite, &QPushButton::clicked, this, [this] { btnAddSiteClick(); });
    connect(btnDeleteSite, &QPushButton::clicked, this, [this] { btnDeleteSiteClick(); });
    connect(btnImport, &QPushButton::clicked, this, [this] { btnImportClick(); });
    connect(btnApply, &QPushButton::clicked, this, [this] { SaveSite(); });
    connect(btnConnect, &QPushButton::clicked, this, [this] { btnConnectClick(); });
    connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
    connect(SiteList, &QListWidget::itemDoubleClicked, this, [this] { btnConnectClick(); });
    if (m_mode == Mode::TargetSite)
        buildTargetMode();
    else
        resize(560, 420);
}

void TfrmSite::buildDetails()
{
    Details = new QTabWidget(this);
    auto line = [this] { return new QLineEdit(this); };

    // ---- general
    auto* general = new QWidget(this);
    auto* g = new QFormLayout(general);
    auto* nameRow = new QHBoxLayout;
    txtSiteName = line();
    txtSiteName->setReadOnly(true);
    btnRename = new QPushButton(QStringLiteral("R"), this);
    btnRename->setToolTip(QStringLiteral("重命名站点"));
    btnRename->setFixedWidth(btnRename->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 8);
    nameRow->addWidget(txtSiteName);
    nameRow->addWidget(btnRename);
    g->addRow(QStringLiteral("站点名称"), nameRow);
    txtServer = line();
    txtPort = line();
    cboProtocol = new QComboBox(this);
    cboProtocol->setObjectName(QStringLiteral("cboProtocol"));
    cboProtocol->addItem(QStringLiteral("FTP"), QString());
    cboProtocol->addItem(QStringLiteral("SFTP (SSH 文件传输)"), QStringLiteral("SFTP"));
    g->addRow(QStringLiteral("协议"), cboProtocol);
    g->addRow(QStringLiteral("地址"), txtServer);
    g->addRow(QStringLiteral("端口"), txtPort);
    txtUsername = line();
    chkAnonymous = new QCheckBox(QStringLiteral("匿名"), this);
    auto* userRow = new QHBoxLayout;
    userRow->addWidget(txtUsername);
    userRow->addWidget(chkAnonymous);
    g->addRow(QStringLiteral("用户名"), userRow);
    txtPassword = line();
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->installEventFilter(this);
    chkSavePass = new QCheckBox(SavePassCaption, this);
    // What "saved" means, so nobody takes it for more than it is.
    chkSavePass->setToolTip(QStringLiteral("有密钥环 (Secret Service) 运行时, 密码保存在密钥环中, sites.ini "
                                           "只留下标记; 没有时以扰码形式保存在 sites.ini 中. 扰码不是加密: "
                                           "能读取这个文件的人就能还原密码."));
    txtPassword->setToolTip(chkSavePass->toolTip());
    auto* passRow = new QHBoxLayout;
    passRow->addWidget(txtPassword);
    passRow->addWidget(chkSavePass);
    g->addRow(QStringLiteral("密码"), passRow);
    txtLocalPath = line();
    btnLocalPath = new QPushButton(QStringLiteral("..."), this);
    btnLocalPath->setFixedWidth(btnRename->width());
    auto* localRow = new QHBoxLayout;
    localRow->addWidget(txtLocalPath);
    localRow->addWidget(btnLocalPath);
    g->addRow(QStringLiteral("本地路径"), localRow);
    txtRemotePath = line();
    g->addRow(QStringLiteral("远程路径"), txtRemotePath);
    SiteMemo = new QPlainTextEdit(this);
    SiteMemo->setTabChangesFocus(true);  // Tab moves on, as in every other field
    SiteMemo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(SiteMemo, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(QStringLiteral("复制(&C)"), SiteMemo, &QPlainTextEdit::copy);
        menu.addAction(QStringLiteral("粘贴(&P)"), SiteMemo, &QPlainTextEdit::paste);
        menu.addAction(QStringLiteral("清除(&L)"), SiteMemo, &QPlainTextEdit::clear);
        menu.exec(SiteMemo->viewport()->mapToGlobal(at));
    });
    g->addRow(QStringLiteral("注释"), SiteMemo);
    Details->addTab(general, QStringLiteral("常规"));

    // ---- advanced
    auto* advanced = new QWidget(this);
    auto* a = new QGridLayout(advanced);
    auto* fields = new QFormLayout;
    cboServerType = new QComboBox(this);
    for (const std::string& t : ServerTypeListTexts())
        cboServerType->addItem(QString::fromStdString(t));
    txtAccount = line();
    txtTimeout = line();
    txtLocalFilter = line();
    txtRemoteFilter = line();
    txtRetry = line();
    cboEncryption = new QComboBox(this);
    cboEncryption->setObjectName(QStringLiteral("cboEncryption"));
    // The stored values in the items' data: files keep the words, not the order.
    cboEncryption->addItem(QStringLiteral("按首选项 (服务器提供时使用 TLS)"), QString());
    cboEncryption->addItem(QStringLiteral("只用明文 FTP"), QStringLiteral("off"));
    cboEncryption->addItem(QStringLiteral("要求显式 TLS (AUTH TLS)"), QStringLiteral("explicit"));
    cboEncryption->addItem(QStringLiteral("要求隐式 TLS (端口 990)"), QStringLiteral("implicit"));
    cboCharset = new QComboBox(this);
    cboCharset->setObjectName(QStringLiteral("cboCharset"));
    cboCharset->addItem(QStringLiteral("自动 (UTF-8, 否则 GB18030)"), QString());
    for (int c = 1; c < NameCharsetCount; ++c) {
        const QString key = QString::fromLatin1(NameCharsetKey(static_cast<TNameCharset>(c)));
        cboCharset->addItem(key == QLatin1String("GB18030") ? QStringLiteral("GB18030 (GBK, GB2312)") : key, key);
    }
    cboListing = new QComboBox(this);
    cboListing->setObjectName(QStringLiteral("cboListing"));
    cboListing->addItem(QStringLiteral("自动 (服务器提供时用 MLSD)"), QString());
    cboListing->addItem(QStringLiteral("只用 LIST"), QStringLiteral("LIST"));
    fields->addRow(QStringLiteral("服务器类型"), cboServerType);
    fields->addRow(QStringLiteral("加密"), cboEncryption);
    fields->addRow(QStringLiteral("文件名编码"), cboCharset);
    fields->addRow(QStringLiteral("目录列表"), cboListing);
    txtMaxTransfers = line();
    txtDownloadLimit = line();
    txtUploadLimit = line();
    for (QLineEdit* e : {txtMaxTransfers, txtDownloadLimit, txtUploadLimit})
        e->setPlaceholderText(QStringLiteral("按首选项"));
    fields->addRow(QStringLiteral("同时传输的文件数"), txtMaxTransfers);
    fields->addRow(QStringLiteral("下载限速 (KiB/s)"), txtDownloadLimit);
    fields->addRow(QStringLiteral("上传限速 (KiB/s)"), txtUploadLimit);
    fields->addRow(QStringLiteral("帐号"), txtAccount);
    fields->addRow(QStringLiteral("超时"), txtTimeout);
    fields->addRow(QStringLiteral("本地过滤"), txtLocalFilter);
    fields->addRow(QStringLiteral("远程过滤"), txtRemoteFilter);
    fields->addRow(QStringLiteral("重试"), txtRetry);
    a->addLayout(fields, 0, 0);
    grpTransMode = new QGroupBox(QStringLiteral("传输模式"), this);
    auto* modes = new QVBoxLayout(grpTransMode);
    for (size_t i = 0; i < radTransMode.size(); ++i) {
        radTransMode[i] = new QRadioButton(QString::fromUtf8(TransModeCaptions[i]), grpTransMode);
        modes->addWidget(radTransMode[i]);
    }
    a->addWidget(grpTransMode, 0, 1);
    auto box = [this](const char* caption, bool tri) {
        auto* c = new QCheckBox(QString::fromUtf8(caption), this);
        c->setTristate(tri);
        return c;
    };
    chkAntiIdle = box("反空闲", true);
    chkRestore = box("恢复断开的传输", true);
    chkLogSession = box("日志对话", true);
    chkRenameTypes = box("重命名类型", false);
    chkShowHidden = box("显示隐藏文件", true);
    chkPasv = box("使用 PASV 模式", true);
    chkResume = box("站点支持续传", true);
    chkSKey = box("使用 S/Key", false);
    chkAppe = box("使用 APPE 续传", true);
    chkNoProxy = box("禁止代理", false);
    auto* options = new QGridLayout;
    const QCheckBox* order[] = {chkAntiIdle, chkRestore, chkLogSession, chkRenameTypes, chkShowHidden,
                                chkPasv,     chkResume,  chkSKey,       chkAppe,        chkNoProxy};
    for (int i = 0; i < 10; ++i)
        options->addWidget(const_cast<QCheckBox*>(order[i]), i / 2, i % 2);
    a->addLayout(options, 1, 0, 1, 2);
    a->setRowStretch(2, 1);
    Details->addTab(advanced, QStringLiteral("高级"));

    // ---- statistics
    auto* stats = new QWidget(this);
    auto* s = new QFormLayout(stats);
    auto label = [this] { return new QLabel(this); };
    lblConnections = label();
    lblLastConnect = label();
    lblFilesUp = label();
    lblFilesDown = label();
    lblBytesUp = label();
    lblBytesDown = label();
    s->addRow(QStringLiteral("全部连接:"), lblConnections);
    s->addRow(QStringLiteral("上次连接:"), lblLastConnect);
    s->addRow(QStringLiteral("上传文件:"), lblFilesUp);
    s->addRow(QStringLiteral("下载文件:"), lblFilesDown);
    s->addRow(QStringLiteral("上传字节:"), lblBytesUp);
    s->addRow(QStringLiteral("下载字节:"), lblBytesDown);
    btnReset = new QPushButton(QStringLiteral("重置(&R)"), this);
    s->addRow(QString(), btnReset);
    Details->addTab(stats, QStringLiteral("站点状态"));

    // Any change of a field marks the site modified.
    for (QLineEdit* e : {txtServer, txtPort, txtUsername, txtLocalPath, txtRemotePath, txtAccount, txtTimeout,
                         txtLocalFilter, txtRemoteFilter, txtRetry, txtMaxTransfers, txtDownloadLimit, txtUploadLimit})
        connect(e, &QLineEdit::textChanged, this, [this] { changed(); });
    connect(txtPassword, &QLineEdit::textChanged, this, [this](const QString& text) {
        chkSavePass->setText(text.isEmpty() ? NoPassCaption : SavePassCaption);
        changed();
    });
    connect(SiteMemo, &QPlainTextEdit::textChanged, this, [this] { changed(); });
    connect(cboServerType, &QComboBox::currentIndexChanged, this, [this] { changed(); });
    connect(cboEncryption, &QComboBox::currentIndexChanged, this, [this] { changed(); });
    connect(cboProtocol, &QComboBox::currentIndexChanged, this, [this](int index) {
        // The other protocol's usual port follows the choice; a port of the
        // user's own stays. TLS is FTP's.
        const bool sftp = index == 1;
        if (!m_loading) {
            const QString port = txtPort->text().trimmed();
            if (sftp && (port.isEmpty() || port == QLatin1String("21")))
                txtPort->setText(QStringLiteral("22"));
            else if (!sftp && (port.isEmpty() || port == QLatin1String("22")))
                txtPort->setText(QStringLiteral("21"));
        }
        cboEncryption->setEnabled(!sftp);
        changed();
    });
    connect(cboCharset, &QComboBox::currentIndexChanged, this, [this] { changed(); });
    connect(cboListing, &QComboBox::currentIndexChanged, this, [this] { changed(); });
    for (QRadioButton* r : radTransMode)
        connect(r, &QRadioButton::toggled, this, [this] { changed(); });
    for (QCheckBox* c : {chkSavePass, chkAntiIdle, chkRestore, chkLogSession, chkRenameTypes, chkShowHidden, chkPasv,
                         chkResume, chkSKey, chkAppe, chkNoProxy})
        connect(c, &QCheckBox::stateChanged, this, [this] { changed(); });
    connect(chkAnonymous, &QCheckBox::toggled, this, [this](bool on) { anonymousToggled(on); });
    connect(btnRename, &QPushButton::clicked, this, [this] { btnRenameClick(); });
    connect(btnLocalPath, &QPushButton::clicked, this, [this] { btnLocalPathClick(); });
    connect(btnReset, &QPushButton::clicked, this, [this] { btnResetClick(); });
}

void TfrmSite::buildTargetMode()
{
    setWindowTitle(QStringLiteral("目标站点"));
    btnAddSite->hide();
    btnDeleteSite->hide();
    btnImport->hide();
    btnApply->hide();
    btnConnect->hide();
    btnExit->hide();
    Details->hide();
    SiteList->setFixedHeight(264);
    btnAddGroup->setText(QStringLiteral("OK"));
    btnDeleteGroup->setText(QStringLiteral("Cancel"));
    btnAddGroup->setDefault(true);
    SiteList->setContextMenuPolicy(Qt::NoContextMenu);
    setFixedWidth(std::max(194, sizeHint().width()));
}

// ---------------------------------------------------------------- filling

void TfrmSite::Opening(const std::string& site)
{
    btnApply->hide();
    btnConnect->setEnabled(false);
    btnDeleteSite->setEnabled(false);
    setDetailsVisible(false);
    m_groups = m_sites.Groups();
    if (m_groups.empty()) {
        m_groups = {"我的服务器"};
        writeGroups();
    }
    SortNames(m_groups);
    int group = m_sites.Sites().ReadInteger("_LastData_", "Group", -1);
    std::string last = m_sites.Sites().ReadString("_LastData_", "Site");
    if (!site.empty()) {
        for (size_t g = 0; g < m_groups.size(); ++g) {
            const std::vector<std::string> names = m_sites.GroupSites(m_groups[g]);
            if (std::find(names.begin(), names.end(), site) != names.end()) {
                group = static_cast<int>(g);
                last = site;
                break;
            }
        }
    }
    fillGroups(group >= 0 && group < static_cast<int>(m_groups.size()) ? group : 0);
    fillSites();
    const QList<QListWidgetItem*> found = SiteList->findItems(QString::fromStdString(last), Qt::MatchExactly);
    QListWidgetItem* item = !found.isEmpty() ? found.front() : SiteList->item(0);
    if (item) {
        SiteList->setCurrentItem(item);
        if (m_mode == Mode::Normal)
            ShowSite(item->text().toStdString());
        SiteList->setFocus();
    }
}

void TfrmSite::fillGroups(int select)
{
    GroupList->clear();
    for (const std::string& g : m_groups)
        GroupList->addItem(QString::fromStdString(g));
    GroupList->setCurrentIndex(m_groups.empty() ? -1 : std::clamp(select, 0, static_cast<int>(m_groups.size()) - 1));
    btnDeleteGroup->setEnabled(!m_groups.empty() || m_mode == Mode::TargetSite);
    btnAddSite->setEnabled(!m_groups.empty());
    rebuildMoveMenu();
}

void TfrmSite::fillSites()
{
    SiteList->clear();
    std::vector<std::string> names = m_sites.GroupSites(currentGroup());
    SortNames(names);
    for (const std::string& n : names)
        SiteList->addItem(QString::fromStdString(n));
}

void TfrmSite::rebuildMoveMenu()
{
    mnuMoveTo->clear();
    for (size_t i = 0; i < m_groups.size(); ++i) {
        QString caption = QString::fromStdString(m_groups[i]);
        QAction* a = mnuMoveTo->addAction(caption.replace(QLatin1Char('&'), QStringLiteral("&&")));
        const int group = static_cast<int>(i);
        connect(a, &QAction::triggered, this, [this, group] { MoveSites(group); });
    }
}

std::string TfrmSite::currentGroup() const
{
    const int i = GroupList->currentIndex();
    return i >= 0 && i < static_cast<int>(m_groups.size()) ? m_groups[static_cast<size_t>(i)] : std::string();
}

std::vector<std::string> TfrmSite::SelectedSites() const
{
    std::vector<std::string> names;
    for (int i = 0; i < SiteList->count(); ++i)
        if (SiteList->item(i)->isSelected())
            names.push_back(SiteList->item(i)->text().toStdString());
    return names;
}

void TfrmSite::setDetailsVisible(bool visible)
{
    if (m_mode == Mode::Normal)
        Details->setVisible(visible);
}

void TfrmSite::resetFields()
{
    m_loading = true;
    m_shown.clear();
    m_resume.clear();
    m_unreadKeyring.clear();
    txtPassword->setPlaceholderText(QString());
    for (QLineEdit* e : {txtSiteName, txtServer, txtUsername, txtPassword, txtAccount, txtLocalPath, txtRemotePath,
                         txtTimeout, txtRetry, txtMaxTransfers, txtDownloadLimit, txtUploadLimit})
        e->clear();
    txtLocalFilter->setText(QStringLiteral("*.*"));
    txtRemoteFilter->setText(QStringLiteral("*.*"));
    txtPort->setText(QStringLiteral("21"));
    cboProtocol->setCurrentIndex(0);
    cboEncryption->setCurrentIndex(0);
    cboEncryption->setEnabled(true);
    cboCharset->setCurrentIndex(0);
    cboListing->setCurrentIndex(0);
    SiteMemo->clear();
    chkAnonymous->setChecked(true);
    anonymousToggled(true);
    chkSavePass->setChecked(false);
    txtPassword->setEchoMode(QLineEdit::Password);
    radTransMode[3]->setChecked(true);
    for (QCheckBox* c : {chkAntiIdle, chkRestore, chkLogSession, chkShowHidden, chkPasv, chkResume, chkAppe})
        c->setCheckState(Qt::PartiallyChecked);
    for (QCheckBox* c : {chkRenameTypes, chkSKey, chkNoProxy})
        c->setChecked(false);
    cboServerType->setCurrentIndex(0);
    m_modified = false;
    m_loading = false;
}

void TfrmSite::ShowSite(std::string name)
{
    resetFields();
    const std::optional<TSiteRecord> site = m_sites.ReadSite(name);
    m_loading = true;
    m_shown = name;
    if (site) {
        txtServer->setText(QString::fromStdString(site->IP));
        txtPort->setText(QString::fromStdString(site->Port));
        chkAnonymous->setChecked(!site->User);
        anonymousToggled(!site->User);
        if (site->User)
            txtUsername->setText(QString::fromStdString(*site->User));
        const bool emptyPass = site->Pass && *site->Pass == "\x7f";
        if ((site->Pass && !emptyPass) || !site->User) {
            txtPassword->setText(QString::fromStdString(site->Password()));
            chkSavePass->setChecked(true);
        } else if (!site->UnreadKeyring.empty()) {
            // Saving the site leaves that password where it is unless one is typed.
            m_unreadKeyring = site->UnreadKeyring;
            txtPassword->setPlaceholderText(QStringLiteral("保存在密钥环中, 现在无法读取"));
            chkSavePass->setChecked(true);
        } else {
            chkSavePass->setText(NoPassCaption);
            chkSavePass->setChecked(emptyPass);
        }
        txtAccount->setText(QString::fromStdString(site->Account));
        txtLocalPath->setText(QString::fromStdString(site->LocalDir));
        txtRemotePath->setText(QString::fromStdString(site->RemoteDir));
        txtLocalFilter->setText(QString::fromStdString(site->LocalFilter));
        txtRemoteFilter->setText(QString::fromStdString(site->RemoteFilter));
        txtRetry->setText(QString::fromStdString(site->Retry));
        txtTimeout->setText(QString::fromStdString(site->Timeout));
        cboProtocol->setCurrentIndex(std::max(0, cboProtocol->findData(QString::fromStdString(site->Protocol))));
        cboEncryption->setEnabled(cboProtocol->currentIndex() == 0);
        cboEncryption->setCurrentIndex(std::max(0, cboEncryption->findData(QString::fromStdString(site->Tls))));
        cboCharset->setCurrentIndex(std::max(0, cboCharset->findData(QString::fromStdString(site->Charset))));
        cboListing->setCurrentIndex(std::max(0, cboListing->findData(QString::fromStdString(site->Listing))));
        txtMaxTransfers->setText(QString::fromStdString(site->MaxTransfers));
        txtDownloadLimit->setText(QString::fromStdString(site->DownloadLimit));
        txtUploadLimit->setText(QString::fromStdString(site->UploadLimit));
        m_resume = site->Resume;
        const TSiteOptions o = TSiteOptions::Decode(site->Options);
        radTransMode[static_cast<size_t>(std::clamp(o.TransferMode, 0, 3))]->setChecked(true);
        chkAntiIdle->setCheckState(checkOf(o.AntiIdle));
        chkRestore->setCheckState(checkOf(o.RestoreTransfer));
        chkLogSession->setCheckState(checkOf(o.LogSession));
        chkRenameTypes->setChecked(o.RenameTypes);
        chkShowHidden->setCheckState(checkOf(o.ShowHidden));
        cboServerType->setCurrentIndex(std::clamp(o.ServerTypeIndex, 0, cboServerType->count() - 1));
        chkPasv->setCheckState(checkOf(o.UsePasv));
        chkResume->setCheckState(checkOf(static_cast<TriState>(std::clamp(o.ResumeSupport, 0, 2))));
        chkSKey->setChecked(o.SKey);
        chkAppe->setCheckState(checkOf(o.UseAppe));
        chkNoProxy->setChecked(o.NoProxy);
        QStringList lines;
        for (const std::string& l : site->Comment)
            lines << QString::fromStdString(l);
        SiteMemo->setPlainText(lines.join(QLatin1Char('\n')));
    }
    txtSiteName->setText(QString::fromStdString(name));
    m_modified = false;
    m_loading = false;
    setDetailsVisible(true);
    btnApply->setVisible(m_mode == Mode::Normal);
    btnDeleteSite->setEnabled(true);
    btnConnect->setEnabled(true);
    updateButtons();
    showStats();
}

void TfrmSite::showStats()
{
    const TSiteStats s = m_sites.ReadStats(m_shown);
    lblConnections->setText(countText(s.ConnectCount));
    lblLastConnect->setText(s.LastConnect.empty() ? QStringLiteral("未知") : QString::fromStdString(s.LastConnect));
    lblFilesUp->setText(countText(s.FilesUp));
    lblFilesDown->setText(countText(s.FilesDown));
    lblBytesUp->setText(countText(s.BytesUp));
    lblBytesDown->setText(countText(s.BytesDown));
}

// ---------------------------------------------------------------- editing

void TfrmSite::changed()
{
    if (m_loading)
        return;
    m_modified = true;
    updateButtons();
}

void TfrmSite::updateButtons()
{
    // A site without an address is no site (it would vanish): nothing to apply then.
    if (!txtServer->text().isEmpty() && !txtSiteName->text().isEmpty()) {
        btnApply->setEnabled(m_modified);
        btnConnect->setEnabled(true);
    } else {
        btnApply->setEnabled(false);
        btnConnect->setEnabled(false);
    }
}

void TfrmSite::anonymousToggled(bool on)
{
    txtUsername->setEnabled(!on);
    txtPassword->setEnabled(!on);
    if (on) {
        txtUsername->clear();
        txtPassword->clear();
    }
    chkSavePass->setVisible(!on);
    changed();
}

void TfrmSite::PasswordMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    if (button == Qt::RightButton && (modifiers & Qt::ShiftModifier) && (modifiers & Qt::ControlModifier))
        txtPassword->setEchoMode(QLineEdit::Normal);
}

bool TfrmSite::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtPassword && event->type() == QEvent::MouseButtonPress) {
        const auto* e = static_cast<QMouseEvent*>(event);
        PasswordMouseDown(e->button(), e->modifiers());
    }
    return QDialog::eventFilter(watched, event);
}

TSiteRecord TfrmSite::recordFromFields(const std::string& name) const
{
    TSiteRecord r;
    r.Name = name;
    r.IP = txtServer->text().toStdString();
    TSiteOptions o;
    o.TransferMode = 3;
    for (size_t i = 0; i < radTransMode.size(); ++i)
        if (radTransMode[i]->isChecked())
            o.TransferMode = static_cast<int>(i);
    o.AntiIdle = triOf(chkAntiIdle);
    o.RestoreTransfer = triOf(chkRestore);
    o.LogSession = triOf(chkLogSession);
    o.RenameTypes = chkRenameTypes->isChecked();
    o.ShowHidden = triOf(chkShowHidden);
    o.ServerTypeIndex = std::max(0, cboServerType->currentIndex());
    o.UsePasv = triOf(chkPasv);
    o.ResumeSupport = static_cast<int>(triOf(chkResume));
    o.SKey = chkSKey->isChecked();
    o.UseAppe = triOf(chkAppe);
    o.NoProxy = chkNoProxy->isChecked();
    r.Options = o.Encode();
    const bool anonymous = chkAnonymous->isChecked();
    if (!anonymous)
        r.User = txtUsername->text().isEmpty() ? std::string("?") : txtUsername->text().toStdString();
    // A password is kept only when the user says so: unticking "保存密码"
    // leaves it to be asked at connect.
    if (!txtPassword->text().isEmpty()) {
        if (anonymous || chkSavePass->isChecked())
            r.SetPassword(txtPassword->text().toStdString());
    } else if (chkSavePass->isChecked() && !anonymous && !m_unreadKeyring.empty()) {
        r.UnreadKeyring = m_unreadKeyring;
    } else if (chkSavePass->isChecked() && !anonymous) {
        r.Pass = std::string("\x7f");
    }
    r.Account = txtAccount->text().toStdString();
    r.Port = txtPort->text().toStdString();
    r.LocalDir = txtLocalPath->text().toStdString();
    r.RemoteDir = txtRemotePath->text().toStdString();
    r.LocalFilter = txtLocalFilter->text().toStdString();
    r.RemoteFilter = txtRemoteFilter->text().toStdString();
    r.Resume = m_resume;
    r.Retry = txtRetry->text().toStdString();
    r.Timeout = txtTimeout->text().toStdString();
    r.Protocol = cboProtocol->currentData().toString().toStdString();
    r.Tls = cboEncryption->currentData().toString().toStdString();
    r.Charset = cboCharset->currentData().toString().toStdString();
    r.Listing = cboListing->currentData().toString().toStdString();
    r.MaxTransfers = txtMaxTransfers->text().trimmed().toStdString();
    r.DownloadLimit = txtDownloadLimit->text().trimmed().toStdString();
    r.UploadLimit = txtUploadLimit->text().trimmed().toStdString();
    // One key per line, up to the first empty one on reading: blank lines
    // would cut the comment short, so they are left out.
    for (const QString& l : SiteMemo->toPlainText().split(QLatin1Char('\n')))
        if (!l.trimmed().isEmpty())
            r.Comment.push_back(l.toStdString());
    return r;
}

bool TfrmSite::saveSitesFile()
{
    if (m_sites.SaveSites())
        return true;
    // What was changed stays in memory; the save at exit tries again.
    m_prompt.ShowMessage(MessageKind::Error, "无法保存站点文件: " + m_sites.LastError());
    return false;
}

bool TfrmSite::SaveSite()
{
    if (m_shown.empty())
        return false;
    m_sites.WriteSite(recordFromFields(m_shown));
    const bool ok = saveSitesFile();
    m_modified = false;
    updateButtons();
    return ok;
}

void TfrmSite::leaveModified()
{
    if (!btnApply->isHidden() && btnApply->isEnabled()) {
        if (m_autoSave || m_prompt.Confirm("保存改变到当前站点吗 ?"))
            SaveSite();
    }
    btnApply->setEnabled(false);
}

void TfrmSite::writeGroups()
{
    m_sites.WriteGroups(m_groups);
    saveSitesFile();
}

void TfrmSite::writeGroupSites(const std::vector<std::string>& names)
{
    m_sites.WriteGroupSites(currentGroup(), names);
    saveSitesFile();
    fillSites();
}

// ---------------------------------------------------------------- commands

void TfrmSite::GroupListChange()
{
    leaveModified();
    resetFields();
    setDetailsVisible(false);
    fillSites();
    btnConnect->setEnabled(false);
    btnDeleteSite->setEnabled(false);
    if (SiteList->count() > 0) {
        SiteList->setCurrentRow(0);
        if (m_mode == Mode::Normal)
            ShowSite(SiteList->item(0)->text().toStdString());
    }
}

void TfrmSite::SiteListClick()
{
    QListWidgetItem* item = SiteList->currentItem();
    if (!item || m_mode == Mode::TargetSite)
        return;
    const std::string name = item->text().toStdString();
    if (name == m_shown && !m_modified)
        return;
    leaveModified();
    ShowSite(name);
}

void TfrmSite::btnAddSiteClick()
{
    leaveModified();
    if (m_groups.empty()) {
        m_prompt.ShowMessage(MessageKind::Information, "在你添加站点前你必须创建一个站点组.");
        return;
    }
    std::string text;
    if (!m_prompt.AskText("添加站点", "输入站点名称", text))
        return;
    const std::string name = QString::fromStdString(text).trimmed().toStdString();
    if (!m_sites.CheckSiteName(name, m_prompt))
        return;
    // A site not yet given an address has its section already: one name, one section.
    if (m_sites.Sites().SectionExists(name)) {
        m_prompt.ShowMessage(MessageKind::Error, "一个名为 \"" + name + "\" 的站点已存在.  请选择另外的名字.");
        return;
    }
    resetFields();
    std::vector<std::string> names = m_sites.GroupSites(currentGroup());
    names.push_back(name);
    SortNames(names);
    m_shown = name;
    m_sites.WriteSite(recordFromFields(name));
    writeGroupSites(names);
    ShowSite(name);
    if (QListWidgetItem* item = SiteList->findItems(QString::fromStdString(name), Qt::MatchExactly).value(0)) {
        SiteList->clearSelection();
        SiteList->setCurrentItem(item);
    }
    txtServer->setFocus();
    if (OnSitesChanged)
        OnSitesChanged();
}

void TfrmSite::showAfterRemoval(int firstRemovedRow)
{
    resetFields();
    setDetailsVisible(false);
    btnApply->setEnabled(false);
    btnDeleteSite->setEnabled(false);
    btnConnect->setEnabled(false);
    if (SiteList->count() == 0)
        return;
    const int row = std::clamp(firstRemovedRow - 1, 0, SiteList->count() - 1);
    SiteList->setCurrentRow(row);
    ShowSite(SiteList->item(row)->text().toStdString());
    SiteList->setFocus();
}

void TfrmSite::btnDeleteSiteClick()
{
    const std::vector<std::string> selected = SelectedSites();
    if (selected.empty() || !m_prompt.Confirm("从数据库移除站点吗 ?"))
        return;
    int firstRow = 0;
    while (firstRow < SiteList->count() && !SiteList->item(firstRow)->isSelected())
        ++firstRow;
    std::vector<std::string> remaining;
    for (int i = 0; i < SiteList->count(); ++i) {
        const std::string name = SiteList->item(i)->text().toStdString();
        if (SiteList->item(i)->isSelected())
            m_sites.DeleteSite(name);
        else
            remaining.push_back(name);
    }
    if (!m_sites.SaveStats())
        m_prompt.ShowMessage(MessageKind::Error, "无法保存统计文件: " + m_sites.LastError());
    writeGroupSites(remaining);
    if (OnSitesChanged)
        OnSitesChanged();
    showAfterRemoval(firstRow);
}

void TfrmSite::btnRenameClick()
{
    if (m_shown.empty())
        return;
    std::string text = m_shown;
    if (!m_prompt.AskText("重命名站点", "新的名称", text))
        return;
    const std::string name = QString::fromStdString(text).trimmed().toStdString();
    if (name.empty() || name == m_shown || !m_sites.CheckSiteName(name, m_prompt))
        return;
    const std::string old = m_shown;
    const TSiteRecord record = recordFromFields(name);
    m_sites.Sites().EraseSection(old);
    m_sites.WriteSite(record);
    m_sites.RenameStats(old, name);
    if (!m_sites.SaveStats())
        m_prompt.ShowMessage(MessageKind::Error, "无法保存统计文件: " + m_sites.LastError());
    std::vector<std::string> names = m_sites.GroupSites(currentGroup());
    std::replace(names.begin(), names.end(), old, name);
    SortNames(names);
    writeGroupSites(names);
    ShowSite(name);
    if (QListWidgetItem* item = SiteList->findItems(QString::fromStdString(name), Qt::MatchExactly).value(0))
        SiteList->setCurrentItem(item);
    if (OnSitesChanged)
        OnSitesChanged();
}

void TfrmSite::MoveSites(int group)
{
    const int current = GroupList->currentIndex();
    const std::vector<std::string> moved = SelectedSites();
    if (group == current || group < 0 || group >= static_cast<int>(m_groups.size()) || moved.empty())
        return;
    int firstRow = 0;
    while (firstRow < SiteList->count() && !SiteList->item(firstRow)->isSelected())
        ++firstRow;
    const std::string& target = m_groups[static_cast<size_t>(group)];
    std::vector<std::string> targetSites = m_sites.GroupSites(target);
    targetSites.insert(targetSites.end(), moved.begin(), moved.end());
    SortNames(targetSites);
    m_sites.WriteGroupSites(target, targetSites);
    std::vector<std::string> remaining;
    for (int i = 0; i < SiteList->count(); ++i)
        if (!SiteList->item(i)->isSelected())
            remaining.push_back(SiteList->item(i)->text().toStdString());
    writeGroupSites(remaining);
    if (OnSitesChanged)
        OnSitesChanged();
    showAfterRemoval(firstRow);
}

void TfrmSite::btnAddGroupClick()
{
    if (m_mode == Mode::TargetSite) {
        btnConnectClick();
        return;
    }
    std::string text;
    if (!m_prompt.AskText("添加站点组", "输入组名称", text))
        return;
    std::string name = QString::fromStdString(text).trimmed().toStdString();
    if (name.empty())
        return;
    if (const std::string problem = m_sites.GroupNameClash(name); !problem.empty()) {
        m_prompt.ShowMessage(MessageKind::Error, problem);
        return;
    }
    leaveModified();
    // Sections are found without regard to case: "work" is the group "Work".
    auto existing = std::find_if(m_groups.begin(), m_groups.end(),
                                 [&](const std::string& g) { return AsciiLower(g) == AsciiLower(name); });
    if (existing != m_groups.end()) {
        name = *existing;
    } else {
        m_groups.push_back(name);
        SortNames(m_groups);
        writeGroups();
        if (OnSitesChanged)
            OnSitesChanged();
    }
    const int index = static_cast<int>(std::find(m_groups.begin(), m_groups.end(), name) - m_groups.begin());
    fillGroups(index);
    resetFields();
    fillSites();
    setDetailsVisible(false);
    btnApply->setEnabled(false);
    btnConnect->setEnabled(false);
    btnDeleteSite->setEnabled(false);
    if (SiteList->count() > 0) {
        SiteList->setCurrentRow(0);
        ShowSite(SiteList->item(0)->text().toStdString());
    }
}

void TfrmSite::btnDeleteGroupClick()
{
    if (m_mode == Mode::TargetSite) {
        done(QDialog::Rejected);
        return;
    }
    const std::string group = currentGroup();
    if (group.empty())
        return;
    if (!m_prompt.Confirm("你确定你要删除这个站点组 \"" + group + "\" 吗? 那么这个组中的所有站点条目将丢失!"))
        return;
    for (const std::string& site : m_sites.GroupSites(group))
        m_sites.Sites().EraseSection(site);
    m_sites.Sites().EraseSection("_" + group + "_");
    m_groups.erase(std::remove(m_groups.begin(), m_groups.end(), group), m_groups.end());
    writeGroups();
    fillGroups(0);
    resetFields();
    fillSites();
    if (OnSitesChanged)
        OnSitesChanged();
    if (SiteList->count() > 0) {
        SiteList->setCurrentRow(0);
        ShowSite(SiteList->item(0)->text().toStdString());
        return;
    }
    setDetailsVisible(false);
    btnApply->setEnabled(false);
    btnConnect->setEnabled(false);
    btnDeleteSite->setEnabled(false);
    btnAddSite->setEnabled(!m_groups.empty());
}

void TfrmSite::btnImportClick()
{
    const std::string group = currentGroup();
    if (group.empty()) {
        m_prompt.ShowMessage(MessageKind::Information, "在你添加站点前你必须创建一个站点组.");
        return;
    }
    std::string path;
    int filter = 0;
    if (!m_prompt.AskOpenFile("导入", {"文本文档 (*.txt)", "Corvyne 1.X 文件 (corvyne.ini)"}, path, filter) ||
        path.empty())
        return;
    leaveModified();
    if (filter == 1) {
        const TImportCounts c = m_sites.ImportOlderSiteFile(group, path, false, nullptr, nullptr);
        m_prompt.ShowMessage(MessageKind::Information, "导入完成: " + std::to_string(c.added) + " 新建条目, " +
                                                           std::to_string(c.updated) + " 更新条目.");
    } else if (!m_sites.ImportTextSiteList(group, path, m_prompt)) {
        return;
    }
    // Imported names come unsorted: the list is kept sorted.
    std::vector<std::string> names = m_sites.GroupSites(group);
    SortNames(names);
    writeGroupSites(names);
    if (OnSitesChanged)
        OnSitesChanged();
    if (!m_shown.empty())
        ShowSite(m_shown);
}

void TfrmSite::btnResetClick()
{
    if (m_shown.empty())
        return;
    m_sites.ResetStats(m_shown);
    if (!m_sites.SaveStats())
        m_prompt.ShowMessage(MessageKind::Error, "无法保存统计文件: " + m_sites.LastError());
    showStats();
}

void TfrmSite::btnLocalPathClick()
{
    std::string folder;
    if (m_prompt.AskFolder("选择初始本地目录", txtLocalPath->text().toStdString(), folder) && !folder.empty())
        txtLocalPath->setText(QString::fromStdString(folder));
}

void TfrmSite::btnConnectClick()
{
    if (m_mode == Mode::Normal)
        leaveModified();
    const std::vector<std::string> selected = SelectedSites();
    m_chosen = !selected.empty() ? selected.front() : m_shown;
    if (m_chosen.empty())
        return;
    m_chosenGroup = GroupList->currentIndex();
    done(QDialog::Accepted);
}

void TfrmSite::btnExitClick()
{
    done(QDialog::Rejected);
}

void TfrmSite::done(int result)
{
    if (result != QDialog::Accepted) {
        m_chosen.clear();
        if (m_mode == Mode::Normal)
            leaveModified();
    }
    // The group and site of this close open the dialog next time.
    TIniFile& f = m_sites.Sites();
    f.WriteInteger("_LastData_", "Group", GroupList->currentIndex());
    QListWidgetItem* item = SiteList->currentItem();
    f.WriteString("_LastData_", "Site", item ? item->text().toStdString() : std::string());
    saveSitesFile();
    if (m_mode == Mode::Normal && OnSitesChanged)
        OnSitesChanged();
    QDialog::done(result);
}

void TfrmSite::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && SiteList->hasFocus() && m_mode == Mode::Normal) {
        btnDeleteSiteClick();
        return;
    }
    QDialog::keyPressEvent(event);
}
