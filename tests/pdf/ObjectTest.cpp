#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfResolver.h"
#include "pdf/CPdfStream.h"

namespace {

// A stream that only reports its destruction: placed inside containers, it
// shows when they die.
class ProbeStream : public CPdfStream {
public:
    explicit ProbeStream(bool& destroyed) : m_destroyed(destroyed) { m_destroyed = false; }
    void rewind() override {}
    CPdfDict* streamDict() override { return nullptr; }
    int64_t tellPos() override { return 0; }
    int64_t seekPos(int64_t, int) override { return 0; }
    int64_t windowStart() override { return 0; }
    void shiftStart(int64_t) override {}
    int64_t windowLength() override { return 0; }

protected:
    ~ProbeStream() override { m_destroyed = true; }
    int readCharSlow() override { return -1; }
    int peekCharSlow() override { return -1; }

private:
    bool& m_destroyed;
};

// A stream value holding the only reference to a new probe.
CPdfObject probeValue(bool& destroyed)
{
    auto* probe = new ProbeStream(destroyed);
    CPdfObject value;
    value.setStream(probe);
    probe->release();
    return value;
}

// Serves objects from a map and records every fetch; object 666 fails.
class FakeResolver : public CPdfResolver {
public:
    std::map<int, CPdfObject> objects;
    std::vector<std::pair<int, int>> fetches;
    void fetchObject(int num, int gen, CPdfObject& out) override
    {
        fetches.emplace_back(num, gen);
        if (num == 666)
            throw CPdfException("fetch failed");
        auto found = objects.find(num);
        if (found == objects.end())
            out.setNull();
        else
            out.assign(found->second);
    }
};

CPdfObject intValue(int v)
{
    CPdfObject o;
    o.setInt(v);
    return o;
}

CPdfObject refValue(int num, int gen)
{
    CPdfObject o;
    o.setRef(num, gen);
    return o;
}

bool sameValue(const CPdfObject& a, const CPdfObject& b)
{
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case PDF_BOOL: return a.boolValue() == b.boolValue();
    case PDF_INT: return a.intValue() == b.intValue();
    case PDF_REAL: {
        double x = a.realValue(), y = b.realValue();
        return std::memcmp(&x, &y, sizeof x) == 0; // bit for bit
    }
    case PDF_STRING:
    case PDF_NAME:
    case PDF_CMD: return a.textString() == b.textString();
    case PDF_REF: return a.refNum() == b.refNum() && a.refGen() == b.refGen();
    default: return true;
    }
}

} // namespace

TEST(PdfObject, CopiesKeepKindAndPayloadAfterTheOriginalIsCleared)
{
    EXPECT_EQ(CPdfObject().type(), PDF_NONE);
    const std::vector<std::pair<const char*, std::function<void(CPdfObject&)>>> rows = {
        {"bool true", [](CPdfObject& o) { o.setBool(true); }},
        {"bool false", [](CPdfObject& o) { o.setBool(false); }},
        {"int min", [](CPdfObject& o) { o.setInt(INT_MIN); }},
        {"int max", [](CPdfObject& o) { o.setInt(INT_MAX); }},
        {"real 0.1, inexact in binary", [](CPdfObject& o) { o.setReal(0.1); }},
        {"real tiny", [](CPdfObject& o) { o.setReal(-1e-300); }},
        {"ref", [](CPdfObject& o) { o.setRef(12, 65535); }},
        {"ref extremes", [](CPdfObject& o) { o.setRef(INT_MAX, INT_MIN); }},
        {"null", [](CPdfObject& o) { o.setNull(); }},
        {"error", [](CPdfObject& o) { o.setError(); }},
        {"eof", [](CPdfObject& o) { o.setEof(); }},
        {"name", [](CPdfObject& o) { o.setName("Type"); }},
        {"string with high bytes", [](CPdfObject& o) { o.setString("\xFF\x80 a\x01"); }},
        {"keyword", [](CPdfObject& o) { o.setCmd("endstream"); }},
    };
    for (const auto& [note, make] : rows) {
        SCOPED_TRACE(note);
        CPdfObject expected, original, byAssign, byCopyTo, byOperator;
        make(expected);
        make(original);
        CPdfObject byConstructor(original);
        byAssign.assign(original);
        original.copyTo(byCopyTo);
        byOperator = original;
        original.clear();
        EXPECT_EQ(original.type(), PDF_NONE);
        for (const CPdfObject* copy : {&byConstructor, &byAssign, &byCopyTo, &byOperator})
            EXPECT_TRUE(sameValue(*copy, expected));
    }
}

TEST(PdfObject, TextEndsAtTheFirstNulByte)
{
    const std::string text("ab\0c", 4);
    CPdfObject s, n, k, leading;
    s.setString(text);
    n.setName(text);
    k.setCmd(text);
    leading.setString(std::string("\0x", 2));
    for (const CPdfObject* o : {&s, &n, &k})
        EXPECT_EQ(o->textString(), "ab");
    EXPECT_EQ(leading.textString(), "");
}

TEST(PdfObject, IsKeywordNeedsAKeywordWithExactlyThatText)
{
    struct Row {
        EPdfType type;
        const char *text, *asked;
        bool expected;
    };
    const Row rows[] = {
        {PDF_CMD, "stream", "stream", true},
        {PDF_CMD, "stream", "endstream", false}, // a suffix is not enough
        {PDF_CMD, "streamx", "stream", false},   // nor a prefix
        {PDF_NAME, "stream", "stream", false},   // /stream is a name
        {PDF_STRING, "R", "R", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.text) + " asked " + row.asked);
        CPdfObject o;
        if (row.type == PDF_CMD)
            o.setCmd(row.text);
        else if (row.type == PDF_NAME)
            o.setName(row.text);
        else
            o.setString(row.text);
        EXPECT_EQ(o.isKeyword(row.asked), row.expected);
    }
}

TEST(PdfObjectLifetime, SharedValuesLiveUntilTheLastHolderLetsGo)
{
    // Each row builds a value that holds a probe stream somewhere inside.
    const std::vector<std::pair<const char*, std::function<CPdfObject(bool&)>>> rows = {
        {"stream", [](bool& d) { return probeValue(d); }},
        {"array", [](bool& d) {
             CPdfObject v;
             v.setNewArray(nullptr)->append(probeValue(d));
             return v;
         }},
        {"dictionary", [](bool& d) {
             CPdfObject v;
             v.setNewDict(nullptr)->insert("S", probeValue(d));
             return v;
         }},
        {"array in a dictionary in an array", [](bool& d) {
             CPdfObject inner, dict, outer;
             inner.setNewArray(nullptr)->append(probeValue(d));
             dict.setNewDict(nullptr)->insert("K", inner);
             outer.setNewArray(nullptr)->append(dict);
             return outer;
         }},
        {"shared dictionary", [](bool& d) {
             CPdfObject owner, shared;
             owner.setNewDict(nullptr)->insert("S", probeValue(d));
             shared.setSharedDict(owner.dictValue());
             return shared; // the owner's reference is gone now
         }},
    };
    for (const auto& [note, make] : rows) {
        SCOPED_TRACE(note);
        bool destroyed = false;
        CPdfObject original = make(destroyed);
        CPdfObject copy(original);
        original.clear();
        EXPECT_FALSE(destroyed);
        copy.clear();
        EXPECT_TRUE(destroyed);
    }
}

TEST(PdfObjectLifetime, StreamValueHoldsExactlyOneReference)
{
    bool destroyed = false;
    auto* stream = new ProbeStream(destroyed);
    CPdfObject value;
    value.setStream(stream);
    EXPECT_EQ(stream->refCount(), 2);
    stream->release(); // the creator's own
    EXPECT_EQ(stream->refCount(), 1);

    CPdfObject moved(std::move(value)); // moves the reference, adds none
    EXPECT_EQ(value.type(), PDF_NONE);
    EXPECT_EQ(stream->refCount(), 1);
    moved.assign(moved);
    EXPECT_EQ(stream->refCount(), 1);

    bool otherDestroyed = false;
    CPdfObject target = probeValue(otherDestroyed);
    target = std::move(moved);
    EXPECT_TRUE(otherDestroyed); // what the target held before is released
    EXPECT_FALSE(destroyed);
    target.setInt(1);            // so is a container replaced by a setter
    EXPECT_TRUE(destroyed);
}

TEST(PdfDict, FirstValueForAKeyWinsAndTheLaterOneIsReleased)
{
    CPdfObject value;
    CPdfDict* dict = value.setNewDict(nullptr);
    dict->insert("A", intValue(1));
    dict->insert("A", intValue(2));
    dict->insertMoved("A", intValue(3));
    bool destroyed = false;
    dict->insert("A", probeValue(destroyed));
    EXPECT_TRUE(destroyed); // the discarded copy kept no reference

    CPdfObject found;
    dict->getValue("A", found);
    EXPECT_TRUE(sameValue(found, intValue(1)));
}

TEST(PdfDict, KeysCompareByteForByte)
{
    CPdfObject value;
    CPdfDict* dict = value.setNewDict(nullptr);
    const char* keys[] = {"A", "a", "AB", "A ", "\xE9", ""};
    for (int i = 0; i < 6; ++i)
        dict->insert(keys[i], intValue(i));
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(std::string("key '") + keys[i] + "'");
        CPdfObject found;
        dict->getValue(keys[i], found);
        EXPECT_TRUE(sameValue(found, intValue(i)));
    }
}

TEST(PdfDict, AbsentKeyGivesNullAndReplacesWhatTheOutputHeld)
{
    CPdfObject value;
    value.setNewDict(nullptr)->insert("Length", intValue(1));
    bool destroyed = false;
    CPdfObject out = probeValue(destroyed);
    value.dictValue()->getValue("Ab", out);
    EXPECT_EQ(out.type(), PDF_NULL);
    EXPECT_TRUE(destroyed);
    out.clear();
    value.dictValue()->getValueUnresolved("length", out);
    EXPECT_EQ(out.type(), PDF_NULL);
}

TEST(PdfDict, ReferencesResolveOnlyThroughABoundTable)
{
    FakeResolver table;
    table.objects[5] = intValue(42);
    table.objects[6] = refValue(7, 0);

    CPdfObject value;
    CPdfDict* dict = value.setNewDict(nullptr);
    dict->insert("L", refValue(5, 0));
    dict->insert("G", refValue(5, 3));
    dict->insert("Chain", refValue(6, 0));
    dict->insert("Missing", refValue(9, 0));
    dict->insert("Plain", intValue(1));
    dict->insert("Bad", refValue(666, 0));

    CPdfObject out;
    dict->getValue("L", out); // not bound yet: the reference itself
    EXPECT_TRUE(sameValue(out, refValue(5, 0)));
    EXPECT_TRUE(table.fetches.empty());

    dict->setTable(&table);
    CPdfObject null;
    null.setNull();
    struct Row {
        const char* key;
        bool resolved;
        CPdfObject expected;
        std::vector<std::pair<int, int>> fetches;
    };
    const std::vector<Row> rows = {
        {"L", true, intValue(42), {{5, 0}}},
        {"G", true, intValue(42), {{5, 3}}},       // the generation is passed on
        {"Chain", true, refValue(7, 0), {{6, 0}}}, // one level only
        {"Missing", true, null, {{9, 0}}},
        {"Plain", true, intValue(1), {}},          // direct values fetch nothing
        {"L", false, refValue(5, 0), {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.key) + (row.resolved ? " getValue" : " getValueUnresolved"));
        table.fetches.clear();
        out.clear();
        if (row.resolved)
            dict->getValue(row.key, out);
        else
            dict->getValueUnresolved(row.key, out);
        EXPECT_TRUE(sameValue(out, row.expected));
        EXPECT_EQ(table.fetches, row.fetches);
    }

    out.clear();
    try {
        dict->getValue("Bad", out);
        FAIL() << "the fetch error was swallowed";
    } catch (const CPdfException& e) {
        EXPECT_STREQ(e.message(), "fetch failed");
    }
}

TEST(PdfArray, ItemsResolveThroughTheArraysTable)
{
    FakeResolver table;
    table.objects[3] = intValue(300);
    CPdfObject bound, unbound, out;
    bound.setNewArray(&table)->append(refValue(3, 0));
    unbound.setNewArray(nullptr)->append(refValue(3, 0));

    bound.arrayValue()->getItem(0, out);
    EXPECT_TRUE(sameValue(out, intValue(300)));
    bound.arrayValue()->getItemUnresolved(0, out);
    EXPECT_TRUE(sameValue(out, refValue(3, 0)));
    unbound.arrayValue()->getItem(0, out);
    EXPECT_TRUE(sameValue(out, refValue(3, 0)));
    EXPECT_EQ(table.fetches.size(), 1u);
}
