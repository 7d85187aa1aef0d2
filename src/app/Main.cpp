#include "app/Main.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Corvyne"));
    resize(900, 640);

    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("QuickConnect"));
    bar->addWidget(new QLabel(QStringLiteral("服务器:"), bar));
    txtFTPServer = new QLineEdit(bar);
    bar->addWidget(txtFTPServer);
    bar->addWidget(new QLabel(QStringLiteral("用户:"), bar));
    txtUser = new QLineEdit(bar);
    bar->addWidget(txtUser);
    bar->addWidget(new QLabel(QStringLiteral("密码:"), bar));
    txtPass = new QLineEdit(bar);
    txtPass->setEchoMode(QLineEdit::Password);
    bar->addWidget(txtPass);
    bar->addWidget(new QLabel(QStringLiteral("端口:"), bar));
    txtPort = new QLineEdit(QStringLiteral("21"), bar);
    txtPort->setMaximumWidth(60);
    bar->addWidget(txtPort);
    bar->addWidget(new QPushButton(QStringLiteral("FTP 服务器"), bar));
    addToolBar(bar);

    auto* panes = new QSplitter(Qt::Horizontal);
    auto* local = new QTreeWidget(panes);
    local->setObjectName(QStringLiteral("Local"));
    auto* remote = new QTreeWidget(panes);
    remote->setObjectName(QStringLiteral("Remote"));
    for (QTreeWidget* pane : {local, remote})
        pane->setHeaderLabels({QStringLiteral("名称"), QStringLiteral("大小"), QStringLiteral("日期")});

    auto* queue = new QTreeWidget;
    queue->setObjectName(QStringLiteral("Queue"));
    queue->setHeaderLabels({QStringLiteral("名称"), QStringLiteral("大小"), QStringLiteral("目标")});
    Memo1 = new QPlainTextEdit;
    Memo1->setReadOnly(true);

    auto* main = new QSplitter(Qt::Vertical);
    main->addWidget(panes);
    main->addWidget(queue);
    main->addWidget(Memo1);
    main->setStretchFactor(0, 4);
    setCentralWidget(main);
    statusBar()->showMessage(QStringLiteral("未连接"));
}
