#include "document/CContentReader.h"

#include <algorithm>

#include "document/CPageRecord.h"
#include "load/CObjectReader.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDictScanner.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"

CContentReader::CContentReader(CObjectReader& reader, int64_t budget, std::function<bool(int)> earlierStamp)
    : m_reader(reader), m_xref(reader.xref()), m_budget(budget), m_earlierStamp(std::move(earlierStamp))
{
}

CStampFrame CContentReader::frameFor(const std::optional<CContentEffect>& effect)
{
    CStampFrame frame;
    if (!effect)
        return frame;
    const int64_t open = effect->depth - effect->lowest;
    if (open < 0 || open >= kMaxRestores || -effect->lowest >= kMaxRestores)
        return frame;
    // The page's Q must never take the last state the prefix saved: with it
    // the stamp's last Q restores the initial state.
    frame.saves = static_cast<int>(std::max<int64_t>(CStampFrame::kPrefixSaves, 1 - effect->lowest));
    frame.restores = static_cast<int>(open + 1);
    frame.endText = effect->text == CContentEffect::TEXT_OPEN;
    return frame;
}

CStampFrame CContentReader::frameFor(const std::string& pageText, const CPageRecord& page)
{
    return frameFor(pageEffect(pageText, page));
}

bool CContentReader::arrayItems(const std::string& text, int64_t begin, int64_t end, std::vector<CStreamRef>& items)
{
    if (begin < 0 || end <= begin || static_cast<size_t>(end) > text.size())
        return false;
    // A list of references in plain syntax (every content list a mark pass
    // writes) is read as the parser reads it, without making its items.
    CPdfEntryLayout written;
    written.type = PDF_ARRAY;
    written.valueBegin = begin;
    written.valueEnd = end;
    std::vector<std::pair<int, int>> refs;
    if (text[static_cast<size_t>(begin)] == '[' &&
        CPdfDictScanner::referenceList(std::string_view(text).substr(0, static_cast<size_t>(end)), written, refs)) {
        for (const auto& [num, gen] : refs)
            items.push_back({num, gen});
        return true;
    }
    CPdfObject array;
    try {
        CPdfParser parser(nullptr, new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()) + begin,
                                                        static_cast<size_t>(end - begin)));
        parser.parseObject(array);
    } catch (const CPdfException&) {
        return false;
    }
    if (array.type() != PDF_ARRAY)
        return false;
    for (int i = 0; i < array.arrayValue()->count(); ++i) {
        CPdfObject item;
        array.arrayValue()->getItemUnresolved(i, item);
        if (item.type() == PDF_REF)
            items.push_back({item.refNum(), item.refGen()});
        else if (item.type() != PDF_NULL)
            return false; // no viewer agrees on what such an item draws
    }
    return true;
}

std::optional<CContentEffect> CContentReader::pageEffect(const std::string& pageText, const CPageRecord& page)
{
    const CStoredEntry& contents = page.contents;
    if (page.dictOpen < 0)
        return std::nullopt;
    if (!contents.present || contents.type == PDF_NULL)
        return CContentEffect();
    std::vector<CStreamRef> streams;
    if (contents.type == PDF_ARRAY) {
        if (!arrayItems(pageText, contents.valueBegin, contents.valueEnd, streams))
            return std::nullopt;
    } else if (contents.type == PDF_REF) {
        if (m_earlierStamp && m_earlierStamp(contents.num))
            return CContentEffect(); // an earlier pass's stamp: as for an array below
        if (m_budget <= 0)
            return std::nullopt;
        CPdfObjectHead head;
        if (!m_reader.head(contents.num, head) || head.num != contents.num)
            return CContentEffect(); // a reference to nothing: no content of its own
        if (head.isStream()) {
            streams.push_back({contents.num, contents.gen});
        } else if (head.type == PDF_ARRAY) {
            const std::string text = m_reader.text(contents.num, &head);
            if (!arrayItems(text, head.valueBegin, head.valueEnd, streams))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    // A mark pass reads the previous pass's output: content that ends with
    // its stamp ends in the state that stamp restored, with text closed.
    if (!streams.empty() && m_earlierStamp && m_earlierStamp(streams.back().num))
        return CContentEffect();
    CContentEffect effect;
    for (const CStreamRef& stream : streams) {
        const std::optional<CContentEffect> one = streamEffect(stream);
        if (!one)
            return std::nullopt;
        effect = effect.then(*one);
    }
    return effect;
}

std::optional<CContentEffect> CContentReader::streamEffect(const CStreamRef& stream)
{
    auto known = m_streams.find(stream.num);
    if (known != m_streams.end())
        return known->second;
    std::optional<CContentEffect> effect = readStream(stream);
    // A stream left unread for want of budget stays unknown: no later page
    // could afford it either.
    m_streams.emplace(stream.num, effect);
    return effect;
}

std::optional<CContentEffect> CContentReader::readStream(const CStreamRef& stream)
{
    if (m_budget <= 0)
        return std::nullopt;
    CPdfObject value;
    try {
        m_xref.fetchObject(stream.num, stream.gen, value);
    } catch (const CPdfException&) {
        return std::nullopt;
    }
    if (value.type() == PDF_NULL)
        return CContentEffect(); // nothing there: viewers draw nothing for it
    if (value.type() != PDF_STREAM)
        return std::nullopt; // a filter we do not decode, or damage
    // Decrypted first where the document encrypts it: encrypted bytes are no content.
    const CPdfRefPtr<CPdfStream> decoded = m_xref.streamData(stream.num, stream.gen, value, m_budget);
    if (!decoded)
        return std::nullopt;
    CPdfStream* data = decoded.get();
    CPdfContentScanner scanner;
    try {
        for (;;) {
            const uint8_t* begin = data->bufferedBegin();
            const uint8_t* end = data->bufferedEnd();
            if (begin == end) {
                const int c = data->readChar();
                if (c < 0)
                    break;
                const uint8_t byte = static_cast<uint8_t>(c);
                scanner.scan(&byte, 1);
                --m_budget;
                continue;
            }
            const int64_t count = end - begin;
            if (count > m_budget) {
                m_budget = 0;
                return std::nullopt;
            }
            scanner.scan(begin, static_cast<size_t>(count));
            m_budget -= count;
            data->skipBufferedTo(end);
        }
    } catch (const CPdfException&) {
        return std::nullopt;
    }
    return scanner.finish();
}
