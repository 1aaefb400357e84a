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
    {
        CXrefTable byTokens;
        try {
            byTokens.load(document.sharedFile(), document.mainStream(), true);
        } catch (const CPdfException&) {
            std::abort();
        }
        const auto& fast = xref->records();
        const auto& slow = byTokens.records();
        if (fast.size() != slow.size() || byTokens.rootNum() != xref->rootNum() ||
            byTokens.infoNum() != xref->infoNum())
            std::abort();
        for (size_t i = 0; i < fast.size(); ++i)
            if (fast[i].type != slow[i].type || fast[i].offset != slow[i].offset || fast[i].gen != slow[i].gen)
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
