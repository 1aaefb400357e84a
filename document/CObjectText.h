#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One object's text while it is edited. Edits are placed at positions of
// the text as it was read (where its layout says an entry stands), in any
// order: each lands where that position has moved to. Of two insertions at
// one position, the later comes first.
class CObjectText {
public:
    CObjectText() = default;
    // Room is made at once for the few entries a stamp adds, so that they
    // move the text once each rather than grow it.
    explicit CObjectText(std::string text) : m_bytes(std::move(text))
    {
        m_bytes.reserve(m_bytes.size() + kRoom);
        m_edits.reserve(4);
    }

    // Inserts before the byte that stood at `position` (at most the original length).
    void insertAt(size_t position, std::string_view bytes);
    // Replaces the original bytes [begin, end), which no other edit touches.
    void replaceAt(size_t begin, size_t end, std::string_view bytes);
    // Removes the original bytes [begin, end) of `original` (the text as
    // read) with the spaces and tabs before them, down to `floor`: never a
    // line end, which may close a comment before them.
    void cutWithSpacesBefore(std::string_view original, size_t floor, size_t begin, size_t end);

    bool empty() const { return m_bytes.empty(); }
    const std::string& bytes() const { return m_bytes; }

private:
    // Enough for a content list and two resource entries.
    static constexpr size_t kRoom = 128;
    // Where original position `position` stands now.
    size_t moved(size_t position) const;

    std::string m_bytes;
    std::vector<std::pair<size_t, std::ptrdiff_t>> m_edits; // original position, bytes added there
};
