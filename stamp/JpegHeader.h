#pragma once

class CFileSource;

// What the stamper needs to know of a JPEG file; the image data itself is
// copied unchanged into the PDF and never decoded.
struct JpegInfo {
    int width = 0;
    int height = 0;
    int components = 0;   // 1 grey, 3 colour (YCbCr/RGB), 4 CMYK
    bool adobe = false;   // an Adobe (APP14) segment: a 4-component file stores inverted CMYK
};

// Walks the marker segments up to the first frame header. False when the file
// is not a JPEG or ends (or is malformed) before a frame header.
bool readJpegSize(CFileSource& jpeg, JpegInfo& info);

// Walks the segments and the entropy-coded data up to the end-of-image
// marker. False when the file ends before it (a cut-off download or copy);
// whatever follows the marker does not matter.
bool jpegReachesEnd(CFileSource& jpeg);
