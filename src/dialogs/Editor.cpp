#include "dialogs/Editor.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QSaveFile>
#include <QTextDocument>
#include <QVBoxLayout>

bool PrintDocument(IPrompt& prompt, QTextDocument& document)
{
    IPrompt::PrinterChoice choice;
    if (!prompt.AskPrinter(choice))
        return false;
    QPrinter printer;
    if (!choice.outputFile.empty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(choice.outputFile));
    } else {
        printer.setPrinterName(QString::fromStdString(choice.printerName));
    }
    document.print(&printer);
    if (printer.printerState() == QPrinter::Error) {
        prompt.ShowMessage(MessageKind::Error, "打印失败");
        return false;
    }
    return true;
}

TfrmEditor::TfrmEditor(IPrompt& prompt, QWidget* parent) : QDialog(parent), m_prompt(prompt)
{
    setWindowTitle(QStringLiteral("编辑器"));
    resize(640, 480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QMenuBar(this);
    layout->setMenuBar(bar);
    Memo1 = new QPlainTextEdit(this);
    layout->addWidget(Memo1);

    QMenu* file = bar->addMenu(QStringLiteral("文件(&F)"));
    mnuReupload = file->addAction(QStringLiteral("重新上传(&R)"), this, [this] { mnuReuploadClick(); });
    mnuPrint =
        file->addAction(QStringLiteral("打印(&P)"), this, [this] { PrintDocument(m_prompt, *Memo1->document()); });
    mnuAbort = file->addAction(QStringLiteral("中断(&A)"), this, [this] { close(); });

    mnuEdit = bar->addMenu(QStringLiteral("编辑(&E)"));
    mnuCut = mnuEdit->addAction(QStringLiteral("剪切(&T)"), QKeySequence::Cut, Memo1, &QPlainTextEdit::cut);
    mnuCopy = mnuEdit->addAction(QStringLiteral("复制(&C)"), QKeySequence::Copy, Memo1, &QPlainTextEdit::copy);
    mnuPaste = mnuEdit->addAction(QStringLiteral("粘贴(&P)"), QKeySequence::Paste, Memo1, &QPlainTextEdit::paste);
    mnuClear = mnuEdit->addAction(QStringLiteral("清除(&L)"), QKeySequence::Delete, this,
                                  [this] { Memo1->textCursor().removeSelectedText(); });
    // Del belongs to the text field while it has the focus: the item only names it.
    mnuClear->setShortcutContext(Qt::WidgetShortcut);
    mnuSelectAll = mnuEdit->addAction(QStringLiteral("全选(&A)"), Memo1, &QPlainTextEdit::selectAll);
    mnuWordWrap = mnuEdit->addAction(QStringLiteral("自动换行(&W)"), this, [this] { mnuWordWrapClick(); });
    mnuWordWrap->setCheckable(true);
    connect(mnuEdit, &QMenu::aboutToShow, this, [this] { mnuEditPopup(); });

    QMenu* search = bar->addMenu(QStringLiteral("查找(&S)"));
    mnuFind = search->addAction(QStringLiteral("查找(&F)"), QKeySequence::Find, this, [this] { mnuFindClick(); });
    mnuFindNext =
        search->addAction(QStringLiteral("查找下一个(&N)"), QKeySequence(Qt::Key_F3), this, [this] { FindNext(); });

    mnuWordWrap->setChecked(false);
    mnuWordWrapClick();
}

bool TfrmEditor::LoadFile(const QString& path, bool viewOnly)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        m_prompt.ShowMessage(MessageKind::Error,
                             "无法打开 " + path.toStdString() + ": " + f.errorString().toStdString());
        return false;
    }
    const QByteArray bytes = f.readAll();
    if (!viewOnly && bytes.contains('\0')) {
        m_prompt.ShowMessage(MessageKind::Error, "这不是文本文件, 不能在编辑器中编辑: " + path.toStdString());
        return false;
    }
    const QString text = m_text.Load(bytes);
    Memo1->setPlainText(text);
    Memo1->document()->setModified(false);
    m_path = path;
    m_saved = false;
    m_viewOnly = viewOnly;
    Memo1->setReadOnly(viewOnly);
    mnuReupload->setVisible(!viewOnly);
    const QString name = path.section(QLatin1Char('/'), -1);
    setWindowTitle((viewOnly ? QStringLiteral("查看: ") : QStringLiteral("编辑: ")) + name);
    return true;
}

void TfrmEditor::mnuReuploadClick()
{
    QByteArray bytes;
    QString error;
    if (!m_text.Save(Memo1->toPlainText(), bytes, error)) {
        m_prompt.ShowMessage(MessageKind::Error, error.toStdString());  // the text stays in the editor
        return;
    }
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) < 0 || !f.commit()) {
        // The text stays in the editor: nothing is lost.
        m_prompt.ShowMessage(MessageKind::Error,
                             "无法保存 " + m_path.toStdString() + ": " + f.errorString().toStdString());
        return;
    }
    m_saved = true;
    accept();
}

void TfrmEditor::mnuWordWrapClick()
{
    const bool wrap = mnuWordWrap->isChecked();
    Memo1->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
}

void TfrmEditor::mnuEditPopup()
{
    const bool selection = Memo1->textCursor().hasSelection();
    const bool editable = !Memo1->isReadOnly();
    mnuPaste->setEnabled(editable && QApplication::clipboard()->mimeData() &&
                         QApplication::clipboard()->mimeData()->hasText());
    mnuCut->setEnabled(editable && selection);
    mnuCopy->setEnabled(selection);
    mnuClear->setEnabled(editable && selection);
}

void TfrmEditor::mnuFindClick()
{
    std::string text = m_findText.toStdString();
    if (!m_prompt.AskText("查找", "查找内容:", text) || text.empty())
        return;
    m_findText = QString::fromStdString(text);
    Find(m_findText, 0);
}

bool TfrmEditor::Find(const QString& text, int from)
{
    QTextCursor found = Memo1->document()->find(text, from);  // without case or whole words
    if (found.isNull()) {
        m_prompt.ShowMessage(MessageKind::Information, "文字没找到");
        return false;
    }
    Memo1->setTextCursor(found);
    raise();
    activateWindow();
    return true;
}

bool TfrmEditor::FindNext()
{
    if (m_findText.isEmpty())
        return false;
    return Find(m_findText, Memo1->textCursor().selectionStart() + 1);
}

void TfrmEditor::reject()
{
    if (!m_closing && !m_saved && !m_viewOnly && !m_prompt.Confirm("你确定你要中断吗 ?"))
        return;
    m_closing = true;
    QDialog::reject();
}

void TfrmEditor::closeEvent(QCloseEvent* event)
{
    if (!m_closing && !m_saved && !m_viewOnly && !m_prompt.Confirm("你确定你要中断吗 ?")) {
        event->ignore();
        return;
    }
    m_closing = true;
    QDialog::closeEvent(event);
}
