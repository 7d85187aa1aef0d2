#pragma once
// The remote pane: the server's current folder as rows made from its listing
// (on a worker, through the listing cache), the folders visited in its path
// box, links followed and come back from, and the listing as text for
// saving and printing. It follows the session's signals itself.

#include "app/FilePane.h"
#include "ftp/Parser.h"
#include "widgets/ListingRows.h"

#include <string_view>

class TRemotePane : public TFilePane {
    Q_OBJECT

public:
    TRemotePane(TWindowParts& parts, QObject* parent);
    bool IsRemote() const override { return true; }

    const std::string& Directory() const { return m_dir; }  // as last listed
    std::string CurrentPath() const;                          // the client's, with a trailing "/"
    // The site's filter, applied when it is connected to.
    void ApplySite(const std::string& filter) { SetFilter(QString::fromStdString(filter.empty() ? "*.*" : filter)); }
    void Show();       // the current folder: from the cache when it can, else listed
    void ShowAgain();  // the same, after a switch or filter change, when rows are shown

    void Refresh() override;
    void AskChangeDirectory() override;
    void Up() override;
    void Parent() override;

    // The first row of that name (case ignored): its name as shown, size and date texts.
    bool FindRow(const QString& name, QString& shown, QString& size, QString& date) const;
    // The listing as printed and saved: header line, blank line, lines.
    QStringList ListingReport(const QString& date) const;
    void AskSaveListing();  // the listing into a text file
    void Print();           // on paper (or into a PDF file)
    // The address of the connection, or of the selected file, to the clipboard.
    void CopyAddress(bool file);

Q_SIGNALS:
    void Listed();  // a listing ended and its rows are shown

protected:
    void openRow(int row) override;
    bool autoSize() const override;
    bool ignoresCase() const override;
    void filterChanged() override;

private:
    void connectSession();
    void sessionCleared();
    void stateChanged();
    void addLine(std::string_view line);
    void startFill();
    void list();
    void listingDone(bool success);
    void rebuildPathBox();
    void remember();  // a folder reached by a change goes on top of the path box
    QString listingHeader(const QString& date) const;  // date, server and directory, tab-separated

    std::string m_dir;                 // ends with "/" once listed
    std::vector<std::string> m_trail;  // "origin;target" of links followed
    TListParser m_parser;
    TListingRows m_rows;  // listing lines to rows, on a worker
};
