#pragma once
// The raw lines of the last listing, kept in one block of text: a listing of
// 100,000 lines is 100,000 small strings otherwise, an allocation and a
// header each.

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

class TListingLines {
public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;
        const_iterator(const TListingLines* lines, size_t at) : m_lines(lines), m_at(at) {}
        std::string_view operator*() const { return (*m_lines)[m_at]; }
        const_iterator& operator++()
        {
            ++m_at;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator was = *this;
            ++m_at;
            return was;
        }
        bool operator==(const const_iterator& o) const { return m_at == o.m_at; }

    private:
        const TListingLines* m_lines;
        size_t m_at;
    };

    void push_back(std::string_view line)
    {
        m_text.append(line);
        m_ends.push_back(static_cast<uint32_t>(m_text.size()));
    }
    void clear()
    {
        m_text.clear();
        m_ends.clear();
        Mlsd = false;
    }
    void reserve(size_t bytes, size_t lines)
    {
        m_text.reserve(bytes);
        m_ends.reserve(lines);
    }
    size_t size() const { return m_ends.size(); }
    size_t Bytes() const { return m_text.size(); }
    bool empty() const { return m_ends.empty(); }
    std::string_view operator[](size_t i) const
    {
        const uint32_t begin = i == 0 ? 0 : m_ends[i - 1];
        return std::string_view(m_text).substr(begin, m_ends[i] - begin);
    }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }
    // A copy as separate strings, for callers and tests that want them so.
    std::vector<std::string> Lines() const { return {begin(), end()}; }

    // The lines answer "MLSD" (RFC 3659 facts, read as such), not "LIST".
    bool Mlsd = false;

private:
    std::string m_text;            // every line, one after the other
    std::vector<uint32_t> m_ends;  // where each line ends in m_text (a listing is at most 128 MiB)
};
