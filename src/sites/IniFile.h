#pragma once
// INI files with the semantics of the classic profile functions: sections and
// keys matched without regard to ASCII letter case, the first of duplicate
// sections or keys wins, values trimmed and stripped of one pair of matching
// quotes, LF and CR LF both read, CR LF written.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// The in-memory document: sections and keys in file order.
class TIniDocument {
public:
    void Parse(std::string_view text);
    std::string Serialize() const;
    void Clear();

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    void Set(std::string_view section, std::string_view key, std::string_view value);
    bool EraseKey(std::string_view section, std::string_view key);
    bool EraseSection(std::string_view section);
    bool HasSection(std::string_view section) const;
    // key/value pairs of a section in file order (empty when absent).
    std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const;
    std::vector<std::string> SectionNames() const;

private:
    struct Entry {
        std::string key, value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
        std::unordered_map<std::string, size_t> keys;  // lower-cased key -> entry
        bool erased = false;
        const Entry* findKey(std::string_view key) const;
        void add(std::string key, std::string value);
    };
    Section* find(std::string_view section);
    const Section* find(std::string_view section) const;
    Section& findOrAdd(std::string_view section);

    std::vector<Section> m_sections;
    std::unordered_map<std::string, size_t> m_index;  // lower-cased name -> section
    size_t m_erased = 0;                              // erased slots not yet compacted
};

// An INI file on disk, held in memory. Without auto-save, Save() writes the
// whole file. With auto-save on (the settings file) it is a profile file: each
// write is also kept as an operation and replayed on the file as it is on disk
// when it is flushed, so keys another program or a second window wrote in the
// meantime are kept. A flush happens before the write returns, or once at the
// end of a Batch. Saving goes through a temporary file in the same folder
// renamed over the old one, so an interrupted save never truncates the file;
// flushes of several processes are serialised by a lock on the folder.
class TIniFile {
public:
    explicit TIniFile(std::string path = {}, bool autoSave = false);

    // Reads the file (a missing file is empty), making it writable first.
    // Writes not yet flushed are applied again on top of what was read.
    bool Load();
    bool Save();
    // Profile file: merges the writes not yet on disk into the file as it is
    // now; the document then holds the merged file. False (and LastError)
    // when the file could not be read or written; the writes stay pending.
    bool Flush();
    const std::string& Path() const { return m_path; }
    bool Exists() const;
    // Text of the last failed save or load, for the user; empty after success.
    const std::string& LastError() const { return m_lastError; }

    // The writes of one action reach the disk once, when the outermost batch
    // ends (profile files; for others it changes nothing).
    class Batch {
    public:
        explicit Batch(TIniFile& f) : m_file(f) { ++m_file.m_batch; }
        ~Batch()
        {
            if (--m_file.m_batch == 0)
                m_file.changed();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        TIniFile& m_file;
    };

    std::string ReadString(std::string_view section, std::string_view key, std::string_view def = {}) const;
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int value);
    bool WriteBool(std::string_view section, std::string_view key, bool value);
    bool DeleteKey(std::string_view section, std::string_view key);
    bool EraseSection(std::string_view section);
    bool SectionExists(std::string_view section) const { return m_doc.HasSection(section); }
    // All "key=value" lines of a section.
    std::vector<std::string> ReadSectionLines(std::string_view section) const;

    // Counted lists: prefix + 1, prefix + 2, ... up to the first empty value.
    std::vector<std::string> ReadList(std::string_view section, std::string_view prefix) const;
    // Erases the section and writes the items as prefix + 1..N without gaps.
    bool WriteList(std::string_view section, std::string_view prefix, const std::vector<std::string>& items);

    // Changes made here directly are not replayed by a profile file's flush.
    TIniDocument& Document() { return m_doc; }
    const TIniDocument& Document() const { return m_doc; }

private:
    struct Op {
        enum Kind { Set, EraseKey, EraseSection } kind;
        std::string section, key, value;
    };
    static void apply(TIniDocument& doc, const Op& op);
    void record(Op op);
    bool changed();

    std::string m_path;
    bool m_autoSave;
    TIniDocument m_doc;
    std::vector<Op> m_pending;  // profile file: writes not yet on disk
    int m_batch = 0;
    std::string m_lastError;
};

// Strict decimal integer (optional sign, digits, surrounding blanks allowed).
std::optional<int> ParseIniInteger(std::string_view text);

// Writes text to path through a temporary file in the same folder renamed
// over it. On failure returns false and sets error.
bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& error);
