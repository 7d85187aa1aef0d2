// The built-in editor: the file's bytes survive an edit, closing asks,
// searching, word wrap, the edit menu's enabling, printing, and the files it
// must refuse.

#include "TestSupport.h"
#include "app/Application.h"
#include "dialogs/Editor.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTranslator>

namespace {

struct Answers : IPrompt {
    std::vector<std::string> said;
    bool confirm = false;
    std::string find;
    std::string pdf;
    void ShowMessage(MessageKind, const std::string& text) override { said.push_back(text); }
    bool Confirm(const std::string& text) override
    {
        said.push_back(text);
        return confirm;
    }
    bool AskText(const std::string&, const std::string&, std::string& text) override
    {
        text = find;
        return !find.empty();
    }
    bool AskPrinter(PrinterChoice& choice) override
    {
        choice.outputFile = pdf;
        return !pdf.empty();
    }
};

}  // namespace

TEST(Editor, AnEditKeepsTheFilesEncodingAndLineEnds)
{
    QTemporaryDir dir;
    // One byte per character (not UTF-8), CR LF, no line break at the end.
    const QString latin = dir.filePath("latin.txt");
    WriteTestFile(latin, QByteArray("caf\xe9\r\nna\xefve\r\nend"));
    Answers a;
    TfrmEditor e(a);
    ASSERT_TRUE(e.LoadFile(latin, false));
    EXPECT_EQ(e.windowTitle(), QStringLiteral("编辑: latin.txt"));
    EXPECT_EQ(e.Memo1->toPlainText(), QStringLiteral("café\nnaïve\nend"));
    QTextCursor c(e.Memo1->document()->findBlockByNumber(2));
    c.movePosition(QTextCursor::EndOfBlock);
    c.insertText(QStringLiteral("!"));
    e.mnuReuploadClick();
    EXPECT_TRUE(e.Saved());
    EXPECT_EQ(e.result(), QDialog::Accepted);
    EXPECT_EQ(ReadTestFile(latin), std::string("caf\xe9\r\nna\xefve\r\nend!"));

    // UTF-8 with LF and a final break comes back the same way.
    const QString utf8 = dir.filePath("u.txt");
    WriteTestFile(utf8, QByteArray("中文\nzwei\n"));
    TfrmEditor u(a);
    ASSERT_TRUE(u.LoadFile(utf8, false));
    u.mnuReuploadClick();
    EXPECT_EQ(ReadTestFile(utf8), "中文\nzwei\n");
}

// GBK text stays GBK (shown as Chinese, not double-encoded on the way
// back); mixed line ends and a byte-order mark come back byte for byte where
// the user did not edit; a character the file's encoding cannot hold is
// refused, never written by turning the file into another encoding.
TEST(Editor, GbkTextMixedLineEndsAndBomsComeBackAsTheyWere)
{
    QTemporaryDir dir;
    Answers a;
    const QByteArray gbk("\xd6\xd0\xce\xc4\r\n\xb2\xe2\xca\xd4\r\n");  // "中文", "测试" in GBK
    const QString gbkPath = dir.filePath("gbk.txt");
    WriteTestFile(gbkPath, gbk);
    TfrmEditor g(a);
    ASSERT_TRUE(g.LoadFile(gbkPath, false));
    EXPECT_EQ(g.Memo1->toPlainText(), QStringLiteral("中文\n测试"));
    QTextCursor c(g.Memo1->document()->findBlockByNumber(1));
    c.movePosition(QTextCursor::EndOfBlock);
    c.insertText(QStringLiteral("完成"));
    g.mnuReuploadClick();
    EXPECT_TRUE(g.Saved());
    EXPECT_TRUE(ReadTestFile(gbkPath) == std::string("\xd6\xd0\xce\xc4\r\n\xb2\xe2\xca\xd4\xcd\xea\xb3\xc9\r\n"));

    // Every kind of line end, a BOM, no final break: unchanged, the same bytes.
    const QByteArray mixed("\xef\xbb\xbfone\r\ntwo\nthree\rfour\r\n\nlast");
    const QString mixedPath = dir.filePath("mixed.txt");
    WriteTestFile(mixedPath, mixed);
    TfrmEditor m(a);
    ASSERT_TRUE(m.LoadFile(mixedPath, false));
    EXPECT_EQ(m.Memo1->toPlainText(), QStringLiteral("one\ntwo\nthree\nfour\n\nlast"));
    m.mnuReuploadClick();
    EXPECT_TRUE(ReadTestFile(mixedPath) == mixed.toStdString());
    // One line changed, one added: only those lines differ.
    TfrmEditor m2(a);
    ASSERT_TRUE(m2.LoadFile(mixedPath, false));
    QTextCursor c2(m2.Memo1->document()->findBlockByNumber(1));
    c2.movePosition(QTextCursor::EndOfBlock);
    c2.insertText(QStringLiteral("2\nadded"));
    m2.mnuReuploadClick();
    EXPECT_TRUE(ReadTestFile(mixedPath) == std::string("\xef\xbb\xbfone\r\ntwo2\nadded\nthree\rfour\r\n\nlast"))
        << ReadTestFile(mixedPath);

    // A Latin-1 file cannot hold Chinese: told, the file as it was, the text kept.
    const QString latin = dir.filePath("latin.txt");
    WriteTestFile(latin, QByteArray("caf\xe9\n"));
    TfrmEditor l(a);
    ASSERT_TRUE(l.LoadFile(latin, false));
    l.show();
    l.Memo1->setPlainText(QStringLiteral("café 中文"));
    l.mnuReuploadClick();
    EXPECT_FALSE(l.Saved());
    EXPECT_TRUE(ReadTestFile(latin) == std::string("caf\xe9\n"));
    EXPECT_NE(a.said.back().find("ISO-8859-1"), std::string::npos);
    EXPECT_EQ(l.Memo1->toPlainText(), QStringLiteral("café 中文"));
}

TEST(Editor, FilesItMustNotEditAndSavesThatFailKeepTheText)
{
    QTemporaryDir dir;
    Answers a;
    TfrmEditor missing(a);
    EXPECT_FALSE(missing.LoadFile(dir.filePath("none.txt"), false));
    ASSERT_EQ(a.said.size(), 1u);

    // Zero bytes would not survive the text field: viewing only.
    const QString binary = dir.filePath("b.bin");
    WriteTestFile(binary, QByteArray("a\0b", 3));
    TfrmEditor b(a);
    EXPECT_FALSE(b.LoadFile(binary, false));
    EXPECT_TRUE(b.LoadFile(binary, true));
    EXPECT_FALSE(b.mnuReupload->isVisible());

    // The folder went away under the editor: the save fails, the editor stays.
    QDir(dir.filePath("sub")).mkpath(QStringLiteral("."));
    const QString inSub = dir.filePath("sub/x.txt");
    WriteTestFile(inSub, "x");
    TfrmEditor e(a);
    ASSERT_TRUE(e.LoadFile(inSub, false));
    e.show();
    QDir(dir.filePath("sub")).removeRecursively();
    e.Memo1->setPlainText(QStringLiteral("work"));
    e.mnuReuploadClick();
    EXPECT_FALSE(e.Saved());
    EXPECT_TRUE(e.isVisible());
    EXPECT_EQ(e.Memo1->toPlainText(), QStringLiteral("work"));
    EXPECT_NE(a.said.back().find("无法保存"), std::string::npos);
}

TEST(Editor, ClosingWithoutSendingAsksFirst)
{
    QTemporaryDir dir;
    WriteTestFile(dir.filePath("a.txt"), "a");
    Answers a;
    TfrmEditor e(a);
    ASSERT_TRUE(e.LoadFile(dir.filePath("a.txt"), false));
    e.show();
    e.mnuAbort->trigger();  // "no": stays open
    EXPECT_EQ(a.said, std::vector<std::string>{"你确定你要中断吗 ?"});
    EXPECT_TRUE(e.isVisible());
    a.confirm = true;
    e.reject();  // Esc
    EXPECT_FALSE(e.isVisible());
    EXPECT_EQ(e.result(), QDialog::Rejected);
    EXPECT_EQ(a.said.size(), 2u);
}

TEST(Editor, FindFindNextWrapAndTheEditMenu)
{
    QTemporaryDir dir;
    WriteTestFile(dir.filePath("a.txt"), "one Two\nthree two\n");
    Answers a;
    TfrmEditor e(a);
    ASSERT_TRUE(e.LoadFile(dir.filePath("a.txt"), false));
    a.find = "TWO";  // without regard to case
    e.mnuFindClick();
    EXPECT_EQ(e.Memo1->textCursor().selectionStart(), 4);
    EXPECT_TRUE(e.FindNext());
    EXPECT_EQ(e.Memo1->textCursor().selectionStart(), 14);
    EXPECT_FALSE(e.FindNext());
    EXPECT_EQ(a.said.back(), "文字没找到");
    EXPECT_EQ(e.Memo1->textCursor().selectionStart(), 14);  // the last match stays selected

    e.mnuWordWrap->trigger();
    EXPECT_EQ(e.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(e.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    e.mnuWordWrap->trigger();
    EXPECT_EQ(e.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);

    e.resize(480, 240);
    e.grab().save(QStringLiteral("editor-screenshot.png"));  // for a person to look at (tools/screenshot.sh)

    QApplication::clipboard()->setText(QStringLiteral("clip"));
    e.mnuEditPopup();
    EXPECT_TRUE(e.mnuPaste->isEnabled() && e.mnuCut->isEnabled() && e.mnuClear->isEnabled());
    e.mnuClear->trigger();
    EXPECT_EQ(e.Memo1->toPlainText(), QStringLiteral("one Two\nthree "));
    e.mnuEditPopup();
    EXPECT_FALSE(e.mnuCut->isEnabled() || e.mnuCopy->isEnabled() || e.mnuClear->isEnabled());
}

TEST(Editor, PrintsThroughThePrinterChoice)
{
    QTemporaryDir dir;
    WriteTestFile(dir.filePath("a.txt"), "printed text\n");
    Answers a;
    a.pdf = dir.filePath("out.pdf").toStdString();
    TfrmEditor e(a);
    ASSERT_TRUE(e.LoadFile(dir.filePath("a.txt"), false));
    e.mnuPrint->trigger();
    EXPECT_EQ(ReadTestFile(dir.filePath("out.pdf")).substr(0, 5), "%PDF-");
}

// Qt's own buttons and menus speak the program's language.
TEST(QtTexts, StandardButtonsAndTheEditMenuAreChinese)
{
    ASSERT_GE(InstallQtTranslations(*QCoreApplication::instance()), 1);
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Yes |
                         QDialogButtonBox::No);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("取消"));
    EXPECT_TRUE(box.button(QDialogButtonBox::Yes)->text().startsWith(QStringLiteral("是")));
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << a->text();
    EXPECT_TRUE(texts.join(QLatin1Char('|')).contains(QStringLiteral("粘贴"))) << texts.join('|').toStdString();
    for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}
