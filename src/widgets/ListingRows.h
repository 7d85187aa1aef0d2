#pragma once
// Listing lines made into pane rows on a worker thread, in order, while the
// window's thread goes on reading the listing: a large listing is parsed
// beside its arrival instead of after each line. One job per listing; the
// rules (server type, filter, link display) are those of its first line.

#include "widgets/corvview.h"
#include "ftp/ListingLines.h"
#include "ftp/NameCodec.h"
#include "ftp/Parser.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class QThreadPool;

struct TListingRules {
    TFTPServerType serverType = ftpstDefault;
    QString filter = QStringLiteral("*.*");
    bool filterFolders = true;  // folders must match the filter too
    bool showLinks = true;
    bool linksAsFiles = false;  // links shown as files
    bool mlsd = false;          // the lines answer "MLSD"
    std::shared_ptr<const TNameCodec> names;  // the names' charset; none: UTF-8
    QDateTime now;              // the parser's "now"; invalid: the clock
};

// "drwxr-x---" of a folder, link or file and its mode's octal digits (750).
std::string PermissionText(bool folder, bool link, int mode);

// One line to a row by the rules; false for lines that make no row. Shared
// permission strings (attributes) are looked up in and added to `shared`.
bool ListingRowOf(TListParser& parser, const TListingRules& rules, const std::string& line, TCorvRow& row,
                  std::vector<QString>& shared);

class TListingRows : public QObject {
public:
    explicit TListingRows(QObject* parent = nullptr);
    ~TListingRows() override;

    bool Active() const { return m_job != nullptr; }
    // Rows go to target's stream, in listing order, on the window's thread.
    void Begin(const TListingRules& rules, const std::string& vmsPending, TCorvListView* target);
    void Add(std::string_view line);
    // Hands the last lines on and waits for the worker: every row has gone
    // to the target when it returns. Gives the parser's VMS line still waiting.
    std::string Finish();
    void Cancel();  // rows of this listing still on their way are dropped

private:
    struct Job;
    void submit();
    void deliver();
    std::shared_ptr<Job> m_job;
    TCorvListView* m_target = nullptr;
    TListingLines m_lines;                // lines not yet handed on, in one block
    size_t m_seen = 0;                    // lines of this listing so far
    QTimer m_handOn;                      // a slow listing's lines go on after a moment, not after 2,000
    std::unique_ptr<QThreadPool> m_pool;  // one thread: batches run in order
};
