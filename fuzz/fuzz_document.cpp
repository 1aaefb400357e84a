// Opening a whole file and fetching every object it lists.
#include <cstdint>

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
    CXrefTable* xref = document.xref();
    if (xref->trailer().type() == PDF_DICT) {
        CPdfObject encrypt;
        xref->trailer().dictValue()->getValueUnresolved("Encrypt", encrypt);
        if (encrypt.type() != PDF_NULL)
            fuzzSecurityHandler(*xref, xref->trailer());
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
