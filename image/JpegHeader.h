#pragma once

#include <string_view>

class CFileSource;

// What the stamper needs to know of a JPEG file; the image data itself is
// copied unchanged into the PDF and never decoded.
struct JpegInfo {
    int width = 0;
    int height = 0;
    int components = 0;  // 1 grey, 3 colour (YCbCr/RGB), 4 CMYK
    bool adobe = false;  // an Adobe (APP14) segment: a 4-component file stores inverted CMYK
    int orientation = 1; // EXIF orientation (APP1): 1 as stored, 2 to 8 turned or mirrored
};

// The orientation tag (1 to 8) of an APP1 segment's data ("Exif\0\0" and a
// TIFF structure); 1 when it has none, or one out of range, or is no EXIF.
int exifOrientation(std::string_view app1);

// Walks the marker segments up to the first frame header. False when the file
// is not a JPEG or ends (or is malformed) before a frame header.
bool readJpegSize(CFileSource& jpeg, JpegInfo& info);

// Walks the segments and the entropy-coded data up to the end-of-image
// marker. False when the file ends before it (a cut-off download or copy);
// whatever follows the marker does not matter.
bool jpegReachesEnd(CFileSource& jpeg);

// A JPEG's image object is " 0 obj<</Subtype/Image/Length ", the length,
// this tail (through "stream\n"), the JPEG's bytes, "\nendstream\nendobj\n".
std::string formatImageObjectTail(const JpegInfo& jpeg);
