#pragma once

#include <memory>
#include <vector>
#include <zlib.h>

#include "load/CPdfRowPredictor.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"

// Flate-decoded data of another stream, with an optional row predictor.
// Nothing is read or allocated until the first byte is asked for: most stream
// objects the stamper parses are only looked at, never decoded.
class CPdfInflateStream : public CPdfStream {
public:
    // Takes over the caller's reference to `source`. The predictor parameters
    // must have been checked with CPdfRowPredictor::rowSizeFor when predictor != 1.
    CPdfInflateStream(CPdfStream* source, int predictor, int columns, int colors, int bitsPerComponent);

    void rewind() override {}
    CPdfDict* streamDict() override { return m_source->streamDict(); }
    int64_t tellPos() override { return m_source->tellPos(); }
    int64_t seekPos(int64_t, int) override { return tellPos(); }
    int64_t windowStart() override { return m_source->windowStart(); }
    void shiftStart(int64_t delta) override { m_source->shiftStart(delta); }
    int64_t windowLength() override { return m_source->windowLength(); }

    // The next inflated byte before the predictor stage; -1 at the end.
    int rawByte()
    {
        if (m_rawNext < m_rawEnd)
            return *m_rawNext++;
        if (!refill())
            return -1;
        return *m_rawNext++;
    }

protected:
    ~CPdfInflateStream() override;
    int readCharSlow() override;
    int peekCharSlow() override;

private:
    // Reads the compressed bytes (only what the file holds) and sets up zlib.
    void start();
    // Inflates the next piece into m_output; false when no more output comes.
    bool refill();
    // Makes the next decoded byte (after the predictor) available; false at the end.
    bool fillView();

    CPdfRefPtr<CPdfStream> m_source;
    std::unique_ptr<CPdfRowPredictor> m_predictor;
    z_stream m_zs{};
    bool m_started = false;
    bool m_zlibReady = false;
    bool m_finished = false;
    std::vector<uint8_t> m_compressed;
    std::vector<uint8_t> m_output; // sized when decoding starts
    const uint8_t* m_rawNext = nullptr;
    const uint8_t* m_rawEnd = nullptr;
};
