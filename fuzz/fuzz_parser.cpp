// Lexer and parser over raw bytes: every object the bytes hold, until the end.
#include <cstdint>
#include <memory>

#include "load/CPdfMemoryStream.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        CPdfParser parser(nullptr, new CPdfMemoryStream(nullptr, data, size));
        CPdfObject object;
        // Every parseObject call consumes at least one token, so this ends.
        for (int i = 0; i < 100000; ++i) {
            parser.parseObject(object);
            if (object.type() == PDF_EOF)
                break;
        }
    } catch (const CPdfException&) {
    }
    return 0;
}
