#include "filters/Deflate.h"

#include <zlib.h>

#include "pdf/CPdfException.h"

std::string deflateBytes(std::string_view data, int level, const char* what)
{
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &length, reinterpret_cast<const Bytef*>(data.data()),
                  static_cast<uLong>(data.size()), level) != Z_OK)
        throw CPdfException(CPdfException::EKind::SystemError,
                            std::string("\nOut of memory compressing ") + what + "\n");
    out.resize(length);
    return out;
}
