// Opening a document and fetching its objects: the "startxref" tail, tables and
// cross-reference streams, the /Prev chain, hybrid files, object streams, hostile
// input; cutting an object's text out of the file, and finding its entries.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfStream.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/PdfText.h"
#include "tests/support/TestUtil.h"

namespace {

using namespace std::string_literals;
using vtest::describe;
using vtest::PdfBuilder;
using vtest::XrefKind;

class Loaded {
public:
    // "" when the bytes load, else the message; without `repair` damaged tables are refused.
    std::string open(const std::string& bytes, bool repair = true) {
        m_file.setRepair(repair);
        vtest::writeFile(m_dir.file("doc.pdf"), bytes);
        return attempt("", [&] { return m_file.open(m_dir.file("doc.pdf")), std::string(); });
    }
    const CPdfException& error() const { return *m_error; }
    CXrefTable& xref() { return m_file.xref(); }
    const CXrefRecord& rec(int num) { return xref().records().at(static_cast<size_t>(num)); }
    std::string text(int num) { return m_file.reader().text(num); }
    // Every record: type (f/n/o), offset "/" generation; `byTokens`: tables read again by
    // tokens, with no repair to hide a refusal.
    std::string records(bool byTokens = false) {
        CXrefTable table;
        if (byTokens)
            table.load(m_file.sharedFile(), m_file.mainStream(), true, false);
        std::string s;
        for (const CXrefRecord& r : (byTokens ? table : xref()).records())
            s += text(r) + " ";
        return s;
    }
    std::string fetch(int num, int gen = 0) {
        CPdfObject out;
        return attempt("throws: ", [&] { return xref().fetchObject(num, gen, out), describe(out); });
    }
    std::string bytesOf(int num, int gen = 0) {
        return attempt("throws: ", [&] { return std::string(xref().compressedObjectBytes(num, gen)); });
    }
    // The records numbered in `like` ("5:n900/0 7:-"), written alike ('-': none filled).
    std::string recs(const std::string& like) {
        std::istringstream in(like);
        std::string s;
        for (int num; in >> num; in.ignore(like.size(), ' ')) {
            const CXrefRecord& r = rec(num);
            s += (s.empty() ? "" : " ") + std::to_string(num) + ":" +
                 (r.offset == -1 && r.type == XREF_FREE ? "-" : text(r));
        }
        return s;
    }

private:
    static std::string text(const CXrefRecord& r) {
        return "fno"[r.type] + std::to_string(r.offset) + "/" + std::to_string(r.gen);
    }
    template <class F>
    std::string attempt(const char* prefix, F f) {
        try {
            return f();
        } catch (const CPdfException& e) {
            m_error = e;
            return prefix + std::string(e.message());
        }
    }
    std::optional<CPdfException> m_error;
    vtest::TempDir m_dir;
    CPdfFile m_file;
};

struct Row { int type; uint32_t f2, f3; }; // type, offset or object stream, generation or index

// An unfiltered cross-reference stream object; the caller's entries name /W etc.
std::string xrefStream(int num, const std::string& dictEntries, const std::string& data) {
    return std::to_string(num) + " 0 obj\n<< /Type /XRef /Length " + std::to_string(data.size()) + " " +
           dictEntries + " >>\nstream\n" + data + "\nendstream\nendobj\n";
}

// Fixed widths: a section's length does not depend on where its /Prev points.
std::string padded(long value, size_t width) {
    const std::string digits = std::to_string(value);
    return std::string(width - digits.size(), '0') + digits;
}
std::string entry(long offset, int gen, char f) { return padded(offset, 10) + " " + padded(gen, 5) + " " + f + "\r\n"; }
std::string prevKey(long offset) { return " /Prev " + padded(offset, 10); }

// A table, or a stream section (object `num`, /W [ 1 4 2 ]); each row a subsection.
std::string section(bool stream, const std::map<int, Row>& rows, const std::string& trailer, int num) {
    std::string text = stream ? "/W [ 1 4 2 ] /Index [" : "xref\n", data;
    for (const auto& [n, r] : rows) {
        text += std::to_string(n) + (stream ? " 1 " : " 1\n" + entry(r.f2, static_cast<int>(r.f3), "fn"[r.type]));
        const uint64_t fields = static_cast<uint64_t>(r.type) << 48 | static_cast<uint64_t>(r.f2) << 16 | r.f3;
        for (int shift = 48; shift >= 0; shift -= 8) // 1, 4 and 2 bytes, big-endian
            data += static_cast<char>(fields >> shift);
    }
    return stream ? xrefStream(num, trailer + " " + text + "]", data) : text + "trailer\n<< " + trailer + " >>\n";
}

PdfBuilder basicDoc() {
    PdfBuilder b;
    b.set(1, "<< /Pages 2 0 R /Type /Catalog >>"), b.set(2, "<< /Count 0 /Kids [ ] /Type /Pages >>");
    b.set(3, "<< /Title (Hand made) >>"), b.setRoot(1), b.setInfo(3);
    return b;
}

// The builder's objects without its cross-reference data, to append sections to.
class Sections {
public:
    explicit Sections(const PdfBuilder& b) : m_b(b), m_bytes(m_b.build().substr(0, m_b.lastXrefOffset())) {}
    long off(int num) const { return m_b.objectOffset(num); }
    long size() const { return static_cast<long>(m_bytes.size()); }
    // Appends a section (or anything else) and returns where it starts.
    long add(const std::string& text) { return (m_bytes += text), size() - static_cast<long>(text.size()); }
    // Numbers below `count` as the builder wrote them, in use where written.
    std::map<int, Row> rowsAll(int count) const {
        std::map<int, Row> rows{{0, {0, 0, 65535}}};
        for (int n = 1; n < count; ++n)
            rows[n] = off(n) >= 0 ? Row{1, static_cast<uint32_t>(off(n)), 0} : Row{0, 0, 0};
        return rows;
    }
    std::string finish(long xrefAt) const { return m_bytes + "startxref\n" + std::to_string(xrefAt) + "\n%%EOF\n"; }

private:
    PdfBuilder m_b; // a copy: objectOffset() needs the builder that built
    std::string m_bytes;
};

std::string built(const std::function<void(PdfBuilder&)>& setup) {
    PdfBuilder b = basicDoc();
    setup(b);
    return b.build();
}
// The basic document's objects with `text` as its only section.
std::string withSection(const std::string& text) {
    Sections s(basicDoc());
    return s.finish(s.add(text));
}
// A cross-reference stream (object 9), or a classic table, as that section.
std::string stm(const std::string& dict, const std::string& data) {
    return withSection(xrefStream(9, "/Root 1 0 R " + dict, data));
}
std::string tbl(const std::string& rows) { return withSection("xref\n" + rows + "trailer\n<</Size 4/Root 1 0 R>>\n"); }

TEST(Open, SectionsAndTails) {
    const std::string damaged = "PDF file was damaged";
    const std::string rows2 = "\0\0\0\xFF\1\0\x10\0"s, row0 = rows2.substr(0, 4); // with /W [ 1 2 1 ]: 0 free, 1 at 16
    const std::string free0 = "0 1\n" + entry(0, 65535, 'f'), basic = basicDoc().build();
    // Why the rebuild's warning says the sections failed; "@" is startxref's offset.
    const std::string parse = "the section at offset @ does not parse", none = "no cross-reference section at offset @";
    // Hybrid: the newest table, /XRefStm naming a stream (its /Root does not count), an older table by /Prev.
    Sections h(basicDoc());
    const long older = h.add(section(false, {{6, {1, 999, 0}}, {9, {1, 888, 0}}, {10, {1, 777, 0}}}, "/Size 11", 0)),
               xrefStm = h.add(section(true, {{5, {2, 4, 0}}, {6, {2, 4, 1}}, {7, {2, 4, 2}}, {8, {0, 0, 3}}},
                                       "/Size 11 /Root 3 0 R", 21));
    const std::string trailer = "/Size 11 /Root 1 0 R /XRefStm " + std::to_string(xrefStm) + prevKey(older);
    const long newest = h.add(section(false, {{6, {0, 0, 0}}, {7, {1, 321, 0}}, {8, {}}, {9, {}}}, trailer, 0));
    using Kind = CPdfException::EKind;
    const struct { const char* name; std::string bytes, error, why = ""; const char* records = "";
                   Kind kind = Kind::Damaged; } rows[] = {
        {"a later startxref 0 is the one used", basic + "startxref\n0\n", damaged, "no startxref"},
        // The scan skips stream data by the one rule: a header in data on the keyword's line is none.
        {"a stream on its keyword line holds a header",
         built([](auto& b) { b.setRaw(4, "4 0 obj\n<< /Length 13 >>\nstream (see 3 0 obj)\nendstream\nendobj\n"); }) +
             "startxref\n0\n", damaged, "no startxref"},
        {"no Root", built([](PdfBuilder& b) { b.setRoot(0); }), damaged, "the trailer names no catalog"},
        // Rows of cross-reference streams.
        {"all in the file", stm("/Size 3 /W [ 0 2 0 ]", "\0\x10\0\x20\0\x30"s), "", "", "0:n16/0 1:n32/0 2:n48/0"},
        {"/Index", stm("/Size 9 /Index [ 0 1 7 2 ] /W [ 1 2 1 ]", "\0\0\0\xFF\1\0\x46\0\2\0\x50\3"s), "", "",
         "0:f0/255 1:- 6:- 7:n70/0 8:o80/3"},
        {"an unpaired /Index item", stm("/Size 9 /Index [ 5 ] /W [ 1 2 1 ]", ""), "", "", "0:- 5:- 8:-"},
        // Every message of either kind of section.
        {"entry x", tbl("0 2\n" + entry(0, 65535, 'f') + entry(9, 0, 'x')), "Couldn't parse an xref table", parse},
        {"trailer [ ]", withSection("xref\n" + free0 + "trailer\n[ ]\n"), "Trailer dictionary is wrong type", parse},
        {"neither table nor stream", withSection("/XRef\n"), "Couldn't parse an xref", none},
        {"no stream object", withSection("9 0 obj\n<< >>\nendobj\n"), "Couldn't parse an xref stream", none},
        {"no /Size", stm("/W [ 1 2 1 ]", rows2), "Size of xref Stream is wrong type", parse},
        {"/W with a real", stm("/Size 2 /W [ 1 2.0 1 ]", rows2), "W item of xref Stream is wrong type", parse},
        {"/W with two items", stm("/Size 2 /W [ 1 2 ]", rows2), "W item of xref Stream is wrong length", parse},
        {"/Index (2)", stm("/Size 2 /Index [ 0 (2) ] /W [ 1 2 1 ]", rows2), "Index item of xref Stream is wrong type",
         parse},
        {"cut row", stm("/Size 2 /W [ 1 2 1 ]", rows2.substr(0, 6)), "Unexpected EOF while reading xref stream section",
         parse},
        {"type 3", stm("/Size 2 /W [ 1 2 1 ]", "\0\0\0\xFF\3\0\x10\0"s),
         "Wrong type of xref entry while reading xref stream section", parse},
        // Absurd counts, refused before any allocation.
        {"negative count", tbl("0 -5\n"), damaged, parse},
        {"first + count past 2^31", tbl("2147483000 1000\n"), damaged, parse},
        {"more entries than the file could hold", tbl("0 2000000\n"), damaged, parse},
        {"sparse", stm("/Size 150000 /Index [ 0 1 149999 1 ] /W [ 1 2 1 ]", rows2), "", "", "0:f0/255 149999:n16/0"},
        {"/Size 2000000000", stm("/Size 2000000000 /W [ 1 2 1 ]", row0), damaged, parse},
        {"/Index count 2000000000", stm("/Size 3 /Index [ 0 2000000000 ] /W [ 1 2 1 ]", row0), damaged, parse},
        // The stream joins its revision's table: 5 only in it; 6 in use replaces free; 7 the table's use wins;
        // 8 a free row leaves the table's; the older section can't revive 9, but fills 10 (offsets made up).
        {"hybrid", h.finish(newest), "", "", "5:o4/0 6:o4/1 7:n321/0 8:f0/0 9:f0/0 10:n777/0"},
        // No PDF, with or without repair. (Encrypted files, refused alike, are end-to-end rows.)
        {"a GIF", "GIF89a\x01\0\x01\0"s + std::string(2000, 'x'), damaged, "", "", Kind::NotPdf},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Loaded doc, repaired;
        ASSERT_EQ(doc.open(row.bytes, false), row.error);
        EXPECT_EQ(doc.recs(row.records), row.records);
        EXPECT_EQ(row.error.empty() ? doc.xref().rootNum() : 1, 1);
        EXPECT_EQ(row.error.empty() ? row.kind : doc.error().kind(), row.kind);
        // A failing section is where startxref points, and the refusal says so.
        std::string why = row.why;
        if (why.find('@') != std::string::npos) {
            const long at = std::stol(row.bytes.substr(row.bytes.rfind("startxref") + 9));
            why.replace(why.find('@'), 1, std::to_string(at));
            EXPECT_EQ(doc.error().offset().value_or(-1), at);
        }
        // Repair rebuilds every damaged one, and says why; what is no PDF stays refused.
        const bool refused = row.kind != Kind::Damaged;
        ASSERT_EQ(repaired.open(row.bytes), refused ? row.error : "");
        if (refused) {
            EXPECT_EQ(repaired.error().kind(), row.kind);
        } else if (!row.error.empty()) {
            EXPECT_TRUE(repaired.xref().rebuilt());
            EXPECT_EQ(repaired.xref().rootNum(), 1);
            EXPECT_EQ(repaired.fetch(3), "<<Title: (Hand made)>>");
            const std::string warning = repaired.xref().repairLog().lines().at(0);
            EXPECT_EQ(warning.find("cross-reference data damaged (" + why + "); rebuilt from "), 0u) << warning;
        }
    }
}

TEST(Open, PrevLoopStopsAndKeepsWhatWasRead) {
    // Section i's /Prev names section prevOf[i]; 0 is at startxref; the chain comes back to `back`.
    const struct { std::vector<size_t> prevOf; size_t back; } chains[] = {{{1, 0}, 0}, {{0}, 0}, {{1, 2, 1}, 1}};
    for (const auto& [prevOf, back] : chains) {
        for (bool stream : {false, true}) {
            SCOPED_TRACE(testing::PrintToString(prevOf) + (stream ? " streams" : " tables"));
            Sections s(basicDoc());
            auto text = [&](size_t i, long prev) { // section i lists object 4 + i
                const std::map<int, Row> rows{{static_cast<int>(4 + i), {1, static_cast<uint32_t>(100 * (i + 1)), 0}}};
                return section(stream, rows, "/Size 8 /Root 1 0 R" + prevKey(prev), static_cast<int>(30 + i));
            };
            const long first = s.size(), length = static_cast<long>(text(0, 0).size()); // all the same length
            for (size_t i = 0; i < prevOf.size(); ++i)
                s.add(text(i, first + static_cast<long>(prevOf[i]) * length));
            Loaded doc, repaired;
            ASSERT_EQ(doc.open(s.finish(first), false), ""); // sections only: the catalog is in none of them
            for (size_t i = 0; i < prevOf.size(); ++i)
                EXPECT_EQ(doc.rec(static_cast<int>(4 + i)).offset, static_cast<int32_t>(100 * (i + 1)));
            // Repaired, the warning names the section the chain came back to.
            ASSERT_EQ(repaired.open(s.finish(first)), "");
            const long backAt = first + static_cast<long>(back) * length;
            const std::string loop = "(the /Prev chain loops back to offset " + std::to_string(backAt) + ")";
            EXPECT_NE(repaired.xref().repairLog().lines().at(0).find(loop), std::string::npos);
        }
    }
}

// Every layout the builder writes loads, each object as its newest revision
// wrote it: redefined, freed, given a new generation, taken out of object streams.
TEST(Open, RoundTripOverEveryBuilderLayout) {
    using O = vtest::XrefStreamOptions; // widths, flate, PNG Up, /Index
    const XrefKind C = XrefKind::Classic, S = XrefKind::Stream, H = XrefKind::Hybrid;
    const O plain{1, 2, 1, false, false, false}, wide{1, 8, 3, true, true, false};
    using Revisions = std::vector<std::pair<XrefKind, O>>;
    const struct { const char* name; Revisions revisions; std::string junk = ""; size_t padding = 0; } layouts[] = {
        {"stream after '%PDF' without its dash", {{S, {}}}, "%PDF\n"},
        {"stream 1 2 1 unfiltered after 1017 bytes, the furthest searched", {{S, plain}}, std::string(1017, ' ')},
        {"stream 0 3 0 PNG Up /Index", {{S, O{0, 3, 0, true, true, true}}}},
        {"classic, classic", {{C, {}}, {C, {}}}},
        {"classic, stream, large", {{C, {}}, {S, O{1, 4, 2, true, true, true}}}, "", 200000},
        {"stream, classic", {{S, {}}, {C, {}}}},
        {"stream, stream without /Index", {{S, {}}, {S, wide}}},
        {"classic, stream, hybrid, classic", {{C, {}}, {S, plain}, {H, {}}, {C, {}}}},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        PdfBuilder b = basicDoc();
        b.setJunkPrefix(layout.junk), b.setPadding(layout.padding);
        std::map<int, std::pair<int, std::string>> values{{1, {0, "<<Pages: 2 0 R, Type: /Catalog>>"}},
                                                          {2, {0, "<<Count: 0, Kids: [], Type: /Pages>>"}}};
        std::vector<int> packed, freed;
        auto set = [&](int num, const std::string& body, int gen = 0) {
            return b.set(num, body, gen), values[num] = {gen, body}, num;
        };
        auto free = [&](int num) { b.free(num), values.erase(num), freed.push_back(num); };
        int rev = 0, last = set(4, "(to be freed)");
        for (const auto& [kind, o] : layout.revisions) {
            const std::string tag = "(revision " + std::to_string(++rev) + ")";
            if (rev > 1) {
                b.beginUpdate();
                set(3, tag, rev), free(last);
                if (packed.size() >= 2) {
                    set(packed[0], tag), free(packed[1]);
                    packed.erase(packed.begin(), packed.begin() + 2);
                }
            }
            b.setXref(kind, o), b.setTrailerExtra("/Rev " + std::to_string(rev));
            last = set(b.reserve(), tag);
            values[b.addStream("/Rev " + tag, tag, rev % 2)] = {0, "<<Rev: " + tag + ">> stream " + tag};
            if (kind != C && o.w0 > 0) { // members taken in turn from more object streams than the reader caches
                std::vector<int> streams;
                for (size_t i = 0; i < CXrefTable::kObjStmCacheEntries + 2; ++i)
                    streams.push_back(b.addObjectStream(i % 2 == 0));
                for (size_t i = 0; i < 2 * streams.size(); ++i) {
                    packed.push_back(set(b.reserve(), "(" + std::to_string(rev) + "." + std::to_string(i) + ")"));
                    b.compress(packed.back(), streams[i % streams.size()]);
                }
            }
        }
        Loaded doc;
        ASSERT_EQ(doc.open(b.build()), "");
        EXPECT_EQ(doc.xref().baseOffset(), static_cast<int64_t>(layout.junk.size()));
        // Tables are read as bytes; the token reader must agree.
        EXPECT_EQ(doc.records(), doc.records(true));
        CPdfObject newest, size; // the newest trailer, and /Size as the records count
        CPdfDict* trailer = doc.xref().trailer().dictValue();
        trailer->getValue("Rev", newest), trailer->getValue("Size", size);
        EXPECT_EQ(describe(newest), std::to_string(rev));
        EXPECT_EQ(describe(size), std::to_string(doc.xref().recordCount()));
        for (const auto& [num, value] : values) {
            EXPECT_EQ(doc.fetch(num, value.first), value.second) << "object " << num;
            if (doc.rec(num).type == XREF_IN_OBJSTM) {
                EXPECT_EQ(doc.bytesOf(num).substr(0, value.second.size()), value.second) << "object " << num;
            }
        }
        for (int num : freed)
            EXPECT_EQ(doc.fetch(num, doc.rec(num).gen), "null") << "object " << num;
    }
}

// The builder's objects below 8 listed by an xref stream; 5 and 6 in object stream 4 unless `rows` say otherwise.
std::string listed(const PdfBuilder& b, std::map<int, Row> rows = {}) {
    Sections s(b);
    rows.insert({{5, {2, 4, 0}}, {6, {2, 4, 1}}});
    const std::map<int, Row> all = s.rowsAll(8);
    rows.insert(all.begin(), all.end());
    return s.finish(s.add(section(true, rows, "/Size 9 /Root 1 0 R", 9)));
}
std::string objStm(const std::string& dict, const std::string& data, std::map<int, Row> rows = {}) {
    PdfBuilder b = basicDoc();
    b.setStream(4, "/Type /ObjStm " + dict, data, true);
    return listed(b, rows);
}
const char kExample[] = "5 0 6 11  <</A 1>>   [1 2]"; // 5 a dictionary, 6 an array

// Objects 4 to 7 in the file, all but 4 with something wrong; 8 past the end, 9 free.
std::string misses() {
    PdfBuilder b = basicDoc();
    b.set(4, "(four)");
    b.setRaw(5, "5 0 R is no object header");
    b.set(7, "(seven)", 1);
    Sections s(b);
    std::map<int, Row> rows = s.rowsAll(8); // 7 listed with generation 0
    rows.insert({{6, {1, static_cast<uint32_t>(s.off(2)), 0}}, {8, {1, 999999, 0}}, {9, {0, 0, 1}}});
    return s.finish(s.add(section(false, rows, "/Size 10 /Root 1 0 R", 0)));
}

// Object 7 a stream whose /Length is itself; object stream 4 one whose /Length is its own member 6.
std::string selfLengths() {
    PdfBuilder b = basicDoc();
    b.setRaw(7, "7 0 obj\n<< /Length 7 0 R >>\nstream\nabc\nendstream\nendobj");
    b.setRaw(4, "4 0 obj\n<< /Type /ObjStm /N 2 /First 10 /Length 6 0 R >>\nstream\n5 0 6 11  <</A 1>>   23"
                "\nendstream\nendobj");
    return listed(b);
}

TEST(Fetch, Objects) {
    const std::string offsets = misses(), self = selfLengths();
    const std::string example = objStm("/N 2 /First 10", kExample), deep = "5 0 6 4 (ok)" + std::string(300, '[');
    const struct { const char* name; std::string doc; int num, gen; const char* value, *bytes = nullptr; } rows[] = {
        // An object the table does not list is null, as the PDF rules have it.
        {"number -1", offsets, -1, 0, "null", ""}, {"a number past the table", offsets, 10, 0, "null", ""},
        {"the object itself", offsets, 4, 0, "(four)"}, {"a free entry", offsets, 9, 1, "null"},
        {"a generation the record doesn't have", offsets, 4, 1, "null"},
        {"no 'obj' keyword at the offset", offsets, 5, 0, "null"}, {"the header's gen differs", offsets, 7, 0, "null"},
        {"another object's header at the offset", offsets, 6, 0, "null"},
        {"the record's generation differs", offsets, 7, 1, "null"},
        // A /Length that resolves to nothing: the data ends at its "endstream".
        {"/Length is the stream itself: the data runs to endstream", self, 7, 0, "<<>> stream abc"},
        {"/Length is a member of the object stream itself", self, 5, 0, "<<A: 1>>", "<</A 1>>   "},
        // The object stream example, its bytes up to the next object or the end.
        {"example, an array", example, 6, 0, "[1, 2]", "[1 2]"},
        {"example at generation 1", example, 5, 1, "<<A: 1>>", ""}, // compressed objects have only 0
        {"the slot holds another number", objStm("/N 2 /First 10", kExample, {{5, {2, 4, 1}}}), 5, 0, "null", ""},
        {"index past the last slot", objStm("/N 2 /First 10", kExample, {{5, {2, 4, 2}}}), 5, 0, "null", ""},
        {"no /First", objStm("/N 2", kExample), 5, 0, "null", ""},
        {"fails to parse, too deep", objStm("/N 2 /First 8", deep), 6, 0, "throws: PDF file was damaged"},
        {"in the file, fails to parse", built([](PdfBuilder& b) { b.set(4, std::string(300, '[')); }), 4, 0,
         "throws: PDF file was damaged"},
        {"next to one that fails to parse", objStm("/N 2 /First 8", deep), 5, 0, "(ok)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Loaded doc;
        ASSERT_EQ(doc.open(row.doc), "");
        for (int twice = 0; twice < 2; ++twice) { // the second fetch must agree: nothing half-built is kept
            EXPECT_EQ(doc.fetch(row.num, row.gen), row.value);
            if (std::string(row.value).rfind("throws: ", 0) == 0) { // the error names the object, and where it is
                EXPECT_EQ(doc.error().object().value_or(-1), row.num);
                EXPECT_EQ(doc.error().offset().has_value(), doc.rec(row.num).type == XREF_IN_FILE);
            }
            if (row.bytes) {
                EXPECT_EQ(doc.bytesOf(row.num, row.gen), row.bytes);
            }
        }
    }
}

// Whatever the header claims, the bytes handed out lie inside the decoded data
// (AddressSanitizer checks the reads themselves).
TEST(Fetch, HostileObjectStreamOffsetsNeverLeaveTheData) {
    const struct { const char* name, *header; size_t first = 0; } rows[] = { // first 0: right after the header
        {"negative", "5 -1000 6 4 7 8 "}, {"inside the header", "5 -3 6 4 7 8 "}, {"decreasing", "5 0 6 8 7 4 "},
        {"past the data", "5 0 6 4 7 1000 "}, {"INT_MAX", "5 0 6 2147483647 7 8 "},
        {"INT_MIN", "5 -2147483648 6 4 7 8 "}, {"/First past the data", "5 0 6 4 7 8 ", 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string data = row.header + "(aa)(bb)(cc)"s;
        const std::string first = std::to_string(row.first ? row.first : std::string(row.header).size());
        Loaded doc;
        ASSERT_EQ(doc.open(objStm("/N 3 /First " + first, data, {{7, {2, 4, 2}}})), "");
        for (int num : {5, 6, 7}) {
            EXPECT_NE(data.find(doc.bytesOf(num)), std::string::npos) << "object " << num;
            doc.fetch(num);
        }
    }
}

const std::string kEmbedded = "%PDF-1.4\n1 0 obj\n<< >>\nendobj\ntrailer << >>"; // 43 bytes
const std::string kTail = "\nstream\n" + kEmbedded + "\nendstream\nendobj\n";
// Object 3 written byte for byte (or placed otherwise), and its text (empty: all of it).
enum Placed { Written, AfterTheTable, Compressed };
struct TextCase { const char* name; std::string object, expected; Placed placed = Written; };
const TextCase kTexts[] = {
    {"ThroughTheByteAfterEndobj", "3 0 obj\n<</Type/Page>>\nendobj\r\n", "3 0 obj\n<</Type/Page>>\nendobj\r"},
    // An embedded file's "endobj" must not end the stream early.
    {"StreamHoldingEndobj", "3 0 obj\n<< /Length 43 >>" + kTail, ""},
    {"StreamHoldingEndobjLengthByReference", "3 0 obj\n<< /Length 5 0 R >>" + kTail, ""},
    // A wrong or missing /Length: the data runs to "endstream", and the text carries its real length.
    {"WrongLengthIsCorrected", "3 0 obj\n<< /Length 5 >>\nstream\nabc endobj xyz\nendstream\nendobj\n",
     "3 0 obj\n<< /Length 14 >>\nstream\nabc endobj xyz\nendstream\nendobj\n"},
    {"MissingLengthIsAdded", "3 0 obj\n<< /Type /X >>\nstream\r\nabc\r\nendstream\nendobj\n",
     "3 0 obj\n<< /Type /X  /Length 3 >>\nstream\r\nabc\r\nendstream\nendobj\n"},
    // Data on the keyword's own line starts after its blanks: a right length is kept.
    {"DataOnTheKeywordLineKeepsItsLength",
     "3 0 obj\n<< /Length 18 >>\nstream q 1 0 0 1 0 0 cm Q\nendstream\nendobj\n", ""},
    // No "endstream" before the object's "endobj": the data runs to the line end before it, and the copy
    // gets the keyword and the real length. Regression for files whose stream was left out.
    {"MisspeltEndstreamIsWritten", "3 0 obj\n<< /Length 3 >>\nstream\nabc\nenxstream\nendobj\n",
     "3 0 obj\n<< /Length 13 >>\nstream\nabc\nenxstream\nendstream\nendobj\n"},
    {"MissingEndstreamOnTheEndobjLine", "3 0 obj\n<< /Length 3 >>\nstream\nabc endobj\n",
     "3 0 obj\n<< /Length 4 >>\nstream\nabc \nendstream\nendobj\n"},
    // "endobj" in a string or a comment is no keyword: the object goes on.
    {"EndobjInAComment", "3 0 obj\n<< /A 1 % endobj\n/B [ (endobj) ] >>\nendobj\n", ""},
    {"StreamDictionaryWithAString", "3 0 obj\n<< /Length 43 /T (stream endobj) >>" + kTail, ""},
    // The last thing in the file ends at its "endobj"; a member of an object stream (with a string, which
    // the parser reads, not the scanner) is framed with carriage returns, its own trailing space kept.
    {"AtTheEndOfTheFile", "3 0 obj\n<</Type/Page>>\nendobj", "", AfterTheTable},
    {"Compressed", "<</Type/Page/T (a)>> ", "3 0 obj\r<</Type/Page/T (a)>>  endobj\r", Compressed}};
} // namespace

// Junk before the header throughout: offsets, /Length included, count from "%PDF-".
TEST(ObjectText, IsCutFromTheFile) {
    const std::string junk = "JUNK 3 0 obj endobj\n";
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = basicDoc();
        b.setJunkPrefix(junk), b.set(5, std::to_string(kEmbedded.size()));
        if (c.placed == Written)
            b.setRaw(3, c.object);
        else // behind the table, which the builder writes last, the object is written after building
            b.set(3, c.placed == Compressed ? c.object : "null");
        if (c.placed == Compressed)
            b.compress(3, b.addObjectStream()), b.setXref(XrefKind::Stream);
        std::string bytes = b.build();
        if (c.placed == AfterTheTable) {
            char was[24], now[24];
            std::snprintf(was, sizeof was, "%010ld 00000 n", b.objectOffset(3));
            std::snprintf(now, sizeof now, "%010zu", bytes.size() - junk.size());
            bytes = bytes.replace(bytes.find(was), 10, now) + c.object;
        }
        Loaded doc;
        ASSERT_EQ(doc.open(bytes), "");
        EXPECT_EQ(doc.text(3), c.expected.empty() ? c.object : c.expected);
    }
}
