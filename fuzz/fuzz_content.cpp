// The content-stream decoders and the content scanner over raw bytes. The
// first byte chooses the filter (with a row predictor behind Flate or LZW,
// or none) and where the decoded data is cut into pieces; the scanner must
// find the same effect however it is cut.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "load/StreamFilters.h"
#include "pdf/CPdfContentScanner.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const struct {
        const char* name;
        const char* parms;
    } kFilters[] = {{"", ""},
                    {"LZWDecode", ""},
                    {"ASCII85Decode", ""},
                    {"ASCIIHexDecode", ""},
                    {"RunLengthDecode", ""},
                    {"FlateDecode", ""},
                    {"FlateDecode", "<< /Predictor 15 /Columns 7 /Colors 3 >>"},
                    {"LZWDecode", "<< /Predictor 2 /Columns 5 /BitsPerComponent 4 >>"}};
    const int choice = data[0] % 8;
    const size_t piece = 1 + (data[0] >> 3);
    CPdfStream* stream = new CPdfMemoryStream(nullptr, data + 1, size - 1);
    if (choice > 0) {
        CPdfObject parms;
        const std::string_view text = kFilters[choice].parms;
        if (!text.empty()) {
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
            CPdfParser(nullptr, new CPdfMemoryStream(nullptr, bytes, text.size())).parseObject(parms);
        }
        CPdfStream* decoded = createDecoder(kFilters[choice].name, stream, parms);
        if (!decoded) {
            stream->release();
            return 0;
        }
        stream = decoded;
    }
    std::string bytes;
    // A bound on what one input may decode to, as the program's budget is.
    for (int c; bytes.size() < (1u << 22) && (c = stream->readChar()) >= 0;)
        bytes += static_cast<char>(c);
    stream->release();

    const uint8_t* begin = reinterpret_cast<const uint8_t*>(bytes.data());
    CPdfContentScanner whole, cut;
    whole.scan(begin, bytes.size());
    for (size_t at = 0; at < bytes.size(); at += piece)
        cut.scan(begin + at, std::min(piece, bytes.size() - at));
    if (!(whole.finish() == cut.finish()))
        std::abort();
    return 0;
}
