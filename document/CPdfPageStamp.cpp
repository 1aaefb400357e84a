#include "document/CPdfPageStamp.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <set>

#include "crypt/CSecurityHandler.h"
#include "document/CPageRecord.h"
#include "document/CPageTreeWalker.h"
#include "filters/Deflate.h"
#include "image/CNewObjectWriter.h"
#include "image/PngChunks.h"
#include "load/CFileSource.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CRepairLog.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfObjectHead.h"
#include "pdf/CPdfParser.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"
#include "pdf/PdfFormat.h"

namespace {

// Decoded content past this is refused rather than held in memory.
constexpr int64_t kMaxContentBytes = int64_t(1) << 30;
// /Parent links followed for inherited /Resources; deeper is a loop.
constexpr int kMaxParents = 64;

// `value` as a PDF number with enough digits that a matrix of them places
// a page to a millionth of its size.
std::string number(double value)
{
    std::string text;
    appendFixed(text, value, 12);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.')
            text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

// Every byte of `stream`.
std::string readAll(CPdfStream& stream, int64_t limit)
{
    std::string data;
    for (;;) {
        const uint8_t* begin = stream.bufferedBegin();
        const uint8_t* end = stream.bufferedEnd();
        if (begin == end) {
            const int c = stream.readChar();
            if (c < 0)
                break;
            data += static_cast<char>(c);
        } else {
            data.append(reinterpret_cast<const char*>(begin), static_cast<size_t>(end - begin));
            stream.skipBufferedTo(end);
        }
        if (static_cast<int64_t>(data.size()) > limit)
            throw CPdfException(CPdfException::EKind::Unsupported, "its content is larger than 1 GB decoded");
    }
    return data;
}

// The value `text` writes, references left unresolved.
void parseValue(std::string_view text, CPdfObject& value)
{
    CPdfParser parser(nullptr,
                      new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()), true);
    parser.parseObject(value);
}

bool nameIs(const CPdfObject& value, const char* name)
{
    return value.type() == PDF_NAME && std::string(value.text()) == name;
}

// The names a content stream draws with Do.
std::vector<std::string> namesDrawn(const std::string& content)
{
    std::vector<std::string> names;
    CPdfLexer lexer(new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(content.data()), content.size()));
    CPdfObject token, previous;
    try {
        for (;;) {
            lexer.readToken(token);
            if (token.type() == PDF_EOF)
                break;
            if (token.type() == PDF_CMD && token.isKeyword("Do") && previous.type() == PDF_NAME)
                names.push_back(previous.textString());
            previous = token;
        }
    } catch (const CPdfException&) {
        // What follows damage draws nothing a viewer would follow either.
    }
    return names;
}

} // namespace

bool CPdfPageStamp::isPdf(CFileSource& file)
{
    char head[1024];
    const size_t count = file.read(0, head, sizeof head);
    // A JPEG or PNG is one by its signature, whatever its first kilobyte holds after it.
    if (hasPngSignature(file) ||
        (count >= 2 && static_cast<uint8_t>(head[0]) == 0xFF && static_cast<uint8_t>(head[1]) == 0xD8))
        return false;
    return CFileSource::search(std::string_view(head, count), "%PDF-") != std::string_view::npos;
}

CPdfPageStamp::CPdfPageStamp(const std::string& name, std::shared_ptr<CFileSource> file, int pageNumber)
    : CStampImage(name, file), m_name(name), m_repairs(std::make_unique<CRepairLog>())
{
    try {
        m_pdf = std::make_unique<CPdfFile>(std::move(file), *m_repairs);
    } catch (const CPdfException& error) {
        // A stamp is opened with the empty password only: --password is the input's.
        if (error.kind() == CPdfException::EKind::Encrypted &&
            std::string(error.message()).find("password") != std::string::npos)
            fail("is encrypted with a password");
        failUnreadable(error);
    }
    try {
        std::vector<CPageRecord> pages;
        m_pageCount = CPageTreeWalker(m_pdf->reader()).walkDocument(pages);
        if (pageNumber > static_cast<int>(pages.size()) || pages.empty())
            fail("has no page " + std::to_string(std::max(pageNumber, 1)) + " (it has " + std::to_string(pages.size()) +
                 ")");
        // Each page of the file, for each page of the input; else the one asked for.
        for (size_t index = pageNumber > 0 ? static_cast<size_t>(pageNumber - 1) : 0;
             index < (pageNumber > 0 ? static_cast<size_t>(pageNumber) : pages.size()); ++index)
            readPage(pages[index], static_cast<int>(index) + 1);
        m_width = m_pages[0].width;
        m_height = m_pages[0].height;
        if (m_annotations > 0)
            m_warnings.push_back("stamp PDF file '" + m_name + "': " + std::to_string(m_annotations) +
                                 (m_annotations == 1 ? " annotation" : " annotations") + " of page " +
                                 pageList(m_annotatedPages) + (m_annotations == 1 ? " is" : " are") +
                                 " not carried over");
        collectObjects();
        refuseSelfDrawingForms();
    } catch (const CPdfException& error) {
        if (error.kind() == CPdfException::EKind::ImageError)
            throw;
        failUnreadable(error);
    }
    // Compressed once: every output's form holds the same bytes.
    for (CPage& page : m_pages) {
        page.compressed = deflateBytes(page.content, Z_DEFAULT_COMPRESSION, "the stamp page's content");
        std::string().swap(page.content);
    }
    for (const std::string& line : m_repairs->lines())
        m_warnings.insert(m_warnings.begin(), "stamp PDF file '" + m_name + "': " + line);
}

CPdfPageStamp::~CPdfPageStamp() = default;

void CPdfPageStamp::fail(const std::string& problem) const
{
    throw CPdfException(CPdfException::EKind::ImageError, "\nStamp PDF file " + problem + ": '" + m_name + "'\n");
}

void CPdfPageStamp::failUnreadable(const CPdfException& error) const
{
    std::string why = error.message();
    why.erase(std::remove(why.begin(), why.end(), '\n'), why.end());
    fail("cannot be read (" + why + ")");
}

void CPdfPageStamp::readPage(const CPageRecord& page, int pageNumber)
{
    m_pages.emplace_back();
    CPage& read = m_pages.back();
    std::copy(std::begin(page.cropBox), std::end(page.cropBox), read.cropBox);
    read.rotate = page.rotate;
    const double width = read.cropBox[2] - read.cropBox[0], height = read.cropBox[3] - read.cropBox[1];
    if (!(width > 0 && height > 0))
        fail("has a page " + std::to_string(pageNumber) + " whose crop box is empty");
    const bool turned = read.rotate == 90 || read.rotate == 270;
    read.width = turned ? height : width;
    read.height = turned ? width : height;

    // /Resources stands in the page or the nearest node above it; /Group in the page.
    CObjectReader& reader = m_pdf->reader();
    int num = page.objectNumber, pageGen = 0;
    for (int level = 0; level <= kMaxParents && num > 0; ++level) {
        CPdfObjectHead head;
        const std::string text = reader.text(num, &head);
        if (text.empty() || head.type != PDF_DICT)
            break;
        const auto valueOf = [&](const char* key, CHeldValue& held) {
            const CPdfEntryLayout* entry = head.dict.find(key);
            if (!entry || !held.text.empty())
                return;
            held.text = text.substr(static_cast<size_t>(entry->valueBegin),
                                    static_cast<size_t>(entry->valueEnd - entry->valueBegin));
            held.num = num, held.gen = head.gen;
        };
        valueOf("Resources", read.resources);
        if (level == 0) {
            valueOf("Group", read.group);
            pageGen = head.gen;
        }
        const CPdfEntryLayout* parent = head.dict.find("Parent");
        if (!read.resources.text.empty() || !parent || parent->type != PDF_REF)
            break;
        num = parent->num;
    }

    CPdfObject pageObject, contents, annots;
    m_pdf->xref().fetchObject(page.objectNumber, pageGen, pageObject);
    if (pageObject.type() == PDF_DICT) {
        pageObject.dictValue()->getValueUnresolved("Contents", contents);
        pageObject.dictValue()->getValue("Annots", annots);
    }
    read.content = joinedContent(contents);
    if (read.content.find_first_not_of(" \t\r\n\f") == std::string::npos)
        fail("has a page " + std::to_string(pageNumber) + " with no content");
    if (annots.type() == PDF_ARRAY && annots.arrayValue()->count() > 0) {
        m_annotations += annots.arrayValue()->count();
        m_annotatedPages.push_back(pageNumber);
    }
}

std::string CPdfPageStamp::joinedContent(const CPdfObject& contents) const
{
    // Each stream by its reference, which its decryption needs.
    CPdfObject list = contents;
    if (contents.type() == PDF_REF) {
        m_pdf->xref().fetchObject(contents.refNum(), contents.refGen(), list);
        if (list.type() != PDF_ARRAY)
            list = contents;
    }
    std::vector<CPdfObject> streams;
    if (list.type() == PDF_REF) {
        streams.push_back(list);
    } else if (list.type() == PDF_ARRAY) {
        for (int index = 0; index < list.arrayValue()->count(); ++index) {
            CPdfObject item;
            list.arrayValue()->getItemUnresolved(index, item);
            streams.push_back(item);
        }
    }
    std::string joined;
    CXrefTable& xref = m_pdf->xref();
    for (const CPdfObject& item : streams) {
        CPdfObject stream = item;
        int num = 0, gen = 0;
        if (item.type() == PDF_REF) {
            num = item.refNum(), gen = item.refGen();
            xref.fetchObject(num, gen, stream);
        }
        if (stream.type() == PDF_NULL)
            continue; // nothing there: viewers draw nothing for it
        // A stream whose filters cannot be decoded comes out as an error.
        if (stream.type() == PDF_ERROR)
            fail("has page content in a filter that cannot be decoded");
        if (stream.type() != PDF_STREAM)
            fail("has page content that is not a stream");
        const CPdfRefPtr<CPdfStream> decoded = xref.streamData(num, gen, stream, kMaxContentBytes);
        if (!decoded)
            fail("has page content in a filter that cannot be decoded");
        // Streams join at token boundaries: a line end between them keeps them apart.
        joined += readAll(*decoded.get(), kMaxContentBytes - static_cast<int64_t>(joined.size()));
        joined += '\n';
    }
    return joined;
}

void CPdfPageStamp::collectObjects()
{
    CXrefTable& xref = m_pdf->xref();
    std::vector<int> found;
    std::deque<int> pending;
    std::set<int> seen;
    int leftOut = 0;
    const auto follow = [&](const std::string& text) {
        if (text.empty())
            return;
        CPdfObject value;
        parseValue(text, value);
        found.clear();
        visitValue(value, 0, found);
        pending.insert(pending.end(), found.begin(), found.end());
    };
    for (const CPage& page : m_pages) {
        follow(page.resources.text);
        follow(page.group.text);
    }
    while (!pending.empty()) {
        const int num = pending.front();
        pending.pop_front();
        if (!seen.insert(num).second || num <= 0 || num >= xref.recordCount() || num == xref.encryptNum())
            continue;
        const CXrefRecord& record = xref.records()[static_cast<size_t>(num)];
        if (record.type == XREF_FREE)
            continue; // a reference to nothing: null
        // Parsed from its text: an image's data is copied, never decoded.
        CPdfObjectHead head;
        const std::string text = objectText(num, head);
        if (text.empty() || head.valueEnd <= head.valueBegin)
            fail("has an object that cannot be read (object " + std::to_string(num) + ")");
        CPdfObject value;
        parseValue(
            text.substr(static_cast<size_t>(head.valueBegin), static_cast<size_t>(head.valueEnd - head.valueBegin)),
            value);
        if (value.type() == PDF_NULL)
            continue;
        if (value.type() == PDF_ERROR || value.type() == PDF_NONE || value.type() == PDF_CMD)
            fail("has an object that cannot be read (object " + std::to_string(num) + ")");
        const CPdfDict* dict = value.type() == PDF_DICT ? value.dictValue() : nullptr;
        if (dict) {
            CPdfObject type;
            dict->getValueUnresolved("Type", type);
            // A page's resources that name a page (or the catalog) would bring the whole document along.
            if (nameIs(type, "Page") || nameIs(type, "Pages") || nameIs(type, "Catalog")) {
                ++leftOut;
                continue;
            }
        }
        m_order.emplace(num, static_cast<int>(m_objects.size()));
        m_objects.push_back(num);
        found.clear();
        visitValue(value, 0, found);
        pending.insert(pending.end(), found.begin(), found.end());
    }
    if (leftOut > 0)
        m_warnings.push_back("stamp PDF file '" + m_name + "': its page's resources name " + std::to_string(leftOut) +
                             (leftOut == 1 ? " page or catalog" : " pages or catalogs") + ", written as null");
}

void CPdfPageStamp::visitValue(const CPdfObject& value, int depth, std::vector<int>& found)
{
    if (depth > CPdfParser::kMaxNestingDepth)
        return;
    switch (value.type()) {
    case PDF_REF:
        found.push_back(value.refNum());
        break;
    case PDF_ARRAY:
        for (int index = 0; index < value.arrayValue()->count(); ++index) {
            CPdfObject item;
            value.arrayValue()->getItemUnresolved(index, item);
            visitValue(item, depth + 1, found);
        }
        break;
    case PDF_DICT: {
        const CPdfDict& dict = *value.dictValue();
        CPdfObject entry;
        // What PDF/A forbids: blend modes, transparency, fonts the viewer supplies.
        dict.getValueUnresolved("BM", entry);
        if ((entry.type() == PDF_NAME && !nameIs(entry, "Normal") && !nameIs(entry, "Compatible")) ||
            entry.type() == PDF_ARRAY)
            m_traits.blendMode = true;
        dict.getValueUnresolved("SMask", entry);
        if (entry.type() == PDF_REF || entry.type() == PDF_DICT)
            m_traits.softMask = true;
        dict.getValueUnresolved("S", entry);
        if (nameIs(entry, "Transparency"))
            m_traits.transparencyGroup = true;
        dict.getValueUnresolved("Type", entry);
        CPdfObject subtype;
        dict.getValueUnresolved("Subtype", subtype);
        // The name a viewer shows for a font it must supply.
        const auto notEmbedded = [&](const char* key) {
            CPdfObject name;
            dict.getValueUnresolved(key, name);
            if (!m_traits.fontNotEmbedded && name.type() == PDF_NAME)
                m_traits.fontName = name.textString();
            m_traits.fontNotEmbedded = true;
        };
        if (nameIs(entry, "FontDescriptor")) {
            CPdfObject file, file2, file3;
            dict.getValueUnresolved("FontFile", file);
            dict.getValueUnresolved("FontFile2", file2);
            dict.getValueUnresolved("FontFile3", file3);
            if (file.type() == PDF_NULL && file2.type() == PDF_NULL && file3.type() == PDF_NULL)
                notEmbedded("FontName");
        } else if (nameIs(subtype, "Type1") || nameIs(subtype, "TrueType") || nameIs(subtype, "MMType1")) {
            CPdfObject descriptor;
            dict.getValueUnresolved("FontDescriptor", descriptor);
            if (descriptor.type() == PDF_NULL)
                notEmbedded("BaseFont");
        }
        for (const auto& [key, item] : dict.entries())
            visitValue(item, depth + 1, found);
        break;
    }
    default:
        break;
    }
}

void CPdfPageStamp::refuseSelfDrawingForms()
{
    CXrefTable& xref = m_pdf->xref();
    // Each form's state: absent (not met), 1 (being drawn), 2 (done).
    std::unordered_map<int, int> state;
    const std::function<void(const std::string&, const CPdfObject&, int)> draw = [&](const std::string& content,
                                                                                     const CPdfObject& resources,
                                                                                     int depth) {
        if (depth > CPdfParser::kMaxNestingDepth)
            fail("has forms nested deeper than " + std::to_string(CPdfParser::kMaxNestingDepth));
        CPdfObject xobjects;
        if (resources.type() == PDF_DICT)
            resources.dictValue()->getValue("XObject", xobjects);
        if (xobjects.type() != PDF_DICT)
            return;
        for (const std::string& name : namesDrawn(content)) {
            CPdfObject ref;
            xobjects.dictValue()->getValueUnresolved(name.c_str(), ref);
            if (ref.type() != PDF_REF)
                continue;
            int& seen = state[ref.refNum()];
            if (seen == 1)
                fail("has a form XObject that draws itself (object " + std::to_string(ref.refNum()) + ")");
            if (seen == 2)
                continue;
            CPdfObject form, subtype;
            xref.fetchObject(ref.refNum(), ref.refGen(), form);
            if (form.type() != PDF_STREAM)
                continue;
            form.streamValue()->streamDict()->getValue("Subtype", subtype);
            if (!nameIs(subtype, "Form"))
                continue;
            seen = 1;
            CPdfObject own;
            form.streamValue()->streamDict()->getValue("Resources", own);
            const CPdfRefPtr<CPdfStream> decoded = xref.streamData(ref.refNum(), ref.refGen(), form, kMaxContentBytes);
            if (!decoded)
                fail("has a form XObject in a filter that cannot be decoded (object " + std::to_string(ref.refNum()) +
                     ")");
            // A form without resources of its own uses those of what draws it.
            draw(readAll(*decoded.get(), kMaxContentBytes), own.type() == PDF_DICT ? own : resources, depth + 1);
            state[ref.refNum()] = 2;
        }
    };
    for (const CPage& page : m_pages) {
        CPdfObject resources;
        if (!page.resources.text.empty()) {
            const std::string& text = page.resources.text;
            CPdfParser parser(
                &xref, new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
            CPdfObject written;
            parser.parseObject(written);
            written.resolve(&xref, resources);
        }
        draw(page.content, resources, 0);
    }
}

std::string CPdfPageStamp::rewritten(std::string_view text, int heldNum, int heldGen, int newNum, int firstNum,
                                     CNewObjectWriter& writer) const
{
    const CXrefTable& xref = m_pdf->xref();
    const CSecurityHandler* security = xref.securityHandler();
    std::string out;
    CPdfLexer lexer(new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    lexer.setKeepStringBytes(true);
    size_t copied = 0;
    // The two tokens before the current one, when they are integers: a reference's number and generation.
    struct CInteger {
        int64_t begin = -1;
        int value = 0;
    };
    CInteger before[2];
    CPdfObject token;
    for (;;) {
        lexer.readToken(token);
        if (token.type() == PDF_EOF || token.type() == PDF_ERROR)
            break;
        const size_t begin = static_cast<size_t>(lexer.tokenBegin()), end = static_cast<size_t>(lexer.tokenEnd());
        if (token.type() == PDF_INT) {
            before[0] = before[1];
            before[1] = CInteger{lexer.tokenBegin(), token.intValue()};
            continue;
        }
        if (token.type() == PDF_CMD && token.isKeyword("R") && before[0].begin >= 0) {
            const auto found = m_order.find(before[0].value);
            const int64_t at = before[0].begin;
            out.append(text.substr(copied, static_cast<size_t>(at) - copied));
            out += found == m_order.end() ? std::string("null") : std::to_string(firstNum + found->second) + " 0 R";
            copied = end;
        } else if (token.type() == PDF_STRING) {
            std::string bytes = token.textString();
            if (security)
                bytes = security->decryptString(heldNum, heldGen, bytes);
            out.append(text.substr(copied, begin - copied));
            out += hexString(writer.stringFor(newNum, bytes));
            copied = end;
        }
        before[0] = before[1] = CInteger();
    }
    out.append(text.substr(copied));
    return out;
}

std::string CPdfPageStamp::objectText(int num, CPdfObjectHead& head) const
{
    std::string text = m_pdf->reader().text(num);
    // Laid out from the text itself: where the reader mended a stream's
    // /Length there, what follows has moved from where the file has it.
    if (text.empty() || !CObjectReader::headOfText(text, head))
        return std::string();
    return text;
}

void CPdfPageStamp::copyObject(int num, int newNum, int firstNum, CNewObjectWriter& writer) const
{
    CXrefTable& xref = m_pdf->xref();
    CPdfObjectHead head;
    const std::string text = objectText(num, head);
    if (text.empty() || head.valueEnd <= head.valueBegin)
        fail("has an object that cannot be read (object " + std::to_string(num) + ")");
    const auto part = [&](int64_t begin, int64_t end) {
        return rewritten(std::string_view(text).substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin)),
                         num, head.gen, newNum, firstNum, writer);
    };
    int written = 0;
    if (!head.isStream()) {
        written = writer.writeNewObject(" 0 obj\n" + part(head.valueBegin, head.valueEnd));
    } else {
        if (head.dict.open < 0 || head.dict.close < head.dict.open)
            fail("has a stream that cannot be read (object " + std::to_string(num) + ")");
        // /Length is written anew for the data as copied; the structure
        // tree's keys would name the stamp file's tree, which is not copied.
        std::string entries;
        int64_t at = head.dict.open + 2;
        for (const CPdfEntryLayout& entry : head.dict.entries)
            if (entry.key == "Length" || entry.key == "StructParent" || entry.key == "StructParents") {
                entries += part(at, entry.keyBegin);
                at = std::max(at, entry.valueEnd);
            }
        entries += part(at, head.dict.close);
        // The data follows "stream" and its line end, as long as /Length says
        // (the reader has put a damaged stream's true length there).
        int64_t length = -1;
        if (const CPdfEntryLayout* entry = head.dict.find("Length")) {
            CPdfObject value;
            if (entry->type == PDF_REF)
                xref.fetchObject(entry->num, entry->gen, value);
            else
                parseValue(std::string_view(text).substr(static_cast<size_t>(entry->valueBegin),
                                                         static_cast<size_t>(entry->valueEnd - entry->valueBegin)),
                           value);
            if (value.type() == PDF_INT)
                length = value.intValue();
        }
        size_t begin = static_cast<size_t>(head.keywordEnd);
        if (text.compare(begin, 2, "\r\n") == 0)
            begin += 2;
        else if (begin < text.size() && (text[begin] == '\n' || text[begin] == '\r'))
            begin += 1;
        if (length < 0 || begin + static_cast<uint64_t>(length) > text.size())
            fail("has a stream that cannot be read (object " + std::to_string(num) + ")");
        std::string data = text.substr(begin, static_cast<size_t>(length));
        CPdfObject value;
        parseValue(std::string_view(text).substr(static_cast<size_t>(head.valueBegin),
                                                 static_cast<size_t>(head.valueEnd - head.valueBegin)),
                   value);
        // The data is encrypted as it is stored, under whatever filters it has.
        const CSecurityHandler* security = xref.securityHandler();
        if (security && value.type() == PDF_DICT && security->isStreamEncrypted(value))
            data = security->decrypt(security->streamMethodFor(value), num, head.gen, data);
        written = writer.writeNewStream(" 0 obj\n<<" + entries + "/Length ", "\n>>\nstream\n", data);
    }
    if (written != newNum)
        throw CPdfException(CPdfException::EKind::Internal, "a stamp page's object was written out of order");
}

int CPdfPageStamp::write(CNewObjectWriter& writer) const
{
    // The forms, one for each page, then the objects they share.
    const int base = writer.nextNumber();
    const int first = base + static_cast<int>(m_pages.size());
    for (size_t index = 0; index < m_pages.size(); ++index) {
        const CPage& page = m_pages[index];
        const int form = base + static_cast<int>(index);
        // The matrix maps the crop box, turned as the page displays, onto the unit square.
        const double x0 = page.cropBox[0], y0 = page.cropBox[1], x1 = page.cropBox[2], y1 = page.cropBox[3];
        const double w = x1 - x0, h = y1 - y0;
        double matrix[6] = {1 / w, 0, 0, 1 / h, -x0 / w, -y0 / h};
        if (page.rotate == 90)
            matrix[0] = 0, matrix[1] = -1 / w, matrix[2] = 1 / h, matrix[3] = 0, matrix[4] = -y0 / h,
            matrix[5] = x1 / w;
        else if (page.rotate == 180)
            matrix[0] = -1 / w, matrix[1] = 0, matrix[2] = 0, matrix[3] = -1 / h, matrix[4] = x1 / w,
            matrix[5] = y1 / h;
        else if (page.rotate == 270)
            matrix[0] = 0, matrix[1] = 1 / w, matrix[2] = -1 / h, matrix[3] = 0, matrix[4] = y1 / h,
            matrix[5] = -x0 / w;
        std::string head = " 0 obj\n<<\n/Type /XObject\n/Subtype /Form\n/BBox [" + number(x0) + " " + number(y0) + " " +
                           number(x1) + " " + number(y1) + "]\n/Matrix [";
        for (int entry = 0; entry < 6; ++entry)
            head += (entry ? " " : "") + number(matrix[entry]);
        head += "]\n/Resources ";
        head += page.resources.text.empty()
                    ? std::string("<<>>")
                    : rewritten(page.resources.text, page.resources.num, page.resources.gen, form, first, writer);
        if (!page.group.text.empty())
            head += "\n/Group " + rewritten(page.group.text, page.group.num, page.group.gen, form, first, writer);
        head += "\n/Filter /FlateDecode\n/Length ";
        if (writer.writeNewStream(head, "\n>>\nstream\n", page.compressed) != form)
            throw CPdfException(CPdfException::EKind::Internal, "the stamp page's form was written out of order");
    }
    for (size_t index = 0; index < m_objects.size(); ++index)
        copyObject(m_objects[index], first + static_cast<int>(index), first, writer);
    return base;
}
