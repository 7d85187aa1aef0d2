#pragma once
// What the local and the remote pane have alike: the list with its path box
// above and its count line below, the filter, the summary of the rows or the
// selection, column fitting, selecting by mask and finding by name. The
// widgets are the pane's own; others see the rows through View().

#include "app/WindowParts.h"
#include "widgets/corvview.h"

#include <QObject>
#include <QString>

#include <string>
#include <vector>

class QComboBox;
class QKeyEvent;
class QLabel;
class QMouseEvent;
class QPoint;

class TFilePane : public QObject {
    Q_OBJECT

public:
    TFilePane(TWindowParts& parts, const QString& name, const QStringList& columns, int tag, QObject* parent);

    QWidget* Box() const { return m_box; }  // path box, list and count line, for the window's layout
    TCorvListView* View() const { return m_view; }
    QComboBox* PathBox() const { return m_pathBox; }
    QLabel* CountLine() const { return m_count; }
    virtual bool IsRemote() const = 0;

    QString Filter() const { return m_filter; }
    void SetFilter(const QString& filter) { m_filter = filter; }  // from the next listing on
    void AskFilter();                                             // "过滤文件(&L)"

    void ShowSummary();
    void FitColumns();  // to content, with the minimums; the name takes the rest
    void SetViewStyle(TViewStyle style);
    void SetShaded(bool active);  // the active pane's count line in the shadow colour

    void SelectAll();
    void InvertSelection();
    void AskGroupSelect();  // "组选择(&G)"
    void AskFind();         // "查找文件(&F)"
    bool FindNext();
    // Rows whose name is the mask, or matches it when it has a "*".
    std::vector<int> MatchingRows(const std::string& mask) const;
    bool SelectMatching(const std::string& mask);

    // The pane's own commands, as the directory menu and the pop-ups name them.
    virtual void Refresh() = 0;
    virtual void AskChangeDirectory() = 0;
    virtual void Up() = 0;      // Backspace
    void Activate();            // takes the focus (Tab from the other pane)
    void FocusPathBox();        // Ctrl+L: the path box (its folders chosen with the arrow keys)
    virtual void Parent() = 0;  // "主目录" on the toolbar

Q_SIGNALS:
    void Entered();                                  // took the focus, or was clicked
    void ContextMenuWanted(const QPoint& at, bool onItem);
    void FileOpened();                               // a file row double-clicked, or Enter on it
    void DeletePressed();
    void RowsDropped(int sourceTag, int row);        // rows dragged from a control of that tag
    void FindNextAvailable(bool available);

protected:
    TWindowParts& m_parts;
    virtual void openRow(int row) = 0;        // a double click or Enter on a row that is not a file
    virtual bool autoSize() const = 0;        // the settings' choice for this pane
    virtual bool ignoresCase() const { return false; }
    virtual void filterChanged() = 0;         // list again with the new filter

private:
    void fillNameColumn();
    bool keyDown(QKeyEvent* key);

    TCorvListView* m_view = nullptr;
    QComboBox* m_pathBox = nullptr;
    QLabel* m_count = nullptr;
    QWidget* m_box = nullptr;
    QString m_filter = QStringLiteral("*.*");
};
