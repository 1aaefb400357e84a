#pragma once

#include <cstddef>
#include <cstdint>

class CPdfDict;
class CPdfObject;

// A reference-counted source of bytes: 0..255 per byte, -1 at the end. The
// lexer and the parser read every kind (file windows, decoded data, bounded
// views, memory) through this interface.
//
// Every kind hands out its bytes through [m_next, m_end), which makes
// readChar and peekChar a pointer step; when it is empty, the kind's refill
// makes the next bytes available.
class CPdfStream {
public:
    CPdfStream(const CPdfStream&) = delete;
    CPdfStream& operator=(const CPdfStream&) = delete;

    void addRef() { ++m_refCount; }
    // Drops one reference; the last one destroys the stream.
    void release()
    {
        if (--m_refCount == 0)
            delete this;
    }
    int refCount() const { return m_refCount; }

    int readChar() { return m_next < m_end ? *m_next++ : readCharSlow(); }
    int peekChar() { return m_next < m_end ? *m_next : peekCharSlow(); }
    // Reads up to `count` bytes, as that many readChar calls would; returns how many.
    size_t readBytes(uint8_t* target, size_t count);
    // The bytes readChar will return next without a refill (possibly none),
    // so that a reader can scan a run in place and then skip it.
    const uint8_t* bufferedBegin() const { return m_next; }
    const uint8_t* bufferedEnd() const { return m_end; }
    // Consumes bytes up to `next`, a position within the buffered bytes.
    void skipBufferedTo(const uint8_t* next) { m_next = next; }

    virtual void rewind() = 0;
    virtual CPdfDict* streamDict() = 0;
    // File offset of the next byte (decoded kinds answer for their source).
    virtual int64_t tellPos() = 0;
    // Repositions to a file offset (whence is SEEK_SET or SEEK_END); returns the new position.
    virtual int64_t seekPos(int64_t offset, int whence) = 0;
    virtual int64_t windowStart() = 0;
    virtual void shiftStart(int64_t delta) = 0;
    // 0 means the window runs to the end of the file.
    virtual int64_t windowLength() = 0;
    // A new window over the same file carrying `dict` (the caller owns its
    // reference), or nullptr for kinds that have no file underneath.
    virtual CPdfStream* openWindow(int64_t start, int64_t length, const CPdfObject& dict);
    // A window over a stream object's data with the dictionary's filters
    // attached, as the rest of the reader reads it; nullptr when there is no
    // file underneath or the filters are not supported.
    virtual CPdfStream* openStreamData(int64_t start, int64_t length, const CPdfObject& dict);

protected:
    CPdfStream() = default;
    virtual ~CPdfStream();

    // Called when [m_next, m_end) is empty: points it at the next bytes;
    // false at the end of the data.
    virtual bool refill() = 0;

    const uint8_t* m_next = nullptr;
    const uint8_t* m_end = nullptr;

private:
    int readCharSlow();
    int peekCharSlow();

    int m_refCount = 1;
};
