// Opening a whole file and fetching every object it lists. Classic tables
// are read by their byte reader and again by tokens: both must agree.
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzSecurityHandler.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfStream.h"

namespace {

bool sameTables(const CXrefTable& one, const CXrefTable& other)
{
    const auto& a = one.records();
    const auto& b = other.records();
    if (a.size() != b.size() || one.rootNum() != other.rootNum() || one.infoNum() != other.infoNum())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].type != b[i].type || a[i].offset != b[i].offset || a[i].gen != b[i].gen)
            return false;
    return true;
}

bool loadsWithoutRepair(CXrefTable& xref, CPdfFile& document, bool byTokens)
{
    try {
        xref.load(document.sharedFile(), document.mainStream(), byTokens, false);
    } catch (const CPdfException&) {
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzFile input(data, size);
    if (!input.ok())
        return 0;
    CPdfFile document;
    try {
        document.open(input.path());
    } catch (const CPdfException&) {
        return 0;
    }
    CXrefTable* xref = &document.xref();
    if (xref->trailer().type() == PDF_DICT) {
        CPdfObject encrypt;
        xref->trailer().dictValue()->getValueUnresolved("Encrypt", encrypt);
        if (encrypt.type() != PDF_NULL)
            fuzzSecurityHandler(*xref, xref->trailer());
    }
    // The tables read by tokens must give what the byte reader gave. Once the
    // file was rebuilt, both readers are compared without their rebuilds, so
    // each input pays for one rebuild: they must fail alike, or agree.
    if (!xref->rebuilt()) {
        CXrefTable byTokens;
        try {
            byTokens.load(document.sharedFile(), document.mainStream(), true);
        } catch (const CPdfException&) {
            std::abort();
        }
        if (!sameTables(*xref, byTokens))
            std::abort();
    } else {
        CXrefTable byBytes, byTokens;
        const bool bytesRead = loadsWithoutRepair(byBytes, document, false);
        if (bytesRead != loadsWithoutRepair(byTokens, document, true) || (bytesRead && !sameTables(byBytes, byTokens)))
            std::abort();
    }
    const int count = xref->recordCount();
    for (int num = 0; num < count && num < 5000; ++num) {
        try {
            CPdfObject object;
            const CXrefRecord& record = xref->records()[static_cast<size_t>(num)];
            xref->fetchObject(num, record.objectGen(), object);
            // Decode streams too: object streams and cross-reference streams are read this way.
            if (object.type() == PDF_STREAM) {
                CPdfStream* stream = object.streamValue();
                for (int i = 0; i < (1 << 20) && stream->readChar() >= 0; ++i) {
                }
            }
            if (record.type == XREF_IN_OBJSTM)
                xref->compressedObjectBytes(num, 0);
        } catch (const CPdfException&) {
        }
    }
    return 0;
}
