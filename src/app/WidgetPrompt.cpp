#include "app/WidgetPrompt.h"

#include "dialogs/FileExistsDialog.h"
#include "dialogs/FolderChooser.h"
#include "dialogs/LoginPrompt.h"
#include "dialogs/PropertiesDialog.h"
#include "dialogs/QueueFileDialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QPrintDialog>
#include <QPrinter>

void TWidgetPrompt::ShowMessage(MessageKind kind, const std::string& text)
{
    const QString t = QString::fromStdString(text);
    switch (kind) {
        case MessageKind::Information:
            QMessageBox::information(m_parent, QStringLiteral("Corvyne"), t);
            break;
        case MessageKind::Warning:
            QMessageBox::warning(m_parent, QStringLiteral("Corvyne"), t);
            break;
        case MessageKind::Error:
            QMessageBox::critical(m_parent, QStringLiteral("Corvyne"), t);
            break;
    }
}

bool TWidgetPrompt::Confirm(const std::string& text)
{
    // No is the default: Enter never deletes or replaces anything unasked.
    return QMessageBox::question(m_parent, QStringLiteral("Corvyne"), QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool TWidgetPrompt::AskText(const std::string& title, const std::string& prompt, std::string& text)
{
    bool ok = false;
    const QString answer =
        QInputDialog::getText(m_parent, QString::fromStdString(title), QString::fromStdString(prompt),
                              QLineEdit::Normal, QString::fromStdString(text), &ok);
    if (ok)
        text = answer.toStdString();
    return ok;
}

bool TWidgetPrompt::AskPrinter(PrinterChoice& choice)
{
    QPrinter printer;
    QPrintDialog dialog(&printer, m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    choice.printerName = printer.printerName().toStdString();
    choice.outputFile = printer.outputFileName().toStdString();  // "print to file" in the dialog
    return true;
}

bool TWidgetPrompt::AskLogin(LoginRequest& request)
{
    TfrmInput dialog(request, m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.Result(request);
    return true;
}

bool TWidgetPrompt::AskFolder(const std::string& caption, const std::string& initialDir, std::string& folder)
{
    TCorvBrowseDir chooser;
    chooser.CaptionText = QString::fromStdString(caption);
    chooser.InitialDir = QString::fromStdString(initialDir);
    if (!chooser.Execute(*this, m_parent))
        return false;
    folder = chooser.Directory.toStdString();
    return true;
}

// The certificate's fields, why it is not trusted, and (loudly) that it is
// not the one trusted before. Refusing is the default: Enter trusts nothing.
IPrompt::CertificateAnswer TWidgetPrompt::AskCertificate(const CertificateRequest& request)
{
    const bool changed = !request.trustedBefore.empty();
    QMessageBox box(changed ? QMessageBox::Critical : QMessageBox::Warning, QStringLiteral("Corvyne - 服务器证书"),
                    QString(), QMessageBox::NoButton, m_parent);
    QString text = changed ? QStringLiteral("<b>警告: %1 的证书与以前信任的不同!</b><br>"
                                            "可能有人正在冒充该服务器. 除非您确知证书已更换, 否则请拒绝.<br><br>")
                                 .arg(QString::fromStdString(request.server).toHtmlEscaped())
                           : QStringLiteral("%1 的证书不受信任: %2<br><br>")
                                 .arg(QString::fromStdString(request.server).toHtmlEscaped(),
                                      QString::fromStdString(request.problem).toHtmlEscaped());
    auto row = [](const char* label, const std::string& value) {
        return QStringLiteral("%1: %2<br>").arg(QString::fromUtf8(label), QString::fromStdString(value).toHtmlEscaped());
    };
    // A fingerprint in lines of 16 bytes, in a fixed-width font, to compare by eye.
    auto fingerprint = [](const char* label, const std::string& value) {
        QString text = QString::fromStdString(value).toHtmlEscaped();
        for (qsizetype at = 48; at < text.size(); at += 48 + 4)
            text.insert(at, QStringLiteral("<br>"));
        return QStringLiteral("%1:<br><tt>%2</tt><br>").arg(QString::fromUtf8(label), text);
    };
    text += row("主题", request.subject) + row("颁发者", request.issuer) + row("有效期自", request.notBefore) +
            row("有效期至", request.notAfter) + fingerprint("SHA-256 指纹", request.sha256);
    if (changed)
        text += fingerprint("以前信任的指纹", request.trustedBefore);
    box.setTextFormat(Qt::RichText);
    box.setText(text);
    QPushButton* always = box.addButton(QStringLiteral("总是信任"), QMessageBox::AcceptRole);
    QPushButton* once = box.addButton(QStringLiteral("仅本次信任"), QMessageBox::YesRole);
    QPushButton* refuse = box.addButton(QStringLiteral("拒绝"), QMessageBox::RejectRole);
    box.setDefaultButton(refuse);
    box.setEscapeButton(refuse);
    box.exec();
    if (box.clickedButton() == always)
        return CertificateAnswer::TrustAlways;
    if (box.clickedButton() == once)
        return CertificateAnswer::TrustOnce;
    return CertificateAnswer::Refuse;
}

bool TWidgetPrompt::AskHostKey(const HostKeyRequest& request)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Corvyne - 主机密钥"), QString(), QMessageBox::NoButton,
                    m_parent);
    box.setTextFormat(Qt::RichText);
    box.setText(QStringLiteral("%1 的主机密钥不在 known_hosts 中, 无法确认这台服务器的身份.<br><br>"
                               "密钥类型: %2<br>指纹:<br><tt>%3</tt><br><br>"
                               "请与服务器管理员给出的指纹比较. 信任后密钥写入 known_hosts, 以后不再询问.")
                    .arg(QString::fromStdString(request.server).toHtmlEscaped(),
                         QString::fromStdString(request.keyType).toHtmlEscaped(),
                         QString::fromStdString(request.sha256).toHtmlEscaped()));
    QPushButton* trust = box.addButton(QStringLiteral("信任并记住"), QMessageBox::AcceptRole);
    QPushButton* refuse = box.addButton(QStringLiteral("拒绝"), QMessageBox::RejectRole);
    box.setDefaultButton(refuse);
    box.setEscapeButton(refuse);
    box.exec();
    return box.clickedButton() == trust;
}

bool TWidgetPrompt::AskSecret(const std::string& title, const std::string& prompt, std::string& secret)
{
    bool ok = false;
    const QString answer = QInputDialog::getText(m_parent, QString::fromStdString(title),
                                                 QString::fromStdString(prompt), QLineEdit::Password, QString(), &ok);
    if (ok)
        secret = answer.toStdString();
    return ok;
}

bool TWidgetPrompt::AskRetry(const std::string& text)
{
    return QMessageBox::warning(m_parent, QStringLiteral("Corvyne"), QString::fromStdString(text),
                                QMessageBox::Retry | QMessageBox::Cancel) == QMessageBox::Retry;
}

bool TWidgetPrompt::EditProperties(PropertiesRequest& request)
{
    TfrmProperties dialog(request, m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    request.mode = dialog.Mode();
    return true;
}

IPrompt::ExistingFileAnswer TWidgetPrompt::AskExistingFile(ExistingFileRequest& request)
{
    TfrmResume dialog(request, m_parent);
    dialog.AskNewName = [this](std::string& name) { return AskText("新的名称", "输入一个新文件名", name); };
    dialog.exec();
    return dialog.Result();
}

bool TWidgetPrompt::AskSaveFile(const std::string& title, const std::string& filter, std::string& path)
{
    const QString chosen = QFileDialog::getSaveFileName(m_parent, QString::fromStdString(title),
                                                        QString::fromStdString(path), QString::fromStdString(filter));
    if (chosen.isEmpty())
        return false;
    path = chosen.toStdString();
    return true;
}

bool TWidgetPrompt::AskOpenFile(const std::string& title, const std::vector<std::string>& filters, std::string& path,
                                int& filter)
{
    QStringList list;
    for (const std::string& f : filters)
        list << QString::fromStdString(f);
    QString selected = list.value(filter);
    const QString chosen =
        QFileDialog::getOpenFileName(m_parent, QString::fromStdString(title), QString::fromStdString(path),
                                     list.join(QStringLiteral(";;")), &selected);
    if (chosen.isEmpty())
        return false;
    path = chosen.toStdString();
    filter = std::max<int>(0, static_cast<int>(list.indexOf(selected)));
    return true;
}

IPrompt::Answer TWidgetPrompt::AskYesNoCancel(const std::string& text)
{
    const auto button =
        QMessageBox::question(m_parent, QStringLiteral("Corvyne"), QString::fromStdString(text),
                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    return button == QMessageBox::Yes ? Answer::Yes : button == QMessageBox::No ? Answer::No : Answer::Cancel;
}

bool TWidgetPrompt::AskSaveQueue(SaveQueueRequest& request)
{
    TfrmQueue dialog(
        request,
        [this](const std::string& filter, std::string& path) { return AskSaveFile("保存队列...", filter, path); },
        m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.Result(request);
    return true;
}

bool TWidgetPrompt::AskAddSite(AddSiteRequest& request)
{
    QDialog dialog(m_parent);
    dialog.setWindowTitle(QStringLiteral("添加站点"));
    auto* form = new QFormLayout(&dialog);
    auto* name = new QLineEdit(QString::fromStdString(request.name), &dialog);
    name->setObjectName(QStringLiteral("txtSiteName"));
    auto* group = new QComboBox(&dialog);
    group->setObjectName(QStringLiteral("txtSiteGroup"));
    for (const std::string& g : request.groups)
        group->addItem(QString::fromStdString(g));
    group->setCurrentIndex(request.group);
    form->addRow(QStringLiteral("站点名称"), name);
    form->addRow(QStringLiteral("站点组"), group);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("确定(&O)"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消(&N)"), QDialogButtonBox::RejectRole);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    request.name = name->text().toStdString();
    request.group = group->currentIndex();
    return true;
}
