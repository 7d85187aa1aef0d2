#include "sites/IniFile.h"

#include "common/Text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

// The folder holding path ("." for a bare name).
std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::string_view unquote(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

}  // namespace

// ---------------------------------------------------------------- document

void TIniDocument::Clear()
{
    m_sections.clear();
    m_index.clear();
    m_erased = 0;
}

void TIniDocument::Parse(std::string_view text)
{
    Clear();
    Section* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = TrimLine(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            if (close == std::string_view::npos)
                continue;
            const std::string_view name = TrimLine(line.substr(1, close - 1));
            // The first of two sections of the same name is the one in use.
            current = find(name) ? nullptr : &findOrAdd(name);
            continue;
        }
        const size_t eq = line.find('=');
        if (!current || eq == std::string_view::npos)
            continue;
        const std::string_view key = TrimLine(line.substr(0, eq));
        if (key.empty() || current->findKey(key))
            continue;  // the first of two keys of the same name is the one in use
        current->add(std::string(key), std::string(unquote(TrimLine(line.substr(eq + 1)))));
    }
}

std::string TIniDocument::Serialize() const
{
    std::string out;
    for (const Section& s : m_sections) {
        if (s.erased)
            continue;
        out += "[" + s.name + "]\r\n";
        for (const Entry& e : s.entries) {
            // Values that reading would change (outer blanks, a pair of outer
            // quotes) are written inside quotes, which reading removes again.
            const std::string& v = e.value;
            const bool guard =
                !v.empty() &&
                (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t' || v.back() == '\r' ||
                 (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()));
            out += e.key + "=" + (guard ? "\"" + v + "\"" : v) + "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

const TIniDocument::Entry* TIniDocument::Section::findKey(std::string_view key) const
{
    auto it = keys.find(AsciiLower(key));
    return it == keys.end() ? nullptr : &entries[it->second];
}

void TIniDocument::Section::add(std::string key, std::string value)
{
    keys.emplace(AsciiLower(key), entries.size());
    entries.push_back({std::move(key), std::move(value)});
}

TIniDocument::Section* TIniDocument::find(std::string_view section)
{
    auto it = m_index.find(AsciiLower(section));
    return it == m_index.end() ? nullptr : &m_sections[it->second];
}

const TIniDocument::Section* TIniDocument::find(std::string_view section) const
{
    auto it = m_index.find(AsciiLower(section));
    return it == m_index.end() ? nullptr : &m_sections[it->second];
}

TIniDocument::Section& TIniDocument::findOrAdd(std::string_view section)
{
    if (Section* s = find(section))
        return *s;
    m_index.emplace(AsciiLower(section), m_sections.size());
    m_sections.push_back({std::string(section), {}, {}, false});
    return m_sections.back();
}

std::optional<std::string> TIniDocument::Get(std::string_view section, std::string_view key) const
{
    if (const Section* s = find(section))
        if (const Entry* e = s->findKey(key))
            return e->value;
    return std::nullopt;
}

void TIniDocument::Set(std::string_view section, std::string_view key, std::string_view value)
{
    // A value is one line: a line end inside would forge further keys.
    std::string clean(value);
    for (char& c : clean)
        if (c == '\r' || c == '\n')
            c = ' ';
    Section& s = findOrAdd(section);
    auto it = s.keys.find(AsciiLower(key));
    if (it != s.keys.end()) {
        s.entries[it->second].value = std::move(clean);
        return;
    }
    s.add(std::string(key), std::move(clean));
}

bool TIniDocument::EraseKey(std::string_view section, std::string_view key)
{
    Section* s = find(section);
    if (!s)
        return false;
    auto it = s->keys.find(AsciiLower(key));
    if (it == s->keys.end())
        return false;
    s->entries.erase(s->entries.begin() + static_cast<long>(it->second));
    s->keys.clear();
    for (size_t i = 0; i < s->entries.size(); ++i)
        s->keys.emplace(AsciiLower(s->entries[i].key), i);
    return true;
}

bool TIniDocument::EraseSection(std::string_view section)
{
    auto it = m_index.find(AsciiLower(section));
    if (it == m_index.end())
        return false;
    // Marked, not removed, so the index of every other section stays valid;
    // the slot is compacted away when many have been erased.
    m_sections[it->second].erased = true;
    m_sections[it->second].entries.clear();
    m_sections[it->second].keys.clear();
    m_index.erase(it);
    const size_t erased = ++m_erased;
    if (erased > 64 && erased * 2 > m_sections.size()) {
        m_erased = 0;
        std::vector<Section> kept;
        kept.reserve(m_sections.size() - erased);
        m_index.clear();
        for (Section& s : m_sections) {
            if (s.erased)
                continue;
            m_index.emplace(AsciiLower(s.name), kept.size());
            kept.push_back(std::move(s));
        }
        m_sections = std::move(kept);
    }
    return true;
}

bool TIniDocument::HasSection(std::string_view section) const
{
    return find(section) != nullptr;
}

std::vector<std::pair<std::string, std::string>> TIniDocument::Entries(std::string_view section) const
{
    std::vector<std::pair<std::string, std::string>> out;
    if (const Section* s = find(section))
        for (const Entry& e : s->entries)
            out.emplace_back(e.key, e.value);
    return out;
}

std::vector<std::string> TIniDocument::SectionNames() const
{
    std::vector<std::string> out;
    for (const Section& s : m_sections)
        if (!s.erased)
            out.push_back(s.name);
    return out;
}

// ---------------------------------------------------------------- values

std::optional<int> ParseIniInteger(std::string_view text)
{
    text = TrimLine(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& error)
{
    const size_t slash = path.rfind('/');
    std::string tmpl = (slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1)) + ".corvyne-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    auto fail = [&](const char* step) {
        error = "无法保存文件 \"" + path + "\": " + step + ": " + std::strerror(errno);
        return false;
    };
    if (fd < 0)
        return fail("create");
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int saved = errno ? errno : ENOSPC;
            ::close(fd);
            ::unlink(tmpl.c_str());
            errno = saved;
            return fail("write");
        }
        done += static_cast<size_t>(n);
    }
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) | S_IWUSR : 0644);
    if (::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        ::unlink(tmpl.c_str());
        errno = saved;
        return fail("sync");
    }
    ::close(fd);
    if (::rename(tmpl.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(tmpl.c_str());
        errno = saved;
        return fail("rename");
    }
    error.clear();
    return true;
}

// ---------------------------------------------------------------- file

TIniFile::TIniFile(std::string path, bool autoSave) : m_path(std::move(path)), m_autoSave(autoSave) {}

bool TIniFile::Exists() const
{
    struct stat st {};
    return !m_path.empty() && ::stat(m_path.c_str(), &st) == 0;
}

namespace {

// The whole file; a missing file is empty. False on a read error.
bool readWholeFile(const std::string& path, std::string& text, std::string& error)
{
    text.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT)
            return true;
        error = "无法读取文件 \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad)
        error = "无法读取文件 \"" + path + "\"";
    return !bad;
}

// An exclusive lock on the file's folder for the read-merge-write of a flush
// (the file itself is replaced by the rename, so it cannot hold the lock).
class FolderLock {
public:
    explicit FolderLock(const std::string& path)
    {
        m_fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd >= 0)
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);  // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd = -1;
};

}  // namespace

bool TIniFile::Load()
{
    m_doc.Clear();
    m_lastError.clear();
    struct stat st {};
    if (m_path.empty() || ::stat(m_path.c_str(), &st) != 0) {
        for (const Op& op : m_pending)
            apply(m_doc, op);
        return true;  // a missing file reads as empty
    }
    if (!(st.st_mode & S_IWUSR))
        ::chmod(m_path.c_str(), st.st_mode | S_IWUSR);  // read-only cleared, as for any data file
    std::string text;
    if (!readWholeFile(m_path, text, m_lastError))
        return false;
    m_doc.Parse(text);
    for (const Op& op : m_pending)
        apply(m_doc, op);
    return true;
}

bool TIniFile::Save()
{
    if (m_path.empty())
        return true;
    return WriteFileAtomically(m_path, m_doc.Serialize(), m_lastError);
}

bool TIniFile::Flush()
{
    if (m_pending.empty() || m_path.empty()) {
        m_pending.clear();
        return true;
    }
    FolderLock lock(m_path);
    std::string text;
    if (!readWholeFile(m_path, text, m_lastError))
        return false;
    TIniDocument merged;
    merged.Parse(text);
    for (const Op& op : m_pending)
        apply(merged, op);
    std::string out = merged.Serialize();
    // Writes that change nothing on disk cost no write and no sync.
    if (out != text && !WriteFileAtomically(m_path, out, m_lastError))
        return false;
    m_lastError.clear();
    m_pending.clear();
    m_doc = std::move(merged);
    return true;
}

void TIniFile::apply(TIniDocument& doc, const Op& op)
{
    switch (op.kind) {
        case Op::Set:
            doc.Set(op.section, op.key, op.value);
            break;
        case Op::EraseKey:
            doc.EraseKey(op.section, op.key);
            break;
        case Op::EraseSection:
            doc.EraseSection(op.section);
            break;
    }
}

void TIniFile::record(Op op)
{
    apply(m_doc, op);
    if (m_autoSave)
        m_pending.push_back(std::move(op));
}

bool TIniFile::changed()
{
    if (!m_autoSave || m_batch > 0)
        return true;
    return Flush();
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    auto v = m_doc.Get(section, key);
    return v && !v->empty() ? *v : std::string(def);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const
{
    auto v = m_doc.Get(section, key);
    if (!v)
        return def;
    return ParseIniInteger(*v).value_or(def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    auto v = m_doc.Get(section, key);
    if (!v)
        return def;
    auto n = ParseIniInteger(*v);
    return n ? *n != 0 : def;
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    record({Op::Set, std::string(section), std::string(key), std::string(value)});
    return changed();
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::DeleteKey(std::string_view section, std::string_view key)
{
    // Recorded even when absent here: another writer may have added it.
    record({Op::EraseKey, std::string(section), std::string(key), {}});
    return changed();
}

bool TIniFile::EraseSection(std::string_view section)
{
    record({Op::EraseSection, std::string(section), {}, {}});
    return changed();
}

std::vector<std::string> TIniFile::ReadSectionLines(std::string_view section) const
{
    std::vector<std::string> out;
    for (auto& [k, v] : m_doc.Entries(section))
        out.push_back(k + "=" + v);
    return out;
}

std::vector<std::string> TIniFile::ReadList(std::string_view section, std::string_view prefix) const
{
    std::vector<std::string> out;
    for (int i = 1;; ++i) {
        std::string v = ReadString(section, std::string(prefix) + std::to_string(i));
        if (v.empty())
            break;
        out.push_back(std::move(v));
    }
    return out;
}

bool TIniFile::WriteList(std::string_view section, std::string_view prefix, const std::vector<std::string>& items)
{
    record({Op::EraseSection, std::string(section), {}, {}});
    int n = 0;
    for (const std::string& item : items)
        record({Op::Set, std::string(section), std::string(prefix) + std::to_string(++n), item});
    return changed();
}
