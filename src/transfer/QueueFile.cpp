#include "transfer/QueueFile.h"

#include "common/TextFormat.h"
#include "sites/IniFile.h"
#include "sites/SiteDb.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdint>

namespace {

constexpr char Separator = '\x01';
constexpr std::string_view LineEnd = "\r\n";
// Longer than any path a file system or server takes, far shorter than a
// line that would hurt to hold: longer lines are not entries.
constexpr size_t MaxLine = 64 * 1024;
// A queue of a million entries is well below this.
constexpr qint64 MaxFileSize = 512LL * 1024 * 1024;

std::string shortened(std::string_view text)
{
    constexpr size_t Shown = 120;
    std::string out(text.substr(0, Shown));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    if (text.size() > Shown)
        out += "...";
    return out;
}

bool hasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

std::string sizeText(const TQueueEntry& e)
{
    return e.Size < 0 || IsDirectoryEntry(e.Kind) ? std::string() : PaneSizeText(e.Size).toStdString();
}

// "1,234" (as the queue shows it) or "1234"; anything else is an unknown size.
int64_t parseSizeText(std::string_view text)
{
    int64_t v = 0;
    bool digits = false;
    for (char c : text) {
        if (c == ',' || c == '.' || c == ' ')
            continue;
        if (c < '0' || c > '9' || v > (INT64_MAX - 9) / 10)
            return -1;
        v = v * 10 + (c - '0');
        digits = true;
    }
    return digits ? v : -1;
}

// Calls line(number, text) for each line, its CR LF (or lone LF) removed.
template <class F>
void forEachLine(std::string_view text, F line)
{
    size_t number = 0;
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        std::string_view l = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!l.empty() && l.back() == '\r')
            l.remove_suffix(1);
        line(number, l);
    }
}

// The four fields of an entry, checked: a kind 0..3, a source and a target.
// nullopt with the reason set when they do not make one.
std::optional<TQueueEntry> makeEntry(int kind, std::string_view source, std::string_view size, std::string_view target,
                                     std::string& reason)
{
    if (kind < 0 || kind > 3) {
        reason = "类型不在 0 到 3 之间";
        return std::nullopt;
    }
    if (source.empty() || target.empty()) {
        reason = "源或目标为空";
        return std::nullopt;
    }
    TQueueEntry e;
    e.Kind = static_cast<TEntryKind>(kind);
    e.Source = std::string(source);
    e.Target = std::string(target);
    e.Size = IsDirectoryEntry(e.Kind) ? -1 : parseSizeText(size);
    return e;
}

}  // namespace

std::string TQueueFileSkip::LogText() const
{
    std::string out = Line > 0 ? "队列文件第 " + std::to_string(Line) + " 行未载入 (" + Reason + ")"
                               : "队列项未保存 (" + Reason + ")";
    if (!Text.empty())
        out += ": " + Text;
    return out;
}

// ---------------------------------------------------------------- plain form

std::string FormatPlainQueue(const std::vector<TQueueEntry>& entries, std::vector<TQueueFileSkip>& skipped)
{
    std::string out;
    for (const TQueueEntry& e : entries) {
        // The target may hold the separator (it is the rest of the line); a
        // line break or a separator anywhere else would make another entry.
        const std::string size = sizeText(e);
        if (e.Source.find(Separator) != std::string::npos || hasLineBreak(e.Source) || hasLineBreak(e.Target)) {
            skipped.push_back({0, "名称含有分隔符或换行", shortened(e.Source)});
            continue;
        }
        out += std::to_string(static_cast<int>(e.Kind));
        out += Separator;
        out += e.Source;
        out += Separator;
        out += size;
        out += Separator;
        out += e.Target;
        out += LineEnd;
    }
    return out;
}

std::vector<TQueueEntry> ParsePlainQueue(std::string_view text, std::vector<TQueueFileSkip>& skipped)
{
    std::vector<TQueueEntry> entries;
    forEachLine(text, [&](size_t number, std::string_view line) {
        if (line.empty())
            return;
        auto skip = [&](std::string reason) { skipped.push_back({number, std::move(reason), shortened(line)}); };
        if (line.size() > MaxLine)
            return skip("行太长");
        // kind ␁ source ␁ size ␁ target (the target is the rest of the line)
        std::string_view field[4];
        std::string_view rest = line;
        for (int i = 0; i < 3; ++i) {
            const size_t sep = rest.find(Separator);
            if (sep == std::string_view::npos)
                return skip("字段不足");
            field[i] = rest.substr(0, sep);
            rest = rest.substr(sep + 1);
        }
        field[3] = rest;
        const std::optional<int> kind = ParseIniInteger(field[0]);
        if (!kind)
            return skip("类型不是数字");
        std::string reason;
        if (std::optional<TQueueEntry> e = makeEntry(*kind, field[1], field[2], field[3], reason))
            entries.push_back(std::move(*e));
        else
            skip(std::move(reason));
    });
    return entries;
}

// ---------------------------------------------------------------- site-queue form

std::string FormatSiteQueue(const TSiteQueue& queue, std::vector<TQueueFileSkip>& skipped)
{
    // A value is one line: a line break in a field typed by hand is dropped.
    auto value = [](std::string v) {
        std::erase_if(v, [](char c) { return c == '\r' || c == '\n'; });
        return v;
    };
    std::string out = "[HOSTINFO]\r\nHOST=" + value(queue.Host) + "\r\n";
    if (queue.Port && !queue.Port->empty() && *queue.Port != "21")
        out += "PORT=" + value(*queue.Port) + "\r\n";
    if (queue.User) {
        out += "USER=" + value(*queue.User) + "\r\n";
        out += "PASS=" + ScramblePassword(value(queue.Password.value_or(std::string()))) + "\r\n";
    }
    if (!queue.Dial.empty())
        out += "DIAL=" + value(queue.Dial) + "\r\n";
    if (queue.HangUp)
        out += "HANGUP=YES\r\n";
    if (queue.Quit)
        out += "QUIT=YES\r\n";
    out += "\r\n[FILES]\r\n";
    for (const TQueueEntry& e : queue.Entries) {
        // The fields end at a quote followed by a comma: one inside a field
        // would split it.
        const std::string size = sizeText(e);
        if (e.Source.find("\",") != std::string::npos || e.Target.find("\",") != std::string::npos ||
            hasLineBreak(e.Source) || hasLineBreak(e.Target)) {
            skipped.push_back({0, "名称含有 \", 或换行", shortened(e.Source)});
            continue;
        }
        out += '"' + std::to_string(static_cast<int>(e.Kind)) + "\",\"" + e.Source + "\",\"" + size + "\",\"" +
               e.Target + "\"\r\n";
    }
    return out;
}

TSiteQueue ParseSiteQueue(std::string_view text, std::vector<TQueueFileSkip>& skipped)
{
    TSiteQueue q;
    forEachLine(text, [&](size_t number, std::string_view line) {
        if (line.empty() || line.front() == '[')
            return;
        auto skip = [&](std::string reason) { skipped.push_back({number, std::move(reason), shortened(line)}); };
        if (line.size() > MaxLine)
            return skip("行太长");
        if (line.front() == '"') {
            // Each field runs from after its opening quote to the next quote
            // followed by a comma; the last one to the line's closing quote.
            std::vector<std::string_view> fields;
            std::string_view rest = line;
            while (!rest.empty() && fields.size() <= 4) {
                const std::string_view body = rest.substr(1);
                const size_t end = body.find("\",");
                if (end == std::string_view::npos) {
                    fields.push_back(!body.empty() && body.back() == '"' ? body.substr(0, body.size() - 1) : body);
                    break;
                }
                fields.push_back(body.substr(0, end));
                rest = body.substr(end + 2);
            }
            if (fields.size() != 4)
                return skip("不是四个字段");
            // The kind is the field's leading digits.
            const std::string_view k = fields[0];
            const size_t digits =
                std::find_if(k.begin(), k.end(), [](char c) { return c < '0' || c > '9'; }) - k.begin();
            if (digits == 0)
                return skip("类型不是数字");
            const int kind = digits > 2 ? 99 : std::stoi(std::string(k.substr(0, digits)));
            std::string reason;
            if (std::optional<TQueueEntry> e = makeEntry(kind, fields[1], fields[2], fields[3], reason))
                q.Entries.push_back(std::move(*e));
            else
                skip(std::move(reason));
            return;
        }
        const size_t eq = line.find('=');
        std::string key(line.substr(0, eq));
        std::transform(key.begin(), key.end(), key.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
        const std::string value(eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1));
        if (key == "HOST") {
            if (!value.empty())
                q.Host = value;
        } else if (key == "USER") {
            q.User = value;
        } else if (key == "PASS") {
            q.Password = UnscramblePassword(value);
        } else if (key == "PORT") {
            q.Port = value;
        } else if (key == "QUIT") {
            q.Quit = true;  // whatever the value says
        } else if (key == "DIAL") {
            q.Dial = value;
        } else if (key == "HANGUP") {
            q.HangUp = true;
        }
    });
    return q;
}

// ---------------------------------------------------------------- files

std::string QueueFileSafePath(const std::string& path)
{
    std::string out = path;
    const size_t slash = out.rfind('/');
    for (size_t i = slash == std::string::npos ? 0 : slash + 1; i < out.size(); ++i)
        if (std::string_view("?\"*:<>|").find(out[i]) != std::string_view::npos)
            out[i] = '_';
    return out;
}

bool WriteQueueFile(const std::string& path, std::string_view text, std::string& error)
{
    return WriteFileAtomically(path, text, error);
}

bool ReadQueueFile(const std::string& path, std::string& text, std::string& error)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) {
        error = "无法打开队列文件 " + path + ": " + f.errorString().toStdString();
        return false;
    }
    if (f.size() > MaxFileSize) {
        error = "队列文件太大: " + path;
        return false;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        error = "无法读取队列文件 " + path + ": " + f.errorString().toStdString();
        return false;
    }
    text.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

namespace {
// The local side of an entry, absolute and with "." and ".." resolved; a
// relative path counts from "/" (a queue file names no folder of its own).
std::string localPathOf(const TQueueEntry& e)
{
    const std::string& path = IsDownloadEntry(e.Kind) ? e.Target : e.Source;
    return QDir::cleanPath(QDir(QStringLiteral("/")).absoluteFilePath(QString::fromStdString(path))).toStdString();
}

void addOnce(std::vector<std::string>& list, const std::string& item)
{
    if (std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(item);
}
}  // namespace

TQueueReach QueueReach(const std::vector<TQueueEntry>& entries)
{
    TQueueReach reach;
    for (const TQueueEntry& e : entries) {
        const std::string path = localPathOf(e);
        const std::string folder = IsDirectoryEntry(e.Kind) ? EnsureTrailingSeparator(path) : ParentPath(path);
        addOnce(IsDownloadEntry(e.Kind) ? reach.WriteFolders : reach.ReadFolders, folder.empty() ? "/" : folder);
    }
    return reach;
}

std::vector<TQueueEntry> TakeEntriesOutside(std::vector<TQueueEntry>& entries, const std::string& root)
{
    std::string inside = QDir::cleanPath(QString::fromStdString(root)).toStdString();
    if (inside.empty() || inside.back() != '/')
        inside += '/';
    std::vector<TQueueEntry> kept, outside;
    for (TQueueEntry& e : entries) {
        const std::string path = localPathOf(e);
        (path.rfind(inside, 0) == 0 ? kept : outside).push_back(std::move(e));
    }
    entries = std::move(kept);
    return outside;
}

std::string SiteQueueQuestion(const std::string& file, const TSiteQueue& q)
{
    const TQueueReach reach = QueueReach(q.Entries);
    auto folders = [](const std::vector<std::string>& list) {
        std::string text;
        for (size_t i = 0; i < list.size() && i < 8; ++i)
            text += "\n    " + list[i];
        if (list.size() > 8)
            text += "\n    ... (" + std::to_string(list.size()) + ")";
        return text.empty() ? std::string("\n    (无)") : text;
    };
    return "站点队列文件 \"" + file + "\" 将连接到 " + (q.Host.empty() ? std::string("(没有主机)") : q.Host) +
           (q.User ? ", 用户 " + *q.User : std::string()) + ", 传输 " + std::to_string(q.Entries.size()) + " 个项目." +
           "\n读取的本地目录:" + folders(reach.ReadFolders) + "\n写入的本地目录:" + folders(reach.WriteFolders) +
           (q.Quit ? "\n完成后退出 Corvyne." : "") + "\n\n要运行吗?";
}
