#pragma once

// Shared by the loading tests: open bytes as a document, print fetched values
// in one canonical form, and write cross-reference sections by hand after
// objects the builder wrote, so a test controls every byte of a section.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfStream.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

namespace loadtest {

std::string show(const CPdfObject& o);

// Keys come out in byte order; a stream's own /Length and /Filter are left
// out so the text matches what the test wrote.
inline std::string showDict(const CPdfDict* dict, bool streamKeys)
{
    if (!dict)
        return "<no dict>";
    std::string s = "<<";
    for (const auto& [key, value] : dict->entries())
        if (!streamKeys || (key != "Length" && key != "Filter"))
            s += " /" + key + " " + show(value);
    return s + " >>";
}

// Single spaces, references unresolved; a stream shows its decoded data.
inline std::string show(const CPdfObject& o)
{
    switch (o.type()) {
    case PDF_BOOL: return o.boolValue() ? "true" : "false";
    case PDF_INT: return std::to_string(o.intValue());
    case PDF_REAL: {
        char text[32];
        std::snprintf(text, sizeof text, "%g", o.realValue());
        return text;
    }
    case PDF_STRING: return "(" + o.textString() + ")";
    case PDF_NAME: return "/" + o.textString();
    case PDF_NULL: return "null";
    case PDF_ARRAY: {
        std::string s = "[";
        for (int i = 0; i < o.arrayValue()->count(); ++i) {
            CPdfObject item;
            o.arrayValue()->getItemUnresolved(i, item);
            s += " " + show(item);
        }
        return s + " ]";
    }
    case PDF_DICT: return showDict(o.dictValue(), false);
    case PDF_STREAM: {
        CPdfStream* stream = o.streamValue();
        std::string data;
        for (int c; (c = stream->readChar()) >= 0;)
            data += static_cast<char>(c);
        return showDict(stream->streamDict(), true) + " stream " + data;
    }
    case PDF_REF: return std::to_string(o.refNum()) + " " + std::to_string(o.refGen()) + " R";
    case PDF_CMD: return o.textString();
    case PDF_ERROR: return "<error>";
    case PDF_EOF: return "<eof>";
    default: return "<none>";
    }
}

// One document loaded from bytes written to a temporary file.
class Loaded {
public:
    // "" when the bytes load, otherwise the message they were refused with.
    std::string open(const std::string& bytes)
    {
        const std::string path = m_dir.file("doc" + std::to_string(m_files++) + ".pdf");
        vtest::writeFile(path, bytes);
        try {
            m_file.open(path);
            return "";
        } catch (const CPdfException& e) {
            return e.message();
        }
    }
    CPdfFile& file() { return m_file; }
    CXrefTable& xref() { return *m_file.xref(); }
    const CXrefRecord& rec(int num) { return xref().records().at(static_cast<size_t>(num)); }
    // The fetched value as text, or the message of the exception thrown.
    std::string fetch(int num, int gen = 0)
    {
        try {
            CPdfObject out;
            xref().fetchObject(num, gen, out);
            return show(out);
        } catch (const CPdfException& e) {
            return std::string("throws: ") + e.message();
        }
    }
    std::string bytesOf(int num, int gen = 0)
    {
        try {
            return std::string(xref().compressedObjectBytes(num, gen));
        } catch (const CPdfException& e) {
            return std::string("throws: ") + e.message();
        }
    }
    std::string trailerKey(const char* key)
    {
        CPdfObject value;
        xref().trailer().dictValue()->getValueUnresolved(key, value);
        return show(value);
    }

private:
    vtest::TempDir m_dir;
    int m_files = 0;
    CPdfFile m_file;
};

inline bool sameRecord(const CXrefRecord& r, int32_t offset, int32_t gen, EXrefType type)
{
    return r.offset == offset && r.gen == gen && r.type == type;
}

inline std::string describe(const CXrefRecord& r)
{
    return "{" + std::to_string(r.offset) + ", " + std::to_string(r.gen) + ", type " + std::to_string(r.type) + "}";
}

// One row of a cross-reference stream.
struct Row {
    int type;
    uint32_t f2, f3;
};

// Each field big-endian in its width; a width of 0 or below writes nothing.
inline std::string packRows(const std::vector<Row>& rows, int w0 = 1, int w1 = 4, int w2 = 2)
{
    std::string out;
    auto put = [&](uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i)
            out += static_cast<char>(i >= 8 ? 0 : (value >> (8 * i)) & 0xFF);
    };
    for (const Row& r : rows) {
        put(static_cast<uint64_t>(r.type), w0);
        put(r.f2, w1);
        put(r.f3, w2);
    }
    return out;
}

// An uncompressed cross-reference stream object (the dictionary names /W etc.).
inline std::string xrefStream(int num, const std::string& dictEntries, const std::string& data)
{
    return std::to_string(num) + " 0 obj\n<< /Type /XRef /Length " + std::to_string(data.size()) + " " +
           dictEntries + " >>\nstream\n" + data + "\nendstream\nendobj\n";
}

inline std::string entry(long offset, int gen, char keyword, const char* eol = "\r\n")
{
    char line[40];
    std::snprintf(line, sizeof line, "%010ld %05d %c", offset, gen, keyword);
    return line + std::string(eol);
}

// A section listing `rows`, runs of consecutive numbers as subsections. A
// stream section is object `num` with /W [ 1 4 2 ] and an /Index.
inline std::string section(bool stream, const std::map<int, Row>& rows, const std::string& trailerEntries,
                           int num = 99)
{
    std::vector<std::pair<int, std::vector<Row>>> runs;
    for (const auto& [n, row] : rows) {
        if (runs.empty() || runs.back().first + static_cast<int>(runs.back().second.size()) != n)
            runs.push_back({n, {}});
        runs.back().second.push_back(row);
    }
    std::string text = stream ? "/W [ 1 4 2 ] /Index [" : "xref\n", data;
    for (const auto& [first, list] : runs) {
        const std::string head = std::to_string(first) + " " + std::to_string(list.size());
        if (stream) {
            text += " " + head;
            data += packRows(list);
            continue;
        }
        text += head + "\n";
        for (const Row& r : list)
            text += entry(r.f2, static_cast<int>(r.f3), r.type == 1 ? 'n' : 'f');
    }
    if (stream)
        return xrefStream(num, trailerEntries + " " + text + " ]", data);
    return text + "trailer\n<< " + trailerEntries + " >>\n";
}

// Fixed width, so a section's length doesn't depend on where its /Prev points.
inline std::string prevKey(long offset)
{
    char text[32];
    std::snprintf(text, sizeof text, " /Prev %010ld", offset);
    return text;
}

inline std::string startxref(long offset) { return "startxref\n" + std::to_string(offset) + "\n%%EOF\n"; }

// Catalog 1, page tree 2 and info 3, all generation 0.
inline vtest::PdfBuilder basicDoc()
{
    vtest::PdfBuilder b;
    b.set(1, "<< /Pages 2 0 R /Type /Catalog >>");
    b.set(2, "<< /Count 0 /Kids [ ] /Type /Pages >>");
    b.set(3, "<< /Title (Hand made) >>");
    b.setRoot(1);
    b.setInfo(3);
    return b;
}

// The builder's objects without its cross-reference data; sections are then
// appended by the test. Offsets of the objects: builder.objectOffset().
class Sections {
public:
    explicit Sections(const vtest::PdfBuilder& b) : m_b(b)
    {
        m_bytes = m_b.build();
        m_bytes.resize(static_cast<size_t>(m_b.lastXrefOffset()));
    }
    long off(int num) const { return m_b.objectOffset(num); }
    long size() const { return static_cast<long>(m_bytes.size()); }
    // Appends a section (or anything else) and returns where it starts.
    long add(const std::string& text)
    {
        const long at = size();
        m_bytes += text;
        return at;
    }
    // Every number below `count` as the builder wrote it (generation 0), 0 free.
    std::string classicAll(int count) const
    {
        std::string s = "0 " + std::to_string(count) + "\n" + entry(0, 65535, 'f');
        for (int n = 1; n < count; ++n)
            s += off(n) >= 0 ? entry(off(n), 0, 'n') : entry(0, 0, 'f');
        return s;
    }
    std::vector<Row> rowsAll(int count) const
    {
        std::vector<Row> rows{{0, 0, 65535}};
        for (int n = 1; n < count; ++n)
            rows.push_back(off(n) >= 0 ? Row{1, static_cast<uint32_t>(off(n)), 0} : Row{0, 0, 0});
        return rows;
    }
    std::string finish(long xrefAt) const { return m_bytes + startxref(xrefAt); }

private:
    vtest::PdfBuilder m_b; // a copy: objectOffset() needs the builder that built
    std::string m_bytes;
};

} // namespace loadtest
