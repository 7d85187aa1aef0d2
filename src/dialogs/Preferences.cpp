#include "dialogs/Preferences.h"

#include "sites/SiteDb.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr const char* OptionKeys[] = {"ConfirmDel",    "ExitWarn",        "ConfirmQueue",  "ConfirmMove", "AutoSave",
                                      "FreeSpace",     "RestoreState",    "KeepHistory",   "URL",         "ForceParent",
                                      "AutoSendQueue", "RestoreTransfer", "DeleteOverride"};
constexpr const char* OptionCaptions[] = {"删除文件时",           "传输完成退出时", "队列非空退出时", "移动文件时",
                                          "自动保存站点记录",     "检查剩余空间",   "使用外部重拨器", "保持登录历史",
                                          "截获ftp://开头的网址", "强制进入主目录", "登录时发送队列", "恢复断掉的传输",
                                          "不通过回收站彻底删除"};
const char* const SoundCaptions[] = {"(无)", "星号", "响铃", "惊叹", "询问", "停止", "<WAV 文件>"};
constexpr int WaveSound = 6;

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}
std::string s(const QLineEdit* e)
{
    return e->text().toStdString();
}
std::string b(bool v)
{
    return v ? "1" : "0";
}
std::string n(int v)
{
    return std::to_string(v);
}

QCheckBox* check(QBoxLayout* layout, const char* caption, bool on)
{
    auto* c = new QCheckBox(QString::fromUtf8(caption));
    c->setChecked(on);
    layout->addWidget(c);
    return c;
}

// A radio group of the captions in a box, the item index checked.
QButtonGroup* radios(QBoxLayout* layout, const char* title, std::initializer_list<const char*> captions, int checked)
{
    auto* box = new QGroupBox(QString::fromUtf8(title));
    auto* v = new QVBoxLayout(box);
    auto* group = new QButtonGroup(box);
    int i = 0;
    for (const char* c : captions) {
        auto* r = new QRadioButton(QString::fromUtf8(c), box);
        group->addButton(r, i);
        r->setChecked(i == checked);
        v->addWidget(r);
        ++i;
    }
    layout->addWidget(box);
    return group;
}

QComboBox* list(std::initializer_list<const char*> items, int current)
{
    auto* c = new QComboBox;
    for (const char* i : items)
        c->addItem(QString::fromUtf8(i));
    c->setCurrentIndex(current >= 0 && current < c->count() ? current : 0);
    return c;
}
}  // namespace

void PlaySettingSound(int sound, const std::string& wave)
{
    // The named system sounds are the bell here; a wave file goes to a
    // player found on the system, and nothing happens without one.
    if (sound >= 1 && sound <= 5) {
        QApplication::beep();
    } else if (sound == WaveSound && !wave.empty()) {
        for (const char* player : {"paplay", "aplay", "pw-play"}) {
            const QString path = QStandardPaths::findExecutable(QString::fromLatin1(player));
            if (!path.isEmpty()) {
                QProcess::startDetached(path, {QString::fromStdString(wave)});
                return;
            }
        }
    }
}

TfrmPref::Sources TfrmPref::ReadSources(const TIniFile& f)
{
    Sources src;
    src.HideHeader = f.ReadBool(SetupSection, "HideHeader", false);
    src.SelectLine = f.ReadBool(SetupSection, "SelectLine", false);
    for (const std::string& e : f.ReadList("Editors", "e")) {
        const size_t comma = e.find(',');
        src.Editors.emplace_back(e.substr(0, comma), comma == std::string::npos ? std::string() : e.substr(comma + 1));
    }
    return src;
}

TfrmPref::TfrmPref(const TSettings& st, const Sources& src, IPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_prompt(prompt), m_customIP(src.CustomIP), m_fontName(src.FontName), m_fontSize(src.FontSize)
{
    setWindowTitle(QStringLiteral("偏好设置"));
    auto* layout = new QVBoxLayout(this);
    auto* pages = new QTabWidget(this);
    pages->setUsesScrollButtons(false);  // every page's tab in sight: the dialog is as wide as they need
    pages->addTab(generalPage(st, src), QStringLiteral("常规"));
    pages->addTab(advancedPage(st), QStringLiteral("高级"));
    pages->addTab(viewPage(st, src), QStringLiteral("查看"));
    pages->addTab(optionsPage(st), QStringLiteral("选项"));
    pages->addTab(transferPage(st), QStringLiteral("传输"));
    pages->addTab(skipPage(st), QStringLiteral("跳过列表"));
    pages->addTab(editorsPage(st, src), QStringLiteral("编辑器"));
    pages->addTab(ddePage(st), QStringLiteral("DDE"));
    pages->addTab(soundsPage(st), QStringLiteral("声音"));
    pages->addTab(proxyPage(st, src), QStringLiteral("代理"));
    layout->addWidget(pages);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("确定(&O)"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("取消(&N)"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QLineEdit* TfrmPref::withChooser(QLayout* row, QLineEdit* edit, std::function<void()> choose)
{
    auto* h = new QHBoxLayout;
    h->addWidget(edit);
    auto* more = new QPushButton(QStringLiteral("..."));
    more->setFixedWidth(more->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
    connect(more, &QPushButton::clicked, this, std::move(choose));
    h->addWidget(more);
    static_cast<QBoxLayout*>(row)->addLayout(h);
    return edit;
}

void TfrmPref::chooseProgram(QLineEdit* edit, const char* title)
{
    // Programs here are files with the executable bit, of any name.
    std::string path;
    int filter = 0;
    if (m_prompt.AskOpenFile(title, {"可执行文件 (*)", "所有文件 (*)"}, path, filter) && !path.empty())
        edit->setText(q(path));
}

QWidget* TfrmPref::generalPage(const TSettings& st, const Sources& src)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->addWidget(new QLabel(QStringLiteral("E-mail 地址")));
    txtEmail = new QLineEdit(q(st.Email));
    v->addWidget(txtEmail);
    v->addWidget(new QLabel(QStringLiteral("默认本地路径")));
    withChooser(v, txtLocalPath = new QLineEdit(q(st.Path)), [this] {
        std::string folder;
        if (m_prompt.AskFolder("选择默认本地路径", s(txtLocalPath), folder) && !folder.empty())
            txtLocalPath->setText(q(folder));
    });
    chkLog = check(v, "允许日志", st.Log);
    chkTimestamp = check(v, "时间戳记日志", st.TimestampLog);
    v->addWidget(new QLabel(QStringLiteral("日志文件")));
    withChooser(v, txtLogFile = new QLineEdit(q(src.LogFile)), [this] {
        std::string folder;
        if (m_prompt.AskFolder("选择日志文件目录", s(txtLogFile), folder) && !folder.empty())
            txtLogFile->setText(QDir(q(folder)).filePath(QStringLiteral("corvyne.log")));
    });
    auto follow = [this] {
        txtLogFile->setEnabled(chkLog->isChecked());
        chkTimestamp->setEnabled(txtLogFile->isEnabled());
    };
    connect(chkLog, &QCheckBox::toggled, this, follow);
    follow();
    radDefault = new QRadioButton(QStringLiteral("使用默认查看器"));
    radViewer = new QRadioButton(QStringLiteral("使用查看器:"));
    v->addWidget(radDefault);
    v->addWidget(radViewer);
    withChooser(v, txtViewer = new QLineEdit(q(st.Viewer)), [this] { chooseProgram(txtViewer, "选择默认查看器"); });
    (st.Viewer.empty() ? radDefault : radViewer)->setChecked(true);
    connect(radDefault, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            txtViewer->clear();
    });
    v->addStretch();
    return page;
}

QWidget* TfrmPref::advancedPage(const TSettings& st)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("连接超时"), txtTimeout = new QLineEdit(q(n(st.Delay))));
    form->addRow(QStringLiteral("重试次数"), txtRetry = new QLineEdit(q(n(st.Retry))));
    form->addRow(QStringLiteral("重试延迟"), txtRetryDelay = new QLineEdit(q(n(st.RetryDelay))));
    v->addLayout(form);
    chkShowSiteManager = check(v, "启动时打开站点管理器", st.ShowSiteManager);
    chkConnectDrop = check(v, "拖放操作时自动传输", st.ConnectDrop);
    auto* dbl = new QFormLayout;
    dbl->addRow(QStringLiteral("双击动作:"), cboDoubleClick = list({"传输", "查看", "编辑", "队列"}, st.DoubleClick));
    v->addLayout(dbl);
    auto* idle = new QGroupBox(QStringLiteral("反空闲"));
    auto* iv = new QVBoxLayout(idle);
    chkIdle = check(iv, "允许反空闲", st.Antiidle);
    auto* ih = new QHBoxLayout;
    ih->addWidget(new QLabel(QStringLiteral("间隔")));
    ih->addWidget(txtIdleInterval = new QLineEdit(q(n(st.IdleTime))));
    ih->addWidget(new QLabel(QStringLiteral("秒")));
    ih->addWidget(rdoNOOP = new QRadioButton(QStringLiteral("NOOP")));
    ih->addWidget(rdoPWD = new QRadioButton(QStringLiteral("PWD")));
    (st.IdleNOOP ? rdoNOOP : rdoPWD)->setChecked(true);
    iv->addLayout(ih);
    v->addWidget(idle);
    auto* stall = new QHBoxLayout;
    stall->addWidget(chkStallProtection = new QCheckBox(QStringLiteral("允许传输停止时保护")));
    chkStallProtection->setChecked(st.StallProtection);
    stall->addWidget(new QLabel(QStringLiteral("超时:")));
    stall->addWidget(txtPacketTimeout = new QLineEdit(q(n(st.PacketTimeout))));
    stall->addWidget(new QLabel(QStringLiteral("(秒)")));
    v->addLayout(stall);
    auto* parallel = new QHBoxLayout;
    parallel->addWidget(new QLabel(QStringLiteral("同时传输的文件数 (各用一个连接):")));
    parallel->addWidget(spnMaxTransfers = new QSpinBox);
    spnMaxTransfers->setRange(1, 10);
    spnMaxTransfers->setValue(std::clamp(st.MaxTransfers, 1, 10));
    parallel->addStretch();
    v->addLayout(parallel);
    auto* limits = new QHBoxLayout;
    const auto limit = [&](const char* caption, int value) {
        limits->addWidget(new QLabel(QString::fromUtf8(caption)));
        auto* box = new QSpinBox;
        box->setRange(0, 10'000'000);
        box->setSuffix(QStringLiteral(" KiB/s"));
        box->setSpecialValueText(QStringLiteral("不限"));
        box->setValue(std::max(value, 0));
        limits->addWidget(box);
        return box;
    };
    spnDownloadLimit = limit("下载限速:", st.DownloadLimit);
    spnUploadLimit = limit("上传限速:", st.UploadLimit);
    limits->addStretch();
    v->addLayout(limits);
    v->addStretch();
    return page;
}

QWidget* TfrmPref::viewPage(const TSettings& st, const Sources& src)
{
    auto* page = new QWidget;
    auto* grid = new QHBoxLayout(page);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    auto* local = new QGroupBox(QStringLiteral(" 本地视图 "));
    auto* lv = new QVBoxLayout(local);
    chkLocalRefresh = check(lv, "传输每个文件后刷新", st.ReceiveRefresh);
    chkAutoSizeLocal = check(lv, "自动调整列大小", st.LocalAutoSize);
    left->addWidget(local);
    auto* remote = new QGroupBox(QStringLiteral(" 远程视图 "));
    auto* rv = new QVBoxLayout(remote);
    chkRemoteRefresh = check(rv, "自动刷新", st.AutoRefresh);
    chkAutoSizeRemote = check(rv, "自动调整列大小", st.RemoteAutoSize);
    left->addWidget(remote);
    grpSortAlpha = radios(left, " 目录列表 ", {"目录在前面", "混合 文件/目录"}, st.AlphaSort ? 1 : 0);
    auto* options = new QGroupBox(QStringLiteral(" 选项 "));
    auto* ov = new QVBoxLayout(options);
    chkSelectLine = check(ov, "选择整行", src.SelectLine);
    chkHideHeader = check(ov, "隐藏列标题", src.HideHeader);
    chkShowMsg = check(ov, "显示登录信息", st.ShowMessages);
    chkShowDirMsg = check(ov, "显示目录信息", st.MessageWin);
    chkShowHidden = check(ov, "显示隐藏文件", st.ShowHidden);
    chkHide = check(ov, "最小化时隐藏", st.Hide);
    right->addWidget(options);
    btnFont = new QPushButton(QStringLiteral("字体(&F)"));
    pnlFont = new QLabel(QStringLiteral("%1, %2").arg(m_fontName).arg(m_fontSize));
    pnlFont->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pnlFont->setFont(QFont(m_fontName, m_fontSize));
    connect(btnFont, &QPushButton::clicked, this, [this] {
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, QFont(m_fontName, m_fontSize), this);
        if (!ok)
            return;
        m_fontName = chosen.family();
        m_fontSize = std::clamp(chosen.pointSize(), 8, 24);
        pnlFont->setText(QStringLiteral("%1, %2").arg(m_fontName).arg(m_fontSize));
        pnlFont->setFont(QFont(m_fontName, m_fontSize));
    });
    right->addWidget(btnFont);
    right->addWidget(pnlFont);
    right->addStretch();
    grid->addLayout(left);
    grid->addLayout(right);
    return page;
}

QWidget* TfrmPref::optionsPage(const TSettings& st)
{
    const bool values[] = {st.ConfirmDel,    st.ExitWarn,        st.ConfirmQueue,  st.ConfirmMove, st.AutoSave,
                           st.FreeSpace,     st.RestoreState,    st.KeepHistory,   st.URL,         st.ForceParent,
                           st.AutoSendQueue, st.RestoreTransfer, st.DeleteOverride};
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* confirm = new QGroupBox(QStringLiteral("确认 "));
    auto* cv = new QVBoxLayout(confirm);
    for (size_t i = 0; i < std::size(OptionKeys); ++i)
        chkOptions.push_back(check(i < 4 ? cv : v, OptionCaptions[i], values[i]));
    v->insertWidget(0, confirm);
    v->addStretch();
    return page;
}

QWidget* TfrmPref::transferPage(const TSettings& st)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* form = new QFormLayout;
    const auto modes = {"总是询问", "总是续传", "总是覆盖", "总是跳过", "较小时续传"};
    form->addRow(QStringLiteral("重复的本地文件"), cboDuplicateLocal = list(modes, st.ResumeMode));
    form->addRow(QStringLiteral("重复的远程文件"), cboDuplicateRemote = list(modes, st.UploadMode));
    // Action 4 powers the machine off here (the system's logind).
    form->addRow(QStringLiteral("传输完成时"),
                 cboTransferOption = list(
                     {"空闲", "断开服务器", "挂断 ISP", "退出 Corvyne", "注销 Windows", "挂断并退出"}, st.XferOption));
    v->addLayout(form);
    auto* groups = new QHBoxLayout;
    grpFileCase = radios(groups, "文件名大小写", {"保持原来格式", "转换为大写", "转换为小写"}, st.ForceLowerCase);
    grpTransferSpeed = radios(groups, "传输速度 ", {"KB/s", "cps"}, st.ShowCps ? 1 : 0);
    v->addLayout(groups);
    chkPreserveDate = check(v, "保存服务器日期", st.PreserveDate);
    chkDialogTimer = check(v, "询问对话框 30 秒计时", st.DialogTimer);
    chkGetLink = check(v, "忽略循环获取的链接", st.GetLink);
    chkUseAppe = check(v, "使用 APPE 继续上传", st.UseAPPE);
    chkUploadTempName = check(v, "上传到临时文件名, 完成后再改名", st.UploadTempName);
    v->addStretch();
    return page;
}

QWidget* TfrmPref::skipPage(const TSettings& st)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* text = new QLabel(QStringLiteral("这个跳过列表允许你使用通配符定义一个不被传输的文件名和目录列表."));
    text->setWordWrap(true);
    v->addWidget(text);
    chkEnableSkip = check(v, "允许跳过列表", st.SkipEnabled);
    chkSkipNullFile = check(v, "跳过无效(0 字节)文件", st.SkipNull);
    chkSkipEmptyDir = check(v, "跳过空目录", st.SkipDir);
    chkSkipDirectories = check(v, "跳过匹配目录", st.SkipDirectories);
    auto* h = new QHBoxLayout;
    h->addWidget(txtSkipName = new QLineEdit);
    h->addWidget(btnSkipAdd = new QPushButton(QStringLiteral("添加(&A)")));
    h->addWidget(btnSkipDelete = new QPushButton(QStringLiteral("删除(&D)")));
    v->addLayout(h);
    SkipList = new QListWidget;
    SkipList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const std::string& p : st.SkipPatterns)
        SkipList->addItem(q(p));
    v->addWidget(SkipList);
    btnSkipAdd->setEnabled(false);
    btnSkipDelete->setEnabled(false);
    connect(txtSkipName, &QLineEdit::textChanged, this,
            [this](const QString& t) { btnSkipAdd->setEnabled(!t.isEmpty()); });
    connect(SkipList, &QListWidget::itemSelectionChanged, this,
            [this] { btnSkipDelete->setEnabled(!SkipList->selectedItems().isEmpty()); });
    connect(btnSkipAdd, &QPushButton::clicked, this, [this] { btnSkipAddClick(); });
    connect(btnSkipDelete, &QPushButton::clicked, this, [this] { btnSkipDeleteClick(); });
    return page;
}

void TfrmPref::btnSkipAddClick()
{
    if (txtSkipName->text().isEmpty())
        return;
    SkipList->addItem(txtSkipName->text());
    txtSkipName->clear();
    btnSkipAdd->setEnabled(false);
}

void TfrmPref::btnSkipDeleteClick()
{
    qDeleteAll(SkipList->selectedItems());
    btnSkipDelete->setEnabled(false);
}

QWidget* TfrmPref::editorsPage(const TSettings& st, const Sources& src)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    EditorList = new QTreeWidget;
    EditorList->setHeaderLabels({QStringLiteral("扩展名"), QStringLiteral("编辑器")});
    EditorList->setRootIsDecorated(false);
    EditorList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    EditorList->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (const auto& [extensions, program] : src.Editors)
        EditorList->addTopLevelItem(new QTreeWidgetItem({q(extensions), q(program)}));
    v->addWidget(EditorList);
    auto* ext = new QHBoxLayout;
    ext->addWidget(new QLabel(QStringLiteral("扩展名:")));
    ext->addWidget(txtEditExtension = new QLineEdit);
    // "," ends the extensions in the stored "e1=.txt .htm,program": it cannot
    // be part of them.
    txtEditExtension->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^,]*")), txtEditExtension));
    ext->addWidget(new QLabel(QStringLiteral("(.htm;.html)")));
    v->addLayout(ext);
    v->addWidget(new QLabel(QStringLiteral("编辑器:")));
    withChooser(v, txtEditEditor = new QLineEdit, [this] { chooseProgram(txtEditEditor, "选择编辑器"); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnEditorAdd = new QPushButton(QStringLiteral("添加(&A)")));
    buttons->addWidget(btnEditorDelete = new QPushButton(QStringLiteral("删除(&D)")));
    buttons->addStretch();
    v->addLayout(buttons);
    v->addWidget(new QLabel(QStringLiteral("默认文件编辑器:")));
    withChooser(v, txtEditor = new QLineEdit(q(st.Editor)), [this] { chooseProgram(txtEditor, "选择编辑器"); });
    btnEditorAdd->setEnabled(false);
    btnEditorDelete->setEnabled(false);
    auto follow = [this] {
        btnEditorAdd->setEnabled(!txtEditExtension->text().isEmpty() && !txtEditEditor->text().isEmpty());
    };
    connect(txtEditExtension, &QLineEdit::textChanged, this, follow);
    connect(txtEditEditor, &QLineEdit::textChanged, this, follow);
    connect(EditorList, &QTreeWidget::itemSelectionChanged, this,
            [this] { btnEditorDelete->setEnabled(!EditorList->selectedItems().isEmpty()); });
    connect(btnEditorAdd, &QPushButton::clicked, this, [this] { btnEditorAddClick(); });
    connect(btnEditorDelete, &QPushButton::clicked, this, [this] { btnEditorDeleteClick(); });
    return page;
}

void TfrmPref::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QWidget* focus = focusWidget();
    if (enter && focus == txtSkipName && !txtSkipName->text().isEmpty()) {
        btnSkipAddClick();
        return event->accept();
    }
    if (enter && (focus == txtEditExtension || focus == txtEditEditor) &&
        !(txtEditExtension->text().isEmpty() && txtEditEditor->text().isEmpty())) {
        btnEditorAddClick();  // both are needed: with one, nothing is added and nothing lost
        return event->accept();
    }
    QDialog::keyPressEvent(event);
}

void TfrmPref::btnEditorAddClick()
{
    if (txtEditExtension->text().isEmpty() || txtEditEditor->text().isEmpty())
        return;
    EditorList->addTopLevelItem(new QTreeWidgetItem({txtEditExtension->text(), txtEditEditor->text()}));
    txtEditExtension->clear();
    txtEditEditor->clear();
    btnEditorAdd->setEnabled(false);
}

void TfrmPref::btnEditorDeleteClick()
{
    qDeleteAll(EditorList->selectedItems());
    btnEditorDelete->setEnabled(false);
}

QWidget* TfrmPref::ddePage(const TSettings& st)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("服务"), txtService = new QLineEdit(q(st.DDEService)));
    form->addRow(QStringLiteral("主题"), txtTopic = new QLineEdit(q(st.DDETopic)));
    form->addRow(QStringLiteral("命令"), txtCommand = new QLineEdit(q(st.DDECommand)));
    v->addLayout(form);
    chkDDEPrompt = check(v, "命令提示", st.DDEPrompt);
    chkDDEFilter = check(v, "过滤命令", st.DDEFilter);
    chkDDEShow = check(v, "显示请求", st.DDEShow);
    v->addStretch();
    return page;
}

QWidget* TfrmPref::soundsPage(const TSettings& st)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto group = [&](const char* title, int sound, const std::string& wave, QComboBox*& combo, QLineEdit*& edit) {
        auto* box = new QGroupBox(QString::fromUtf8(title));
        auto* bv = new QVBoxLayout(box);
        auto* h = new QHBoxLayout;
        h->addWidget(new QLabel(QStringLiteral("动作")));
        h->addWidget(combo = new QComboBox);
        for (const char* c : SoundCaptions)
            combo->addItem(QString::fromUtf8(c));
        combo->setCurrentIndex(sound >= 0 && sound <= WaveSound ? sound : 0);
        auto* play = new QPushButton(QStringLiteral("!"));
        play->setFixedWidth(play->fontMetrics().horizontalAdvance(QStringLiteral("W")) + 16);
        h->addWidget(play);
        bv->addLayout(h);
        bv->addWidget(new QLabel(QStringLiteral("Wav 文件")));
        edit = new QLineEdit(q(wave));
        QLineEdit* e = edit;
        QComboBox* c = combo;
        withChooser(bv, edit, [this, e] {
            std::string path;
            int filter = 0;
            if (m_prompt.AskOpenFile("WAV 文件", {"Wav 文件 (*.wav)"}, path, filter) && QFileInfo::exists(q(path)))
                e->setText(q(path));
        });
        e->setEnabled(c->currentIndex() == WaveSound);
        connect(c, &QComboBox::currentIndexChanged, this, [e](int i) { e->setEnabled(i == WaveSound); });
        connect(play, &QPushButton::clicked, this, [this, c, e] {
            if (PlaySound)
                PlaySound(c->currentIndex(), s(e));
        });
        v->addWidget(box);
    };
    group(" 连接时 ", st.ConnectSound, st.ConnectWav, cboConnectSound, txtConnectWAV);
    group(" 传输完成时 ", st.TransferSound, st.TransferWav, cboTransferSound, txtTransferWav);
    v->addStretch();
    return page;
}

QWidget* TfrmPref::proxyPage(const TSettings& st, const Sources& src)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    chkEnableProxy = check(v, "允许代理(&E)", st.EnableProxy);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("主机(&H)"), txtProxyHost = new QLineEdit(q(src.ProxyHost)));
    form->addRow(QStringLiteral("端口(&P)"), txtProxyPort = new QLineEdit(q(n(src.ProxyPort))));
    form->addRow(QStringLiteral("用户名(&U)"), txtProxyUser = new QLineEdit(q(src.ProxyUser)));
    form->addRow(QStringLiteral("密码(&W)"), txtProxyPass = new QLineEdit(q(src.ProxyPass)));
    txtProxyPass->setEchoMode(QLineEdit::Password);
    v->addLayout(form);
    auto* box = new QGroupBox;
    auto* grid = new QGridLayout(box);
    grpPasvMode = new QButtonGroup(box);
    const char* const modes[] = {"USER user@host:port", "USER 登录",      "SOCKS 防火墙",
                                 "SITE 站点",           "SITE user@host", "USER user@host port"};
    for (int i = 0; i < 6; ++i) {
        auto* r = new QRadioButton(QString::fromUtf8(modes[i]), box);
        grpPasvMode->addButton(r, i);
        r->setChecked(i == st.ProxyMode);
        grid->addWidget(r, i % 3, i / 3);
    }
    v->addWidget(box);
    v->addWidget(new QLabel(QStringLiteral("无代理主机:")));
    MemoProxy = new QPlainTextEdit;
    MemoProxy->setLineWrapMode(QPlainTextEdit::NoWrap);
    QStringList hosts;
    for (const std::string& h : src.NoProxyHosts)
        hosts << q(h);
    MemoProxy->setPlainText(hosts.join(QLatin1Char('\n')));
    v->addWidget(MemoProxy);
    chkPasvMode = check(v, "使用 PASV 模式", st.UsePasv);
    chkAlternate = check(v, "尝试轮流连接模式", st.AlternateMode);
    chkTlsWhenOffered = check(v, "服务器提供时使用 TLS 加密 (主机名和 ftp:// 地址)", st.TlsWhenOffered);
    return page;
}

// ---------------------------------------------------------------- writing

std::vector<std::pair<std::string, std::string>> TfrmPref::Keys() const
{
    auto opt = [this](const char* key) {
        for (size_t i = 0; i < std::size(OptionKeys); ++i)
            if (std::string_view(OptionKeys[i]) == key)
                return b(chkOptions[i]->isChecked());
        return std::string("0");
    };
    std::vector<std::pair<std::string, std::string>> k = {
        {"PreserveDate", b(chkPreserveDate->isChecked())},
        {"ConnectDrop", b(chkConnectDrop->isChecked())},
        {"AutoSendQueue", opt("AutoSendQueue")},
        {"Editor", s(txtEditor)},
        {"Path", s(txtLocalPath)},
        {"Email", s(txtEmail)},
        {"Delay", s(txtTimeout)},  // as typed: the loader falls back to its default
    };
    if (!m_customIP.empty())
        k.emplace_back("CustomIP", m_customIP);
    const std::vector<std::pair<std::string, std::string>> rest = {
        {"Retry", s(txtRetry)},
        {"KeepHistory", opt("KeepHistory")},
        {"ShowHidden", b(chkShowHidden->isChecked())},
        {"AutoSave", opt("AutoSave")},
        {"ReceiveRefresh", b(chkLocalRefresh->isChecked())},
        {"ConfirmDel", opt("ConfirmDel")},
        {"ExitWarn", opt("ExitWarn")},
        {"SelectLine", b(chkSelectLine->isChecked())},
        {"IdleTime", s(txtIdleInterval)},
        {"UploadMode", n(cboDuplicateRemote->currentIndex())},
        {"ResumeMode", n(cboDuplicateLocal->currentIndex())},
        {"DoubleClick", n(cboDoubleClick->currentIndex())},
        {"URL", opt("URL")},
        {"IdleNOOP", b(rdoNOOP->isChecked())},
        {"ForceParent", opt("ForceParent")},
        {"DialogTimer", b(chkDialogTimer->isChecked())},
        {"AlternateMode", b(chkAlternate->isChecked())},
        {"RestoreState", opt("RestoreState")},
        {"ShowDirMessage", b(chkShowDirMsg->isChecked())},
        {"Viewer", s(txtViewer)},
        {"XferOption", n(cboTransferOption->currentIndex())},
        {"RestoreTransfer", opt("RestoreTransfer")},
        {"DefaultViewer", b(radDefault->isChecked())},
        {"ProxyHost", s(txtProxyHost)},
        {"ProxyPort", s(txtProxyPort)},
        {"ProxyUser", s(txtProxyUser)},
        {"GetLink", b(chkGetLink->isChecked())},
        {"ProxyPass", ScramblePassword(s(txtProxyPass))},
        {"SkipDirectories", b(chkSkipDirectories->isChecked())},
        {"EnableProxy", b(chkEnableProxy->isChecked())},
        {"ShowMessages", b(chkShowMsg->isChecked())},
        {"MessageWin", b(chkShowDirMsg->isChecked())},
        {"SkipDir", b(chkSkipEmptyDir->isChecked())},
        {"ProxyMode", n(std::max(0, grpPasvMode->checkedId()))},
        {"DDEService", s(txtService)},
        {"DDETopic", s(txtTopic)},
        {"DDECommand", s(txtCommand)},
        {"ShowCps", n(std::max(0, grpTransferSpeed->checkedId()))},
        {"HideHeader", b(chkHideHeader->isChecked())},
        {"AlphaSort", b(grpSortAlpha->checkedId() == 1)},
        {"ForceLowerCase", n(std::max(0, grpFileCase->checkedId()))},
        {"FontName", m_fontName.toStdString()},
        {"FontSize", n(m_fontSize)},
        {"RemoteAutoSize", b(chkAutoSizeRemote->isChecked())},
        {"LocalAutoSize", b(chkAutoSizeLocal->isChecked())},
        {"DeleteOverride", opt("DeleteOverride")},
        {"ConnectSound", n(cboConnectSound->currentIndex())},
        {"TransferSound", n(cboTransferSound->currentIndex())},
        {"TransferWav", s(txtTransferWav)},
        {"ConnectWav", s(txtConnectWAV)},
        {"LogFile", s(txtLogFile)},
        {"TimestampLog", b(chkTimestamp->isChecked())},
        {"Log", b(chkLog->isChecked())},
        {"AutoRefresh", b(chkRemoteRefresh->isChecked())},
        {"AntiIdle", b(chkIdle->isChecked())},
        {"FreeSpace", opt("FreeSpace")},
        {"RetryDelay", s(txtRetryDelay)},
        {"ConfirmMove", opt("ConfirmMove")},
        {"ShowSiteManager", b(chkShowSiteManager->isChecked())},
        {"Hide", b(chkHide->isChecked())},
        {"DDEPrompt", b(chkDDEPrompt->isChecked())},
        {"DDEFilter", b(chkDDEFilter->isChecked())},
        {"DDEShow", b(chkDDEShow->isChecked())},
        {"ConfirmQueue", opt("ConfirmQueue")},
        {"PacketTimeout", s(txtPacketTimeout)},
        {"StallProtection", b(chkStallProtection->isChecked())},
        {"SkipNull", b(chkSkipNullFile->isChecked())},
        {"UsePasv", b(chkPasvMode->isChecked())},
        {"TlsWhenOffered", b(chkTlsWhenOffered->isChecked())},
        {"UseAPPE", b(chkUseAppe->isChecked())},
        {"UploadTempName", b(chkUploadTempName->isChecked())},
        {"MaxTransfers", std::to_string(spnMaxTransfers->value())},
        {"DownloadLimit", std::to_string(spnDownloadLimit->value())},
        {"UploadLimit", std::to_string(spnUploadLimit->value())},
    };
    k.insert(k.end(), rest.begin(), rest.end());
    return k;
}

bool TfrmPref::Write(TIniFile& file) const
{
    {
        TIniFile::Batch one(file);  // one flush: all of it, or nothing on disk
        for (const auto& [key, value] : Keys())
            file.WriteString(SetupSection, key, value);
        file.EraseSection("Skip");
        file.EraseSection("Editors");
        file.EraseSection("Proxy");
        int p = 0;
        for (const QString& line : MemoProxy->toPlainText().split(QLatin1Char('\n')))
            if (line.trimmed().size() > 6)
                file.WriteString("Proxy", "p" + std::to_string(++p), line.trimmed().toStdString());
        for (int i = 0; i < SkipList->count(); ++i)
            file.WriteString("Skip", "s" + std::to_string(i + 1), SkipList->item(i)->text().toStdString());
        for (int i = 0; i < EditorList->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* row = EditorList->topLevelItem(i);
            file.WriteString("Editors", "e" + std::to_string(i + 1),
                             (row->text(0) + QLatin1Char(',') + row->text(1)).toStdString());
        }
        file.WriteBool("Skip", "Enabled", chkEnableSkip->isChecked());
    }
    return file.LastError().empty();
}
