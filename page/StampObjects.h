#pragma once

#include <string>
#include <utility>

#include "document/CStampFrame.h"
#include "pdf/PdfFormat.h"

// The bytes of the objects each run adds. None holds the object number: the
// writer puts the number in front of each.

// In a tagged file the stamp is marked as an artifact, so that the structure
// tree still covers all the page's real content: a watermark, page numbering
// (page and Bates numbers), or a printer's mark (a production aid such as a
// cut mark).
enum class EArtifact { NONE, WATERMARK, PAGINATION, PRINTER_MARK };

// How the image is drawn in its box: the EXIF orientation that turns or
// mirrors it, and the artifact marking around it. `content`, when not empty,
// is drawn in the unit square instead of the image (a page's own text).
struct CStampDraw {
    int orientation = 1;
    EArtifact artifact = EArtifact::NONE;
    std::string content;
    std::string layer; // the resource name of the optional content group it is drawn in; empty: none
};

// The matrix that maps the image's unit square onto itself as EXIF
// `orientation` shows it; the identity for 1 and anything out of range.
void orientationMatrix(int orientation, int matrix[6]);

// The content of the stream run before a page's own content: it saves the graphics state.
std::string buildPrefixStream(const CStampFrame& frame = CStampFrame());

// The stream run after a page's own content is made of two parts: what
// brings the page back to its initial state, and one drawing of the image
// (a marks update draws eight after one restore). An underlay's stream, run
// before the page's content, is the drawing alone.
std::string formatStampRestore(const CStampFrame& frame);
// Draws the image `imName` with the graphics state `gsName` (opacity,
// blend mode), scaled to width x height, rotated by `angle` degrees around
// its lower-left corner placed at (x, y). `draw` adds the orientation and
// the artifact marking.
std::string formatStampDraw(const std::string& gsName, const std::string& imName, double x, double y, float angle,
                            double width, double height, const CStampDraw& draw = CStampDraw());
// formatStampDraw's content before and after the drawing itself (the image's
// Do, or draw.content), for a stamp whose pages each draw their own.
std::pair<std::string, std::string> formatStampDrawAround(const std::string& gsName, double x, double y, float angle,
                                                          double width, double height, const CStampDraw& draw);
