#include "app/QuickConnect.h"

#include "app/LocalPane.h"
#include "session/Connection.h"
#include "sites/Settings.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QStyle>
#include <QToolBar>

TQuickConnect::TQuickConnect(TWindowParts& parts, QMainWindow* window, QToolBar* commands)
    : QObject(window), m_parts(parts)
{
    auto* bar = m_bar = new QToolBar(QStringLiteral("快速连接"), window);
    bar->setObjectName(QStringLiteral("QuickConnect"));
    m_server = new QComboBox(bar);
    m_server->setObjectName(QStringLiteral("txtFTPServer"));
    m_server->setEditable(true);
    m_server->setMaxVisibleItems(5);
    m_server->setMinimumWidth(220);
    m_server->lineEdit()->setPlaceholderText(QStringLiteral("IP:<用户名>:<密码>:<端口>"));
    m_server->setInsertPolicy(QComboBox::NoInsert);
    bar->addWidget(m_server);
    auto field = [&](const char* label, QLineEdit* edit) {
        m_info.push_back(bar->addWidget(new QLabel(QString::fromUtf8(label), bar)));
        m_info.push_back(bar->addWidget(edit));
        return edit;
    };
    m_user = field(" 用户名 ", new QLineEdit(bar));
    m_user->setObjectName(QStringLiteral("txtUser"));
    m_user->setPlaceholderText(QStringLiteral("用户名 (留空表示匿名)"));
    m_pass = field(" 密码 ", new QLineEdit(bar));
    m_pass->setObjectName(QStringLiteral("txtPass"));
    m_pass->setEchoMode(QLineEdit::Password);
    m_port = field(" 端口 ", new QLineEdit(QStringLiteral("21"), bar));
    m_port->setObjectName(QStringLiteral("txtPort"));
    m_port->setMaximumWidth(60);
    QStyle* style = window->style();
    m_connect = commands->addAction(style->standardIcon(QStyle::SP_DialogYesButton), QStringLiteral("连接"), this,
                                    [this] { Connect(); });
    m_disconnect = commands->addAction(style->standardIcon(QStyle::SP_DialogNoButton), QStringLiteral("断开"), this,
                                       [this] { Disconnect(); });
    window->addToolBar(bar);

    TConnectionWorkflow* flow = parts.workflow;
    connect(m_server, &QComboBox::editTextChanged, this, [this] { serverEdited(); });
    for (QLineEdit* e : {m_user, m_pass, m_port})
        connect(e, &QLineEdit::textEdited, this, [flow] { flow->ConnectionDirty = true; });
    for (QLineEdit* e : {m_server->lineEdit(), m_user, m_pass, m_port})
        connect(e, &QLineEdit::returnPressed, this, [this, flow] {
            if (flow->State() != SessionState::Disconnected)
                flow->GoDisconnected();
            flow->CurrentSite.clear();
            Connect();
        });
    connect(flow, &TConnectionWorkflow::StateChanged, this, [this] { updateButtons(); });
    connect(flow, &TConnectionWorkflow::HistoryChanged, this,
            [this](const std::vector<std::string>& items) { showHistory(items); });
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, [this] { clipboardChanged(); });
}

QString TQuickConnect::Server() const
{
    return m_server->currentText();
}

QString TQuickConnect::User() const
{
    return m_user->text();
}

QString TQuickConnect::Password() const
{
    return m_pass->text();
}

QString TQuickConnect::Port() const
{
    return m_port->text();
}

void TQuickConnect::Fill(const QString& host, const std::optional<std::string>& user,
                         const std::optional<std::string>& pass, const std::optional<QString>& port)
{
    m_server->setEditText(host);  // empties the other fields
    SetLogin(user, pass, port);
}

void TQuickConnect::SetLogin(const std::optional<std::string>& user, const std::optional<std::string>& pass,
                             const std::optional<QString>& port)
{
    if (user)
        m_user->setText(QString::fromStdString(*user));
    if (pass)
        m_pass->setText(QString::fromStdString(*pass));
    if (port)
        m_port->setText(*port);
}

void TQuickConnect::FillHanded(const QString& text)
{
    // Taken once and gone from this process's environment, so that nothing
    // this window starts inherits it.
    const QString handed = qEnvironmentVariable(HandedPasswordVariable);
    qunsetenv(HandedPasswordVariable);
    const QStringList parts = text.split(QLatin1Char(':'));
    if (handed.isEmpty() || parts.size() != 4 || !parts[2].isEmpty()) {
        m_server->setEditText(text);  // the documented forms, as typed
        return;
    }
    Fill(parts[0], parts[1].toStdString(), handed.toStdString(), parts[3]);
}

void TQuickConnect::serverEdited()
{
    if (m_settingFields)
        return;
    // A new server text starts a new login: the other fields are cleared.
    m_settingFields = true;
    m_user->clear();
    m_pass->clear();
    m_port->setText(QStringLiteral("21"));
    m_settingFields = false;
    m_parts.workflow->CurrentSite.clear();
    m_parts.workflow->ConnectionDirty = true;
    const int item = m_server->findText(m_server->currentText());
    if (item >= 0 && m_server->itemText(item).contains(QStringLiteral("********"))) {
        // A history item: its fields come back, the password masked.
        m_settingFields = true;
        const std::vector<std::string> parts = HistoryParts(m_server->itemText(item).toStdString());
        if (parts.size() >= 3) {
            m_user->setText(QString::fromStdString(parts[1]));
            m_pass->setText(QStringLiteral("********"));
        }
        if (parts.size() >= 4)
            m_port->setText(QString::fromStdString(parts[3]));
        m_settingFields = false;
    }
    updateButtons();
}

void TQuickConnect::updateButtons()
{
    const bool disconnected = m_parts.workflow->State() == SessionState::Disconnected;
    m_connect->setEnabled(disconnected && !m_server->currentText().isEmpty());
    m_disconnect->setEnabled(!disconnected);
}

bool TQuickConnect::CanConnect() const
{
    return m_connect->isEnabled();
}

bool TQuickConnect::CanDisconnect() const
{
    return m_disconnect->isEnabled();
}

void TQuickConnect::showHistory(const std::vector<std::string>& items)
{
    m_settingFields = true;
    const QString text = m_server->currentText();
    m_server->clear();
    for (const std::string& item : items)
        m_server->addItem(QString::fromStdString(item));
    m_server->setCurrentIndex(-1);
    m_server->setEditText(text);
    m_settingFields = false;
}

void TQuickConnect::Connect(bool prepared)
{
    TQuickConnectFields f;
    f.server = m_server->currentText().trimmed().toStdString();
    f.user = m_user->text().toStdString();
    f.password = m_pass->text().toStdString();
    f.port = m_port->text().toStdString();
    const int item = m_server->findText(m_server->currentText());
    f.historyIndex = item >= 0 && m_server->itemText(item).contains(QStringLiteral("********")) ? item : -1;
    if (f.historyIndex >= 0) {
        // The field shows the masked item; the host is its first part.
        f.server = HistoryParts(m_server->itemText(item).toStdString()).front();
    }
    m_parts.local->View()->setFocus();
    m_parts.workflow->Connect(f, prepared);
    // The server field is read and rewritten by the connect step.
    m_settingFields = true;
    if (f.historyIndex < 0)
        m_server->setEditText(QString::fromStdString(f.server));
    m_user->setText(QString::fromStdString(f.user));
    m_pass->setText(QString::fromStdString(f.password));
    m_port->setText(QString::fromStdString(f.port));
    m_settingFields = false;
}

void TQuickConnect::Disconnect()
{
    m_parts.workflow->Disconnect();
}

void TQuickConnect::SetInfoVisible(bool visible)
{
    for (QAction* a : m_info)
        a->setVisible(visible);
}

bool TQuickConnect::InfoVisible() const
{
    return m_info.front()->isVisible();
}

// An ftp:// address copied in another program while nothing is connected
// starts a connection to it.
void TQuickConnect::clipboardChanged()
{
    if (QApplication::activeWindow() || !m_parts.settings->URL ||
        m_parts.workflow->State() != SessionState::Disconnected)
        return;
    QString text = QApplication::clipboard()->text().left(256).trimmed();
    if (!text.left(6).toUpper().startsWith(QLatin1String("FTP://")))
        return;
    text.replace(0, 6, QStringLiteral("ftp://"));  // the scheme in any letter case
    m_settingFields = true;
    m_user->clear();
    m_pass->clear();
    m_port->clear();
    m_settingFields = false;
    m_server->setEditText(text);
    Connect();
}
