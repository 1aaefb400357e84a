#include "load/CPdfFileWindowStream.h"

#include <algorithm>
#include <cstdio>

#include "load/StreamFilters.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfRefPtr.h"

CPdfFileWindowStream::CPdfFileWindowStream(std::shared_ptr<CFileSource> file, int64_t start, int64_t length,
                                           const CPdfObject& dict)
    : m_file(std::move(file)), m_start(start), m_length(length)
{
    m_dict.assign(dict);
    rewind();
}

CPdfFileWindowStream::~CPdfFileWindowStream() = default;

void CPdfFileWindowStream::moveTo(int64_t position)
{
    m_block.reset();
    m_bufPos = position;
    m_bufBegin = m_next = m_end = nullptr;
}

void CPdfFileWindowStream::rewind() { seekPos(m_start, SEEK_SET); }

CPdfDict* CPdfFileWindowStream::streamDict()
{
    return m_dict.type() == PDF_DICT ? m_dict.dictValue() : nullptr;
}

int64_t CPdfFileWindowStream::tellPos() { return m_bufPos + (m_next - m_bufBegin); }

int64_t CPdfFileWindowStream::seekPos(int64_t offset, int whence)
{
    int64_t target = whence == SEEK_END ? m_file->size() + offset : offset;
    // A seek before the start of the file is refused; the position stays.
    moveTo(target < 0 ? tellPos() : target);
    return m_bufPos;
}

void CPdfFileWindowStream::shiftStart(int64_t delta)
{
    m_start += delta;
    moveTo(m_start);
}

bool CPdfFileWindowStream::refill()
{
    int64_t position = tellPos();
    int64_t end = m_file->size();
    if (m_length != 0)
        end = std::min(end, m_start + m_length);
    if (position >= end) {
        moveTo(position);
        return false;
    }
    auto block = m_file->blockAt(position);
    if (!block) {
        moveTo(position);
        return false;
    }
    const uint8_t* data = block->data();
    int64_t blockEnd = std::min<int64_t>(block->offset + static_cast<int64_t>(block->size()), end);
    m_bufPos = position;
    m_bufBegin = m_next = data + (position - block->offset);
    m_end = data + (blockEnd - block->offset);
    m_block = std::move(block);
    return true;
}

CPdfStream* CPdfFileWindowStream::openWindow(int64_t start, int64_t length, const CPdfObject& dict)
{
    return new CPdfFileWindowStream(m_file, start, length, dict);
}

CPdfStream* CPdfFileWindowStream::openStreamData(int64_t start, int64_t length, const CPdfObject& dict)
{
    // A window of length 0 runs to the end of the file: empty data is a
    // window that starts there.
    CPdfRefPtr<CPdfStream> raw =
        CPdfRefPtr<CPdfStream>::adopt(openWindow(length > 0 ? start : m_file->size(), length, dict));
    CPdfStream* decoded = attachFilters(raw.get(), dict);
    if (decoded)
        raw.detach(); // the decoded stream took over our reference (or is the window itself)
    return decoded;
}
