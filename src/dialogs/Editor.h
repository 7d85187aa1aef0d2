#pragma once
// TfrmEditor: the built-in text editor for a remote file fetched for editing
// ("重新上传" sends it back), and the text viewer where no program opens a
// file. The file's bytes come back as they were except where the text was
// changed: its encoding (UTF-8, GB18030 or one byte per character) and each
// line's end are kept (TEditorText).

#include "session/EditorText.h"
#include "common/Prompt.h"

#include <QDialog>

class QAction;
class QMenu;
class QPlainTextEdit;
class QTextDocument;

// Asks for a printer (or a PDF file) and prints the document; false when
// cancelled or failed (the failure is told).
bool PrintDocument(IPrompt& prompt, QTextDocument& document);

class TfrmEditor : public QDialog {
    Q_OBJECT

public:
    explicit TfrmEditor(IPrompt& prompt, QWidget* parent = nullptr);
    // False (and told) when the file cannot be read, or, for editing, is no
    // text: its zero bytes would not survive.
    bool LoadFile(const QString& path, bool viewOnly);
    const QString& Path() const { return m_path; }
    bool Saved() const { return m_saved; }

    QPlainTextEdit* Memo1 = nullptr;
    QMenu* mnuEdit = nullptr;
    QAction *mnuReupload = nullptr, *mnuPrint = nullptr, *mnuAbort = nullptr;
    QAction *mnuCut = nullptr, *mnuCopy = nullptr, *mnuPaste = nullptr, *mnuClear = nullptr, *mnuSelectAll = nullptr;
    QAction *mnuWordWrap = nullptr, *mnuFind = nullptr, *mnuFindNext = nullptr;

    void mnuReuploadClick();  // saves the text to the file; closes with OK
    void mnuWordWrapClick();
    void mnuFindClick();  // asks for the text, then searches from the start
    bool Find(const QString& text, int from);
    bool FindNext();
    void mnuEditPopup();  // the edit items follow the selection and the clipboard

    void reject() override;  // Esc and "中断": asks first unless sent

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    IPrompt& m_prompt;
    QString m_path;
    QString m_findText;
    bool m_saved = false;
    bool m_viewOnly = false;
    bool m_closing = false;
    TEditorText m_text;
};
