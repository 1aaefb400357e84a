// Every kind of file the fixture builder writes must load, and every object
// must fetch back as written, with records and trailer from the newest
// revision that mentions them, whatever mix of tables and streams the
// revisions use.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "tests/load/LoadFixtures.h"

using namespace loadtest;
using vtest::PdfBuilder;
using vtest::XrefKind;
using vtest::XrefStreamOptions;

namespace {

// The builder plus what each object must read back as.
struct Doc {
    PdfBuilder b;
    std::string junk;
    int rev = 1, root = 0, info = 0;
    std::map<int, std::pair<int, std::string>> values; // num -> (gen, fetched text)
    std::map<int, std::pair<int, int>> packed;          // num -> (object stream, index)
    std::map<int, int> packCount;
    std::set<int> freed;

    int add(const std::string& body) { return set(b.reserve(), body); }
    int set(int num, const std::string& body, int gen = 0)
    {
        b.set(num, body, gen);
        forget(num);
        values[num] = {gen, body};
        return num;
    }
    int addStream(const std::string& entries, const std::string& data, bool flate)
    {
        const int num = b.addStream(entries, data, flate);
        values[num] = {0, "<< " + (entries.empty() ? "" : entries + " ") + ">> stream " + data};
        return num;
    }
    void compress(int num, int objStm)
    {
        b.compress(num, objStm);
        packed[num] = {objStm, packCount[objStm]++};
    }
    void free(int num)
    {
        b.free(num);
        forget(num);
        freed.insert(num);
    }
    void forget(int num)
    {
        values.erase(num);
        packed.erase(num);
        freed.erase(num);
    }
    void update(XrefKind kind, const XrefStreamOptions& o = {})
    {
        b.beginUpdate();
        b.setXref(kind, o);
        b.setTrailerExtra("/Rev " + std::to_string(++rev));
    }
};

// A one-page document with an info dictionary, in the first revision.
void base(Doc& d, XrefKind kind, const XrefStreamOptions& o = {})
{
    const int pages = d.b.reserve();
    const int contents = d.addStream("", "0 0 m 100 100 l S", true);
    const int page = d.add("<< /Contents " + std::to_string(contents) + " 0 R /MediaBox [ 0 0 200 200 ] /Parent " +
                           std::to_string(pages) + " 0 R /Type /Page >>");
    d.set(pages, "<< /Count 1 /Kids [ " + std::to_string(page) + " 0 R ] /Type /Pages >>");
    d.root = d.add("<< /Pages " + std::to_string(pages) + " 0 R /Type /Catalog >>");
    d.info = d.add("<< /Producer (vtest) /Title (Round trip) >>");
    d.addStream("/Kind /Plain", "plain bytes", false);
    d.add("[ 1 -2 /Name (text) true false null 3 0 R [ ] << >> ]");
    d.b.setRoot(d.root);
    d.b.setInfo(d.info);
    d.b.setXref(kind, o);
    d.b.setTrailerExtra("/Rev 1");
}

XrefStreamOptions opts(int w0, int w1, int w2, bool flate, bool pngUp, bool index)
{
    XrefStreamOptions o;
    o.w0 = w0, o.w1 = w1, o.w2 = w2, o.flate = flate, o.pngUp = pngUp, o.index = index;
    return o;
}

// Two object streams, one compressed and one not, with members alternating.
void packSome(Doc& d, int count)
{
    const int a = d.b.addObjectStream(true);
    const int b = d.b.addObjectStream(false);
    for (int i = 0; i < count; ++i)
        d.compress(d.add("<< /Member " + std::to_string(i) + " >>"), i % 2 ? b : a);
}

struct Case {
    const char* name;
    std::function<void(Doc&)> make;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, EveryObjectFetchesAsWritten)
{
    Doc d;
    GetParam().make(d);
    d.b.setJunkPrefix(d.junk);
    Loaded doc;
    ASSERT_EQ(doc.open(d.b.build()), "");
    CXrefTable& x = doc.xref();

    EXPECT_EQ(x.baseOffset(), static_cast<int64_t>(d.junk.size()));
    EXPECT_EQ(doc.trailerKey("Rev"), std::to_string(d.rev)) << "the newest trailer is kept";
    EXPECT_EQ(std::to_string(x.recordCount()), doc.trailerKey("Size"));
    EXPECT_EQ(x.rootNum(), d.root);
    EXPECT_EQ(x.infoNum(), d.info);
    EXPECT_EQ(x.infoGen(), d.values[d.info].first);
    CPdfObject root; // the kept trailer resolves references through the table
    x.trailer().dictValue()->getValue("Root", root);
    EXPECT_EQ(show(root), d.values[d.root].second);

    for (const auto& [num, value] : d.values) {
        SCOPED_TRACE("object " + std::to_string(num));
        const auto& [gen, text] = value;
        const CXrefRecord& r = doc.rec(num);
        if (auto p = d.packed.find(num); p != d.packed.end()) {
            EXPECT_TRUE(sameRecord(r, p->second.first, p->second.second, XREF_IN_OBJSTM)) << describe(r);
            const std::string bytes = doc.bytesOf(num);
            EXPECT_EQ(bytes.substr(0, text.size()), text);
            EXPECT_EQ(bytes.find_first_not_of('\n', text.size()), std::string::npos) << bytes;
        } else {
            EXPECT_TRUE(sameRecord(r, static_cast<int32_t>(d.b.objectOffset(num)), gen, XREF_IN_FILE)) << describe(r);
            EXPECT_EQ(doc.fetch(num, gen + 1), "null");
        }
        EXPECT_EQ(doc.fetch(num, gen), text);
    }
    for (int num : d.freed) {
        EXPECT_EQ(doc.rec(num).type, XREF_FREE) << "object " << num;
        EXPECT_EQ(doc.fetch(num, doc.rec(num).gen), "null") << "object " << num;
        EXPECT_EQ(doc.fetch(num, 0), "null") << "object " << num;
    }
}

INSTANTIATE_TEST_SUITE_P(
    BuilderFiles, RoundTrip,
    ::testing::Values(
        Case{"Classic", [](Doc& d) { base(d, XrefKind::Classic); }},
        Case{"ClassicAfterJunk",
             [](Doc& d) {
                 base(d, XrefKind::Classic);
                 d.junk = "JUNK\n";
             }},
        Case{"StreamW121Plain", [](Doc& d) { base(d, XrefKind::Stream, opts(1, 2, 1, false, false, false)); }},
        Case{"StreamW142FlateIndex", [](Doc& d) { base(d, XrefKind::Stream, opts(1, 4, 2, true, false, true)); }},
        Case{"StreamW121PngUpAfterJunk",
             [](Doc& d) {
                 base(d, XrefKind::Stream, opts(1, 2, 1, true, true, false));
                 d.junk = std::string(300, '\n');
             }},
        Case{"StreamW040PlainIndex", [](Doc& d) { base(d, XrefKind::Stream, opts(0, 4, 0, false, false, true)); }},
        Case{"StreamW030PngUpIndex", [](Doc& d) { base(d, XrefKind::Stream, opts(0, 3, 0, true, true, true)); }},
        Case{"StreamW183Wide", [](Doc& d) { base(d, XrefKind::Stream, opts(1, 8, 3, true, false, false)); }},
        Case{"ObjectStreams",
             [](Doc& d) {
                 base(d, XrefKind::Stream);
                 packSome(d, 7);
             }},
        Case{"Hybrid",
             [](Doc& d) {
                 base(d, XrefKind::Hybrid);
                 packSome(d, 4);
             }},
        Case{"ClassicThenClassic",
             [](Doc& d) {
                 base(d, XrefKind::Classic);
                 const int doomed = d.add("(to be freed)");
                 const int bumped = d.add("(generation 0)");
                 d.update(XrefKind::Classic);
                 d.set(d.info, "<< /Title (Updated) >>");
                 d.free(doomed);
                 d.set(bumped, "(generation 1)", 1);
                 d.add("(new in the update)");
             }},
        Case{"ClassicThenStreamWithObjectStream",
             [](Doc& d) {
                 base(d, XrefKind::Classic);
                 const int doomed = d.add("(to be freed)");
                 d.update(XrefKind::Stream, opts(1, 4, 2, true, true, true));
                 const int objStm = d.b.addObjectStream();
                 d.set(d.info, "<< /Title (Moved into an object stream) >>");
                 d.compress(d.info, objStm);
                 d.compress(d.add("(packed in the update)"), objStm);
                 d.free(doomed);
             }},
        Case{"StreamThenClassic",
             [](Doc& d) {
                 base(d, XrefKind::Stream);
                 packSome(d, 4);
                 const int moved = d.packed.begin()->first;
                 const int dropped = std::next(d.packed.begin())->first;
                 d.update(XrefKind::Classic);
                 d.set(moved, "(taken out of its object stream)");
                 d.free(dropped);
             }},
        Case{"StreamThenStreamWithoutIndex",
             [](Doc& d) {
                 base(d, XrefKind::Stream);
                 packSome(d, 4);
                 const int dropped = d.packed.begin()->first;
                 d.update(XrefKind::Stream, opts(1, 3, 1, true, true, false));
                 packSome(d, 3);
                 d.free(dropped);
                 d.set(d.root, "<< /Pages 1 0 R /Type /Catalog /Updated true >>");
             }},
        Case{"HybridThenClassic",
             [](Doc& d) {
                 base(d, XrefKind::Hybrid);
                 packSome(d, 4);
                 const int moved = d.packed.begin()->first;
                 d.update(XrefKind::Classic);
                 d.set(moved, "(rewritten)");
                 d.free(std::next(d.packed.begin())->first);
             }},
        Case{"ClassicStreamHybridClassic",
             [](Doc& d) {
                 base(d, XrefKind::Classic);
                 d.update(XrefKind::Stream, opts(1, 2, 2, false, false, true));
                 packSome(d, 3);
                 d.update(XrefKind::Hybrid);
                 packSome(d, 3);
                 d.set(d.info, "<< /Title (Third revision) >>");
                 d.update(XrefKind::Classic);
                 d.free(d.packed.begin()->first);
                 d.set(std::prev(d.packed.end())->first, "(last one rewritten)");
             }},
        Case{"LargeWithUpdate",
             [](Doc& d) {
                 base(d, XrefKind::Classic);
                 d.b.setPadding(200000);
                 d.update(XrefKind::Stream);
                 packSome(d, 2);
                 d.b.setPadding(100000);
             }}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
