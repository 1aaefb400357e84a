#include <gtest/gtest.h>

#include <utility>

#include "tests/pdf/PdfFixtures.h"

using namespace pdftest;

namespace {

using Owner = std::shared_ptr<const std::string>;

Owner newOwner() { return std::make_shared<const std::string>("data"); }

// A stream value holding the only reference to a new stream over `owner`.
CPdfObject streamOver(const Owner& owner)
{
    CPdfStream* stream = memoryStream(owner);
    CPdfObject value;
    value.setStream(stream);
    stream->release();
    return value;
}

// An integer, or a reference when a generation is given.
CPdfObject value(int num, int gen = -1)
{
    CPdfObject o;
    gen < 0 ? o.setInt(num) : o.setRef(num, gen);
    return o;
}

} // namespace

TEST(PdfObject, TextEndsAtTheFirstNulByte)
{
    for (auto set : {&CPdfObject::setString, &CPdfObject::setName, &CPdfObject::setCmd}) {
        CPdfObject text, leading;
        (text.*set)(std::string("ab\0c", 4));
        (leading.*set)(std::string("\0x", 2));
        EXPECT_EQ(text.textString(), "ab");
        EXPECT_EQ(leading.textString(), "");
    }
}

TEST(PdfObjectLifetime, SharedValuesLiveUntilTheLastHolderLetsGo)
{
    const char* notes[] = {"stream", "array", "dict", "shared dict"};
    const Owner o[] = {newOwner(), newOwner(), newOwner(), newOwner()};
    CPdfObject rows[4], owner;
    rows[0] = streamOver(o[0]);
    rows[1].setNewArray(nullptr)->append(streamOver(o[1]));
    rows[2].setNewDict(nullptr)->insert("K", streamOver(o[2]));
    owner.setNewDict(nullptr)->insert("K", streamOver(o[3]));
    rows[3].setSharedDict(owner.dictValue());
    owner.clear(); // the shared dict is now held by rows[3] alone
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(notes[i]);
        CPdfObject copy(rows[i]);
        rows[i].clear();
        EXPECT_EQ(o[i].use_count(), 2) << "died with the first holder";
        copy.clear();
        EXPECT_EQ(o[i].use_count(), 1) << "outlived the last holder";
    }
}

TEST(PdfObjectLifetime, StreamValueHoldsExactlyOneReference)
{
    const Owner mine = newOwner(), other = newOwner();
    CPdfObject value = streamOver(mine);
    CPdfStream* stream = value.streamValue();
    EXPECT_EQ(stream->refCount(), 1);
    CPdfObject moved(std::move(value)); // moves the reference, adds none
    moved.assign(moved);
    EXPECT_EQ(stream->refCount(), 1);
    CPdfObject target = streamOver(other);
    target = std::move(moved);
    EXPECT_EQ(other.use_count(), 1); // what the target held is released
    EXPECT_EQ(mine.use_count(), 2);
    target.setInt(1); // so is a stream replaced by a setter
    EXPECT_EQ(mine.use_count(), 1);
}

TEST(PdfDict, LookupsResolveOnlyThroughABoundTable)
{
    FakeResolver table;
    const Owner discarded = newOwner(), held = newOwner();
    CPdfObject bound, unbound, out = streamOver(held);
    CPdfDict* dict = bound.setNewDict(&table);
    dict->insert("A", value(1));
    dict->insert("A", streamOver(discarded));
    EXPECT_EQ(discarded.use_count(), 1); // a later value for a key is dropped, not kept
    dict->insert("L", value(5, 0));
    dict->insert("G", value(5, 3));
    dict->insert("Chain", value(6, 0));
    dict->insert("Missing", value(9, 0));
    struct Row {
        const char *key, *resolved, *raw, *fetches;
    };
    const Row rows[] = {
        {"A", "1", "1", ""},                // the first value wins; direct values fetch nothing
        {"L", "7", "5 0 R", "5 0"},
        {"G", "7", "5 3 R", "5 3"},         // the generation is passed on
        {"Chain", "7 0 R", "6 0 R", "6 0"}, // one level only
        {"Missing", "null", "9 0 R", "9 0"},
        {"a", "null", "null", ""},          // an absent key; keys compare byte for byte
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        table.fetches.clear();
        dict->getValue(row.key, out);
        EXPECT_EQ(describe(out), row.resolved);
        dict->getValueUnresolved(row.key, out);
        EXPECT_EQ(describe(out), row.raw);
        EXPECT_EQ(table.fetches, row.fetches);
    }
    EXPECT_EQ(held.use_count(), 1); // what the output held before is released

    unbound.setNewDict(nullptr)->insert("L", value(5, 0));
    unbound.dictValue()->getValue("L", out);
    EXPECT_EQ(describe(out), "5 0 R"); // no table, no resolution
}
