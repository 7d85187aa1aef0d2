#include "dialogs/FolderChooser.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

QString folderOf(QString dir)
{
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

// The mounted volume holding path: the longest root that starts it.
QString volumeOf(const QString& path, const QComboBox* drives)
{
    QString best = QStringLiteral("/");
    for (int i = 0; i < drives->count(); ++i) {
        const QString root = drives->itemText(i);
        if (folderOf(path).startsWith(folderOf(root)) && root.size() > best.size())
            best = root;
    }
    return best;
}

}  // namespace

TfrmBrowse::TfrmBrowse(IPrompt& prompt, QWidget* parent) : QDialog(parent), m_prompt(prompt)
{
    setWindowTitle(QStringLiteral("浏览"));
    resize(420, 460);
    CanEnter = [](const QString& root) {
        const QFileInfo info(root);
        return info.isDir() && info.isReadable() && info.isExecutable();
    };
    auto* layout = new QVBoxLayout(this);
    lblText = new QLabel(this);
    lblText->setWordWrap(true);
    layout->addWidget(lblText);
    auto* form = new QFormLayout;
    txtPath = new QLineEdit(this);
    form->addRow(QStringLiteral("路径(&P):"), txtPath);
    layout->addLayout(form);

    auto* dirLabel = new QLabel(QStringLiteral("目录(&D):"), this);
    layout->addWidget(dirLabel);
    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_model->setRootPath(QStringLiteral("/"));
    DirectoryBox = new QTreeView(this);
    DirectoryBox->setModel(m_model);
    for (int c = 1; c < m_model->columnCount(); ++c)
        DirectoryBox->hideColumn(c);
    DirectoryBox->header()->hide();
    dirLabel->setBuddy(DirectoryBox);
    layout->addWidget(DirectoryBox, 1);

    auto* driveForm = new QFormLayout;
    DriveBox = new QComboBox(this);
    QStringList roots;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
        if (v.isValid() && v.isReady())
            roots << v.rootPath();
    roots.removeDuplicates();
    roots.sort();
    DriveBox->addItems(roots);
    driveForm->addRow(QStringLiteral("驱动器(&V):"), DriveBox);
    layout->addLayout(driveForm);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("确定(&O)"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消(&N)"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(DirectoryBox->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { follow(); });
    connect(DriveBox, &QComboBox::activated, this, [this](int i) { SelectDrive(DriveBox->itemText(i)); });
}

void TfrmBrowse::SetDirectory(const QString& dir)
{
    m_drive = volumeOf(dir, DriveBox);
    DriveBox->setCurrentText(m_drive);
    DirectoryBox->setRootIndex(m_model->index(m_drive));
    const QModelIndex index = m_model->index(dir);
    DirectoryBox->setCurrentIndex(index);
    DirectoryBox->scrollTo(index);
    follow();
}

QString TfrmBrowse::Directory() const
{
    const QModelIndex current = DirectoryBox->currentIndex();
    return current.isValid() ? m_model->filePath(current) : m_drive;
}

void TfrmBrowse::follow()
{
    const QString dir = Directory();
    txtPath->setText(TargetFolder.isEmpty() ? dir : folderOf(dir) + TargetFolder);
}

void TfrmBrowse::SelectDrive(const QString& root)
{
    while (!CanEnter(root)) {
        if (!m_prompt.AskRetry("无法存取 " + root.toStdString())) {
            DriveBox->setCurrentText(m_drive);  // back to the volume chosen before
            return;
        }
    }
    SetDirectory(root);
}

bool TCorvBrowseDir::Execute(IPrompt& prompt, QWidget* parent)
{
    TfrmBrowse dialog(prompt, parent);
    dialog.lblText->setText(CaptionText);
    dialog.txtPath->setReadOnly(ReadOnly);
    dialog.TargetFolder = TargetFolder;
    dialog.SetDirectory(QFileInfo(InitialDir).isDir() ? InitialDir : QCoreApplication::applicationDirPath());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    Directory = dialog.txtPath->text();
    return true;
}
