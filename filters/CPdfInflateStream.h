#pragma once

#include <vector>
#include <zlib.h>

#include "filters/CPdfDecodeStream.h"

// Flate-decoded data of another stream. Nothing is read or allocated until
// the first byte is asked for: most stream objects the stamper parses are
// only looked at, never decoded.
class CPdfInflateStream : public CPdfDecodeStream {
public:
    // Takes over the caller's reference to `source`.
    explicit CPdfInflateStream(CPdfStream* source) : CPdfDecodeStream(source) {}

protected:
    ~CPdfInflateStream() override;
    size_t decodePiece(uint8_t* out, size_t capacity) override;

private:
    // Reads the compressed bytes (only what the file holds) and sets up zlib.
    void start();

    z_stream m_zs{};
    bool m_started = false;
    bool m_zlibReady = false;
    bool m_finished = false;
    std::vector<uint8_t> m_compressed;
};
