#include "widgets/ListingRows.h"

#include "panes/PaneLogic.h"

#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <exception>
#include <future>
#include <mutex>

namespace {
constexpr size_t BatchLines = 2000;
constexpr int HandOnMs = 20;
}  // namespace

bool ListingRowOf(TListParser& parser, const TListingRules& rules, const std::string& line, TCorvRow& row,
                  std::vector<QString>& shared)
{
    TRemoteEntry e;
    if (!parser.ParseLine(rules.serverType, rules.mlsd, line, e) || e.Name == "." || e.Name == "..")
        return false;
    bool bytesDiffer = false;
    const QString name = rules.names ? rules.names->Decode(e.Name, bytesDiffer)
                                     : QString::fromUtf8(e.Name.data(), static_cast<qsizetype>(e.Name.size()));
    if (!(MaskMatch(name, rules.filter) || (e.IsDir && !rules.filterFolders)))
        return false;
    if (e.IsLink && !rules.showLinks)
        return false;
    // The permission string: a first word of exactly ten characters, or
    // made from MLSD's "UNIX.mode". A listing has few distinct ones: rows
    // share them instead of a copy each.
    const size_t firstBlank = std::min(line.find(' '), line.size());
    const std::string fromMode = rules.mlsd && e.Mode >= 0 ? PermissionText(e.IsDir, e.IsLink, e.Mode) : std::string();
    QString attributes;
    if ((firstBlank == 10 && !rules.mlsd) || !fromMode.empty()) {
        const QLatin1StringView text(fromMode.empty() ? line.data() : fromMode.data(), 10);
        // Compared here, character by character: a call per row to the
        // general comparison costs more than the rest of the row's rules.
        auto known = std::find_if(shared.begin(), shared.end(), [&](const QString& s) {
            return std::equal(s.begin(), s.end(), text.begin(), text.end(),
                              [](QChar a, char b) { return a.unicode() == static_cast<uchar>(b); });
        });
        if (known != shared.end()) {
            attributes = *known;
        } else {
            attributes = QString(text);
            if (shared.size() < 32)
                shared.push_back(attributes);
        }
    }
    const int kind = e.IsDir ? rkFolder : e.IsLink ? (rules.linksAsFiles ? rkFile : rkLink) : rkFile;
    row = TCorvRow{kind, {name, QString(), QString(), attributes}, e.IsDir ? -1 : e.Size, e.Date,
                   bytesDiffer ? std::move(e.Name) : std::string()};
    return true;
}

std::string PermissionText(bool folder, bool link, int mode)
{
    std::string text = folder ? "d" : link ? "l" : "-";
    for (const int digit : {mode / 100 % 10, mode / 10 % 10, mode % 10}) {
        text += digit & 4 ? 'r' : '-';
        text += digit & 2 ? 'w' : '-';
        text += digit & 1 ? 'x' : '-';
    }
    return text;
}

// What the worker and the window's thread share for one listing: the worker
// alone parses (one parser, so a VMS name line meets its continuation), and
// finished batches wait in `done` under the lock until the window takes them.
// A batch's rows, and the same rows as the sort sees them.
using Batch = std::pair<std::vector<TCorvRow>, std::vector<TPaneRow>>;

struct TListingRows::Job {
    TListingRules rules;
    TListParser parser;
    std::vector<QString> shared;
    std::mutex lock;
    std::vector<Batch> done;
    std::exception_ptr failure;
    std::future<void> last;  // the latest batch's end
};

TListingRows::TListingRows(QObject* parent) : QObject(parent), m_pool(std::make_unique<QThreadPool>())
{
    m_pool->setMaxThreadCount(1);
    m_handOn.setSingleShot(true);
    connect(&m_handOn, &QTimer::timeout, this, [this] { submit(); });
}

TListingRows::~TListingRows()
{
    Cancel();
    m_pool->waitForDone();
}

void TListingRows::Begin(const TListingRules& rules, const std::string& vmsPending, TCorvListView* target)
{
    Cancel();
    m_target = target;
    m_job = std::make_shared<Job>();
    m_job->rules = rules;
    m_job->parser.Now = rules.now;
    m_job->parser.VmsPendingLine = vmsPending;
    m_seen = 0;
}

void TListingRows::Add(std::string_view line)
{
    ++m_seen;
    m_lines.push_back(line);
    if (m_lines.size() >= BatchLines)
        submit();
    else if (m_lines.size() == 1)
        m_handOn.start(HandOnMs);
}

void TListingRows::submit()
{
    m_handOn.stop();
    if (!m_job || m_lines.empty())
        return;
    auto lines = std::make_shared<TListingLines>(std::move(m_lines));
    m_lines.clear();
    m_lines.reserve(lines->Bytes() + lines->Bytes() / 4, BatchLines);
    auto done = std::make_shared<std::promise<void>>();
    m_job->last = done->get_future();
    std::weak_ptr<Job> weak = m_job;
    QPointer<TListingRows> self(this);
    m_pool->start([weak, lines, done, self] {
        if (std::shared_ptr<Job> job = weak.lock()) {
            std::vector<TCorvRow> rows;
            std::vector<TPaneRow> sortRows;
            rows.reserve(lines->size());
            try {
                std::string line;  // one string for the batch's lines
                for (const std::string_view text : *lines) {
                    line.assign(text);
                    TCorvRow row;
                    if (ListingRowOf(job->parser, job->rules, line, row, job->shared))
                        rows.push_back(std::move(row));
                }
                // Copies for the sort keys, made here while the rows are at hand.
                sortRows.reserve(rows.size());
                for (const TCorvRow& row : rows)
                    sortRows.push_back(TCorvListView::SortRowOf(row));
            } catch (...) {
                const std::lock_guard<std::mutex> hold(job->lock);
                job->failure = std::current_exception();
                sortRows.clear();  // none rather than some: the pane makes them
            }
            {
                const std::lock_guard<std::mutex> hold(job->lock);
                job->done.emplace_back(std::move(rows), std::move(sortRows));
            }
            // Shown as soon as the window's thread comes round to it.
            QMetaObject::invokeMethod(
                self.data(),
                [self] {
                    if (self)
                        self->deliver();
                },
                Qt::QueuedConnection);
        }
        done->set_value();
    });
}

void TListingRows::deliver()
{
    if (!m_job)
        return;
    std::vector<Batch> batches;
    std::exception_ptr failure;
    {
        const std::lock_guard<std::mutex> hold(m_job->lock);
        batches.swap(m_job->done);
        std::swap(failure, m_job->failure);
    }
    m_target->ExpectRows(m_seen);  // most lines become rows
    for (auto& [rows, sortRows] : batches) {
        m_target->AddRows(rows, &sortRows);
        // Freed as it goes: a replayed listing delivers all its batches at once.
        std::vector<TCorvRow>().swap(rows);
        std::vector<TPaneRow>().swap(sortRows);
    }
    if (failure)
        std::rethrow_exception(failure);  // to the application's handler, as a failure on this thread would go
}

std::string TListingRows::Finish()
{
    if (!m_job)
        return {};
    submit();
    if (m_job->last.valid())
        m_job->last.wait();
    const std::shared_ptr<Job> job = m_job;
    deliver();
    m_job.reset();
    return job->parser.VmsPendingLine;
}

void TListingRows::Cancel()
{
    m_handOn.stop();
    m_lines.clear();
    m_job.reset();  // a batch still running finds no job and posts nothing
}
