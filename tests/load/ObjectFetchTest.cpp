// Fetching objects by number: objects at byte offsets, objects inside object
// streams (values and raw bytes), and the misses that must come back as null.

#include <gtest/gtest.h>

#include <climits>

#include "tests/load/LoadFixtures.h"

using namespace loadtest;
using vtest::PdfBuilder;
using vtest::XrefKind;

namespace {

// The builder's objects (generation 0) listed by one xref stream of `size`
// rows, with `extra` adding or replacing rows.
std::string withRows(const PdfBuilder& b, int size, const std::map<int, Row>& extra, int w2 = 2)
{
    Sections s(b);
    std::vector<Row> rows = s.rowsAll(size);
    for (const auto& [num, row] : extra)
        rows.at(static_cast<size_t>(num)) = row;
    const std::string w = " /W [ 1 4 " + std::to_string(w2) + " ]";
    const long at =
        s.add(xrefStream(size, "/Size " + std::to_string(size) + " /Root 1 0 R" + w, packRows(rows, 1, 4, w2)));
    return s.finish(at);
}

// The object stream example: object 5 a dictionary, object 6 an array.
const char kExampleData[] = "5 0 6 11  <</A 1>>   [1 2]";

TEST(FetchObject, NumbersOutsideTheTableThrow)
{
    Loaded doc;
    ASSERT_EQ(doc.open(basicDoc().build()), "");
    const int count = doc.xref().recordCount();
    for (int num : {-1, count, count + 1, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(num);
        EXPECT_EQ(doc.fetch(num), "throws: Corrupted PDF file");
        EXPECT_EQ(doc.bytesOf(num), "throws: Corrupted PDF file");
    }
    EXPECT_EQ(doc.fetch(count - 1), "<< /Title (Hand made) >>");
}

TEST(FetchObject, MissesComeBackAsNull)
{
    PdfBuilder b = basicDoc();
    b.set(4, "(four)");
    b.setRaw(5, "5 0 R is no object header");
    b.set(7, "(seven)", 1);
    b.set(8, "(eight)");
    Sections s(b);
    const std::map<int, std::string> lines{
        {0, entry(0, 65535, 'f')},   {1, entry(s.off(1), 0, 'n')}, {2, entry(s.off(2), 0, 'n')},
        {3, entry(s.off(3), 0, 'n')}, {4, entry(s.off(4), 0, 'n')}, {5, entry(s.off(5), 0, 'n')},
        {6, entry(s.off(2), 0, 'n')}, {7, entry(s.off(7), 0, 'n')}, {8, entry(s.off(8), 3, 'n')}, {9, entry(999999, 0, 'n')},
        {10, entry(0, 0, 'n')},       {12, entry(0, 1, 'f')},      {13, entry(-5, 0, 'n')},
    };
    std::string table = "xref\n";
    for (const auto& [num, line] : lines)
        table += std::to_string(num) + " 1\n" + line;
    const long at = s.add(table + "trailer\n<< /Size 14 /Root 1 0 R >>\n");
    Loaded doc;
    ASSERT_EQ(doc.open(s.finish(at)), "");

    const struct {
        const char* name;
        int num, gen;
        const char* value;
    } rows[] = {
        {"the object itself", 4, 0, "(four)"},
        {"the free list head", 0, 0, "null"},
        {"the free list head at its own generation", 0, 65535, "null"},
        {"a generation the record doesn't have", 4, 1, "null"},
        {"no 'obj' keyword at the offset", 5, 0, "null"},
        {"another object's header at the offset", 6, 0, "null"},
        {"the header's generation differs from the record's", 8, 3, "null"},
        {"the record's generation differs from the header's", 7, 1, "null"},
        {"an offset past the end of the file", 9, 0, "null"},
        {"an offset at the file header", 10, 0, "null"},
        {"a number no section listed", 11, 0, "null"},
        {"a free entry", 12, 1, "null"},
        {"a negative offset", 13, 0, "null"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(doc.fetch(row.num, row.gen), row.value) << row.name;
}

TEST(ObjectStream, ExampleLayoutGivesValuesAndExactBytes)
{
    for (bool flate : {false, true}) {
        SCOPED_TRACE(flate ? "Flate" : "no filter");
        PdfBuilder b = basicDoc();
        ASSERT_EQ(sizeof kExampleData - 1, 26u);
        b.setStream(4, "/Type /ObjStm /N 2 /First 10", kExampleData, flate);
        Loaded doc;
        ASSERT_EQ(doc.open(withRows(b, 7, {{5, {2, 4, 0}}, {6, {2, 4, 1}}})), "");
        EXPECT_EQ(doc.fetch(5), "<< /A 1 >>");
        EXPECT_EQ(doc.fetch(6), "[ 1 2 ]");
        EXPECT_EQ(doc.bytesOf(6), "[1 2]");
        EXPECT_EQ(doc.bytesOf(5), "<</A 1>>   ");
        EXPECT_EQ(doc.bytesOf(5, 1), ""); // compressed objects only have generation 0
        EXPECT_EQ(doc.fetch(5, 3), "<< /A 1 >>"); // ... so a fetch doesn't compare it
        EXPECT_EQ(doc.fetch(4), "<< /First 10 /N 2 /Type /ObjStm >> stream " + std::string(kExampleData));
    }
}

TEST(ObjectStream, FirstObjectNeedNotStartAtFirst)
{
    PdfBuilder b = basicDoc();
    // Object 5 starts 2 bytes after /First; reading from /First itself would give "]".
    b.setStream(4, "/Type /ObjStm /N 2 /First 9", "5 2 6 11 ]]<</B 2>> (six)", true);
    Loaded doc;
    ASSERT_EQ(doc.open(withRows(b, 7, {{5, {2, 4, 0}}, {6, {2, 4, 1}}})), "");
    EXPECT_EQ(doc.fetch(5), "<< /B 2 >>");
    EXPECT_EQ(doc.bytesOf(5), "<</B 2>> ");
    EXPECT_EQ(doc.fetch(6), "(six)");
}

TEST(ObjectStream, ObjectsAlternatingBetweenStreamsEachComeFromTheirOwn)
{
    PdfBuilder b = basicDoc();
    std::vector<int> streams;
    for (int i = 0; i < 10; ++i) // more streams than any cache would keep
        streams.push_back(b.addObjectStream(i % 2 == 0));
    std::map<int, std::string> bodies;
    for (int i = 0; i < 20; ++i) {
        const std::string body = "<< /Seq " + std::to_string(i) + " /Stream " + std::to_string(i % 10) + " >>";
        const int num = b.add(body);
        b.compress(num, streams[static_cast<size_t>(i % 10)]);
        bodies[num] = body;
    }
    b.setXref(XrefKind::Stream);
    Loaded doc;
    ASSERT_EQ(doc.open(b.build()), "");
    // First only the first three (stream A, stream B, stream A again), then everything forwards and backwards.
    std::vector<int> order{bodies.begin()->first, std::next(bodies.begin())->first,
                           std::next(bodies.begin(), 10)->first};
    for (const auto& [num, body] : bodies)
        order.push_back(num);
    for (auto it = bodies.rbegin(); it != bodies.rend(); ++it)
        order.push_back(it->first);
    for (int num : order) {
        const std::string& body = bodies[num];
        EXPECT_EQ(doc.fetch(num), body) << "object " << num;
        const std::string bytes = doc.bytesOf(num);
        EXPECT_EQ(bytes.substr(0, body.size()), body) << "object " << num;
        EXPECT_EQ(bytes.find_first_not_of(" \n", body.size()), std::string::npos) << "object " << num;
    }
}

TEST(ObjectStream, RecordThatDoesNotMatchItsStreamGivesNull)
{
    PdfBuilder b = basicDoc();
    b.setStream(4, "/Type /ObjStm /N 2 /First 10", kExampleData, true);
    const struct {
        const char* name;
        int num;
        Row row;
    } rows[] = {
        {"the slot holds another number", 7, {2, 4, 0}},
        {"index past the last slot", 8, {2, 4, 2}},
        {"index -1", 9, {2, 4, 0xFFFFFFFF}},
        {"the container is not a stream", 10, {2, 3, 0}},
        {"the container is the object itself", 11, {2, 11, 0}},
        {"the container is the free object 0", 12, {2, 0, 0}},
        {"the container is itself compressed", 13, {2, 7, 0}},
    };
    std::map<int, Row> extra{{5, {2, 4, 0}}, {6, {2, 4, 1}}};
    for (const auto& row : rows)
        extra[row.num] = row.row;
    Loaded doc;
    ASSERT_EQ(doc.open(withRows(b, 14, extra, 4)), "");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(doc.fetch(row.num), "null");
        EXPECT_EQ(doc.bytesOf(row.num), "");
    }
    EXPECT_EQ(doc.fetch(5), "<< /A 1 >>"); // the stream itself is fine
}

TEST(ObjectStream, UnusableStreamGivesNoObjects)
{
    const std::string data = "5 0 6 11  <</A 1>>   23";
    const struct {
        const char* name;
        std::string dict, data;
        bool indirectLength;
    } rows[] = {
        {"no /First", "/N 2", kExampleData, false},
        {"no /N", "/First 10", kExampleData, false},
        {"/N a string", "/N (2) /First 10", kExampleData, false},
        {"/First a string", "/N 2 /First (10)", kExampleData, false},
        {"/N 0", "/N 0 /First 10", kExampleData, false},
        {"/First negative", "/N 2 /First -5", kExampleData, false},
        {"a header pair that isn't two integers", "/N 2 /First 10", "5 0 /x 11  <</A 1>>   [1 2]", false},
        {"fewer header pairs than /N", "/N 3 /First 10", kExampleData, false},
        // Its /Length is object 6, which only this stream could deliver.
        {"/Length kept inside the stream itself", "/N 2 /First 10", data, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PdfBuilder b = basicDoc();
        if (row.indirectLength)
            b.setRaw(4, "4 0 obj\n<< /Type /ObjStm " + row.dict + " /Length 6 0 R >>\nstream\n" + row.data +
                            "\nendstream\nendobj");
        else
            b.setStream(4, "/Type /ObjStm " + row.dict, row.data, true);
        Loaded doc;
        ASSERT_EQ(doc.open(withRows(b, 7, {{5, {2, 4, 0}}, {6, {2, 4, 1}}})), "");
        for (int num : {5, 6}) {
            EXPECT_EQ(doc.fetch(num), "null") << "object " << num;
            EXPECT_EQ(doc.bytesOf(num), "") << "object " << num;
        }
    }
}

// Whatever the header claims, bytes handed out lie inside the decoded data
// (AddressSanitizer checks the reads themselves).
TEST(ObjectStream, HostileHeaderOffsetsNeverLeaveTheData)
{
    const std::string body = "(aa)(bb)(cc)";
    const struct {
        const char* name;
        long o5, o6, o7;
        const char* want5; // nullptr: any value, as long as nothing is read outside
        const char* want6;
        const char* want7;
        int first; // 0: right after the header
    } rows[] = {
        {"in order", 0, 4, 8, "(aa)", "(bb)", "(cc)", 0},
        {"first offset before the data", -1000, 4, 8, "null", "(bb)", "(cc)", 0},
        {"first offset inside the header", -3, 4, 8, nullptr, "(bb)", "(cc)", 0},
        {"decreasing", 0, 8, 4, "(aa)", nullptr, nullptr, 0},
        {"past the data", 0, 4, 1000, "(aa)", nullptr, "null", 0},
        {"INT_MAX", 0, INT_MAX, 8, "(aa)", "null", "(cc)", 0},
        {"INT_MIN", INT_MIN, 4, 8, "null", "(bb)", "(cc)", 0},
        {"all equal", 4, 4, 4, nullptr, nullptr, "(bb)", 0},
        {"/First past the data", 0, 4, 8, "null", "null", "null", 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string header = "5 " + std::to_string(row.o5) + " 6 " + std::to_string(row.o6) + " 7 " +
                             std::to_string(row.o7) + " ";
        const std::string data = header + body;
        const int first = row.first ? row.first : static_cast<int>(header.size());
        PdfBuilder b = basicDoc();
        b.setStream(4, "/Type /ObjStm /N 3 /First " + std::to_string(first), data, true);
        Loaded doc;
        ASSERT_EQ(doc.open(withRows(b, 8, {{5, {2, 4, 0}}, {6, {2, 4, 1}}, {7, {2, 4, 2}}})), "");
        const char* wants[] = {row.want5, row.want6, row.want7};
        for (int num : {5, 6, 7}) {
            const std::string bytes = doc.bytesOf(num);
            EXPECT_NE(data.find(bytes), std::string::npos) << "object " << num << ": " << bytes;
            const std::string value = doc.fetch(num);
            if (const char* want = wants[num - 5]) {
                EXPECT_EQ(value, want) << "object " << num;
            }
        }
    }
}

TEST(ObjectStream, ObjectThatFailsToParseFailsAgainOnTheNextFetch)
{
    PdfBuilder b = basicDoc();
    const std::string deep = std::string(300, '[') + std::string(300, ']'); // deeper than the parser allows
    b.setStream(4, "/Type /ObjStm /N 2 /First 8", "5 0 6 4 (ok)" + deep, true);
    Loaded doc;
    ASSERT_EQ(doc.open(withRows(b, 7, {{5, {2, 4, 0}}, {6, {2, 4, 1}}})), "");
    const std::string first = doc.fetch(6);
    EXPECT_EQ(first, "throws: PDF file was damaged");
    EXPECT_EQ(doc.fetch(6), first) << "a half-built value must not be kept for later fetches";
    EXPECT_EQ(doc.fetch(5), "(ok)");
}

TEST(StreamLength, IndirectLengthLeadingBackToItsOwnStreamEndsTheFetch)
{
    const struct {
        const char* name;
        const char* four;
        const char* five;
    } rows[] = {
        {"itself", "4 0 obj\n<< /Length 4 0 R >>\nstream\nabc\nendstream\nendobj", "5 0 obj\n(five)\nendobj"},
        {"each other", "4 0 obj\n<< /Length 5 0 R >>\nstream\nabc\nendstream\nendobj",
         "5 0 obj\n<< /Length 4 0 R >>\nstream\nabc\nendstream\nendobj"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PdfBuilder b = basicDoc();
        b.setRaw(4, row.four);
        b.setRaw(5, row.five);
        Loaded doc;
        ASSERT_EQ(doc.open(b.build()), "");
        for (int num : {4, 5}) {
            const std::string value = doc.fetch(num);
            if (value != "(five)") {
                EXPECT_TRUE(value == "<error>" || value == "null") << "object " << num << ": " << value;
            }
        }
        EXPECT_EQ(doc.fetch(3), "<< /Title (Hand made) >>"); // the table is still usable
    }
}

TEST(StreamLength, LengthKeptInsideAnObjectStream)
{
    PdfBuilder b = basicDoc();
    const int objStm = b.addObjectStream();
    const int length = b.add("11");
    b.compress(length, objStm);
    const int stream = b.reserve();
    b.setRaw(stream, std::to_string(stream) + " 0 obj\n<< /Length " + std::to_string(length) +
                         " 0 R /Kind /Indirect >>\nstream\nhello world\nendstream\nendobj");
    b.setXref(XrefKind::Stream);
    Loaded doc;
    ASSERT_EQ(doc.open(b.build()), "");
    EXPECT_EQ(doc.fetch(stream), "<< /Kind /Indirect >> stream hello world");
}

} // namespace

