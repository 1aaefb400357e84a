#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "load/CFileSource.h"
#include "load/CPdfBoundedStream.h"
#include "load/CPdfFileWindowStream.h"
#include "load/CPdfMemoryStream.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "tests/support/TestUtil.h"

namespace {

// Bytes that differ at nearby offsets and never repeat with a short period,
// so a read from the wrong place shows.
std::string patternBytes(size_t size)
{
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 23);
    }
    return bytes;
}

class PatternFile {
public:
    explicit PatternFile(size_t size) : bytes(patternBytes(size))
    {
        const std::string path = m_dir.file("data.bin");
        vtest::writeFile(path, bytes);
        file = CFileSource::open(path);
    }
    // A window with no dictionary; the caller owns its count of 1.
    CPdfStream* window(int64_t start, int64_t length)
    {
        CPdfObject none;
        none.setNull();
        return new CPdfFileWindowStream(file, start, length, none);
    }
    int at(size_t offset) const { return static_cast<uint8_t>(bytes[offset]); }

    vtest::TempDir m_dir;
    std::string bytes;
    std::shared_ptr<CFileSource> file;
};

std::string readAll(CPdfStream* stream)
{
    std::string out;
    for (int c; (c = stream->readChar()) >= 0;)
        out += static_cast<char>(c);
    return out;
}

CPdfStream* memoryStream(const std::string& bytes)
{
    auto owner = std::make_shared<const std::string>(bytes);
    return new CPdfMemoryStream(owner, reinterpret_cast<const uint8_t*>(owner->data()), owner->size());
}

constexpr int64_t kBlock = static_cast<int64_t>(CFileSource::kBlockSize);

} // namespace

TEST(FileWindow, YieldsExactlyItsBytes)
{
    struct Row {
        const char* note;
        size_t fileSize;
        int64_t start, length;
        size_t from, to; // expected file range [from, to)
    };
    const Row rows[] = {
        {"start 100 length 10", 1000, 100, 10, 100, 110},
        {"length 0 runs to the end", 1000, 100, 0, 100, 1000},
        {"start at the end", 1000, 1000, 0, 1000, 1000},
        {"start past the end", 1000, 1500, 10, 1000, 1000},
        {"longer than the file", 1000, 990, 50, 990, 1000},
        {"across a block boundary", 300000, kBlock - 10, 20, kBlock - 10, kBlock + 10},
        {"across three boundaries", 300000, 1000, 200000, 1000, 201000},
        {"exactly one block", 300000, 2 * kBlock, kBlock, 2 * kBlock, 3 * kBlock},
        {"ending one byte into a block", 300000, 100, kBlock - 99, 100, kBlock + 1},
        {"whole file", 300000, 0, 0, 0, 300000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.note);
        PatternFile in(row.fileSize);
        CPdfStream* w = in.window(row.start, row.length);
        EXPECT_EQ(w->windowStart(), row.start);
        EXPECT_EQ(w->windowLength(), row.length);
        std::string got = readAll(w);
        EXPECT_TRUE(got == in.bytes.substr(row.from, row.to - row.from))
            << "got " << got.size() << " bytes, expected " << row.to - row.from;
        EXPECT_EQ(w->readChar(), -1); // the end repeats
        EXPECT_EQ(w->peekChar(), -1);
        w->release();
    }
}

TEST(FileWindow, PeekAndTellFollowTheReads)
{
    PatternFile in(1000);
    CPdfStream* w = in.window(100, 10);
    EXPECT_EQ(w->tellPos(), 100);
    EXPECT_EQ(w->peekChar(), in.at(100));
    EXPECT_EQ(w->peekChar(), in.at(100));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(w->readChar(), in.at(100 + i));
    EXPECT_EQ(w->tellPos(), 103);
    w->release();
}

TEST(FileWindow, BulkReadsMatchByteReads)
{
    PatternFile in(300000);
    CPdfStream* w = in.window(5, 250000);
    std::vector<uint8_t> buffer(100000);
    ASSERT_EQ(w->readChar(), in.at(5));
    ASSERT_EQ(w->readBytes(buffer.data(), 100000), 100000u);
    EXPECT_TRUE(std::string(buffer.begin(), buffer.end()) == in.bytes.substr(6, 100000));
    EXPECT_EQ(w->tellPos(), 100006);
    EXPECT_EQ(w->readBytes(buffer.data(), 100000), 100000u);
    EXPECT_EQ(w->readBytes(buffer.data(), 100000), 49999u); // stops at the window's end
    EXPECT_TRUE(std::string(buffer.begin(), buffer.begin() + 49999) == in.bytes.substr(200006, 49999));
    w->release();
}

TEST(FileWindow, WindowsReadAlternatelyKeepTheirOwnPlace)
{
    // More windows than the reader caches blocks, each in its own block.
    const int windows = static_cast<int>(CFileSource::kCachedBlocks) + 8;
    PatternFile in(static_cast<size_t>(windows + 1) * CFileSource::kBlockSize);
    std::vector<CPdfStream*> streams;
    std::vector<std::string> got(windows);
    for (int i = 0; i < windows; ++i)
        streams.push_back(in.window(i * kBlock + kBlock - 100, 0));
    for (int step = 0; step < 300; ++step)
        for (int i = 0; i < windows; ++i)
            got[i] += static_cast<char>(streams[i]->readChar());
    for (int i = 0; i < windows; ++i) {
        SCOPED_TRACE("window " + std::to_string(i));
        EXPECT_TRUE(got[i] == in.bytes.substr(i * kBlock + kBlock - 100, 300));
        streams[i]->release();
    }
}

TEST(FileWindow, ShiftStartMovesTheWindow)
{
    PatternFile in(1000);
    CPdfStream* w = in.window(0, 0);
    w->readChar();
    w->readChar();
    w->shiftStart(7);
    EXPECT_EQ(w->windowStart(), 7);
    EXPECT_EQ(w->tellPos(), 7);
    EXPECT_EQ(w->readChar(), in.at(7));
    w->rewind();
    EXPECT_EQ(w->readChar(), in.at(7)); // rewind goes to the new start
    w->release();

    CPdfStream* limited = in.window(0, 10);
    limited->shiftStart(7);
    EXPECT_EQ(limited->windowLength(), 10); // the length stays, so the end moves too
    EXPECT_TRUE(readAll(limited) == in.bytes.substr(7, 10));
    limited->release();
}

TEST(FileWindow, SeekPosUsesFileOffsets)
{
    PatternFile in(1000);
    CPdfStream* w = in.window(100, 0);
    struct Row {
        const char* note;
        int64_t offset;
        int whence;
        int64_t position; // result and tellPos afterwards
        int next;         // next readChar
    };
    const Row rows[] = {
        {"inside the window", 500, SEEK_SET, 500, in.at(500)},
        {"from the end", -10, SEEK_END, 990, in.at(990)},
        {"before the start of the file is refused", -2000, SEEK_END, 991, in.at(991)},
        {"before the window's start", 3, SEEK_SET, 3, in.at(3)},
        {"at the end of the file", 1000, SEEK_SET, 1000, -1},
        {"past the end of the file", 5000, SEEK_SET, 5000, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.note);
        EXPECT_EQ(w->seekPos(row.offset, row.whence), row.position);
        EXPECT_EQ(w->tellPos(), row.position);
        EXPECT_EQ(w->readChar(), row.next);
    }
    w->rewind();
    EXPECT_EQ(w->tellPos(), 100);
    EXPECT_EQ(w->readChar(), in.at(100));
    w->release();

    CPdfStream* limited = in.window(100, 10);
    limited->seekPos(109, SEEK_SET);
    EXPECT_EQ(limited->readChar(), in.at(109));
    EXPECT_EQ(limited->readChar(), -1); // the window's end still holds after a seek
    limited->release();
}

TEST(FileWindow, EachWindowHoldsItsShareOfFileAndDictionary)
{
    PatternFile in(1000);
    CPdfStream* main = in.window(0, 0);
    EXPECT_EQ(main->streamDict(), nullptr);
    CPdfObject dict;
    CPdfDict* held = dict.setNewDict(nullptr);
    CPdfStream* data = main->openWindow(20, 4, dict);
    dict.clear(); // the window keeps the dictionary alive
    ASSERT_EQ(data->streamDict(), held);
    EXPECT_TRUE(data->streamDict()->entries().empty());
    EXPECT_EQ(in.file.use_count(), 3);
    EXPECT_TRUE(readAll(data) == in.bytes.substr(20, 4));
    EXPECT_EQ(main->readChar(), in.at(0)); // the other window has not moved

    EXPECT_EQ(data->refCount(), 1);
    data->addRef();
    data->release();
    EXPECT_EQ(data->refCount(), 1);
    EXPECT_EQ(in.file.use_count(), 3);
    data->release();
    EXPECT_EQ(in.file.use_count(), 2); // the last release destroyed it
    main->release();
}

TEST(FileWindow, GetRawCharIsRefusedOnPlainKinds)
{
    PatternFile in(100);
    CPdfStream* w = in.window(0, 0);
    CPdfStream* bounded = new CPdfBoundedStream(w, CPdfObject(), true, 5);
    for (CPdfStream* s : {w, bounded}) {
        try {
            s->getRawChar();
            ADD_FAILURE() << "no exception";
        } catch (const CPdfException& e) {
            EXPECT_STREQ(e.message(), "Internal: called getRawChar() on non-predictor stream");
        }
    }
    bounded->release();
    w->release();
}

TEST(FileSource, OpenRefusesMissingFilesAndFolders)
{
    vtest::TempDir dir;
    EXPECT_EQ(CFileSource::open(dir.file("missing.pdf")), nullptr);
    EXPECT_EQ(CFileSource::open(dir.path()), nullptr);
}

TEST(FileSource, ReadAndFindAcrossBlocks)
{
    PatternFile in(3 * CFileSource::kBlockSize + 500);
    CFileSource& f = *in.file;
    std::vector<char> buffer(2 * CFileSource::kBlockSize);
    struct ReadRow {
        int64_t position;
        size_t count, expected;
    };
    const ReadRow reads[] = {
        {kBlock - 3, 6, 6},                         // straddles a boundary
        {10, 2 * CFileSource::kBlockSize, 2 * CFileSource::kBlockSize}, // large read
        {3 * kBlock + 400, 1000, 100},              // cut at the end of the file
        {3 * kBlock + 500, 10, 0},
        {-1, 10, 0},
    };
    for (const ReadRow& row : reads) {
        SCOPED_TRACE("read at " + std::to_string(row.position));
        ASSERT_EQ(f.read(row.position, buffer.data(), row.count), row.expected);
        if (row.expected) {
            EXPECT_TRUE(std::string(buffer.data(), row.expected) == in.bytes.substr(row.position, row.expected));
        }
    }

    // Search for slices of the file itself, split across the boundary at every point.
    for (int64_t split = 0; split <= 8; ++split) {
        SCOPED_TRACE("pattern starting " + std::to_string(split) + " before the boundary");
        int64_t at = 2 * kBlock - split;
        std::string pattern = in.bytes.substr(at, 8);
        int64_t found = f.find(at - 3000, pattern);
        EXPECT_EQ(found, in.bytes.find(pattern, at - 3000));
        EXPECT_EQ(f.find(at, pattern), at);
    }
    std::string tail = in.bytes.substr(in.bytes.size() - 5);
    EXPECT_EQ(f.find(0, tail), static_cast<int64_t>(in.bytes.find(tail)));
    EXPECT_EQ(f.find(in.bytes.size() - 4, tail), -1);
    EXPECT_EQ(f.find(0, "no such text in a binary file at all, surely"), -1);
}

TEST(BoundedStream, PassesAtMostItsCount)
{
    struct Row {
        const char* note;
        bool limited;
        int64_t count;
        std::string output;
        int sourceNext;
    };
    const Row rows[] = {
        {"count 5", true, 5, "abcde", 'f'},
        {"count 0", true, 0, "", 'a'},
        {"count beyond the source", true, 20, "abcdefgh", -1},
        {"unlimited", false, 0, "abcdefgh", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.note);
        CPdfStream* source = memoryStream("abcdefgh");
        CPdfStream* bounded = new CPdfBoundedStream(source, CPdfObject(), row.limited, row.count);
        EXPECT_EQ(bounded->peekChar(), row.output.empty() ? -1 : row.output[0]);
        EXPECT_EQ(readAll(bounded), row.output);
        EXPECT_EQ(bounded->peekChar(), -1);
        EXPECT_EQ(source->readChar(), row.sourceNext);
        bounded->release();
        EXPECT_EQ(source->refCount(), 1); // not owned by the view
        source->release();
    }
}

TEST(MemoryStream, ReadsItsBytesAndKeepsThemAlive)
{
    std::shared_ptr<std::string> owner = std::make_shared<std::string>("xref 12");
    const uint8_t* data = reinterpret_cast<const uint8_t*>(owner->data());
    CPdfStream* s = new CPdfMemoryStream(owner, data, owner->size());
    owner.reset(); // the stream's share keeps the bytes

    EXPECT_EQ(s->windowLength(), 7);
    EXPECT_EQ(s->peekChar(), 'x');
    EXPECT_EQ(s->readChar(), 'x');
    EXPECT_EQ(s->tellPos(), 1);
    EXPECT_EQ(s->seekPos(5, SEEK_SET), 1); // no file underneath: seeks are ignored
    EXPECT_EQ(readAll(s), "ref 12");
    EXPECT_EQ(s->readChar(), -1);
    s->rewind();
    EXPECT_EQ(s->readChar(), 'x');
    EXPECT_EQ(s->openWindow(0, 0, CPdfObject()), nullptr);
    EXPECT_EQ(s->streamDict(), nullptr);
    s->release();

    CPdfStream* empty = memoryStream("");
    EXPECT_EQ(empty->peekChar(), -1);
    EXPECT_EQ(empty->readChar(), -1);
    empty->release();
}
