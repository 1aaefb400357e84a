#include "page/StampObjects.h"

#include <algorithm>

#include "page/StampPlacement.h"

std::string buildPrefixStream(const CStampFrame& frame)
{
    // "q q q q\n": two bytes a save.
    const int saves = frame.saves > 0 ? frame.saves : 1;
    std::string content;
    for (int i = 1; i < saves; ++i)
        content += "q ";
    content += "q\n";
    return content;
}

void orientationMatrix(int orientation, int matrix[6])
{
    // Image space (x right, y up) to the box as displayed: the EXIF values
    // mirror (2, 4), turn by a half (3) or a quarter (6, 8), or both (5, 7).
    static const int kMatrices[8][6] = {
        {1, 0, 0, 1, 0, 0},   {-1, 0, 0, 1, 1, 0}, {-1, 0, 0, -1, 1, 1}, {1, 0, 0, -1, 0, 1},
        {0, -1, -1, 0, 1, 1}, {0, -1, 1, 0, 0, 1}, {0, 1, 1, 0, 0, 0},   {0, 1, -1, 0, 1, 0},
    };
    const int index = orientation >= 1 && orientation <= 8 ? orientation - 1 : 0;
    for (int i = 0; i < 6; ++i)
        matrix[i] = kMatrices[index][i];
}

std::string formatStampRestore(const CStampFrame& frame)
{
    std::string content = frame.endText ? "\nET\n" : "\n";
    for (int i = 0; i < std::max(frame.restores, 1); ++i)
        content += "Q\n";
    return content;
}

std::pair<std::string, std::string> formatStampDrawAround(const std::string& gsName, double x, double y, float angle,
                                                          double width, double height, const CStampDraw& draw)
{
    double m[4];
    rotationMatrix(angle, m);
    // "q\n/%s gs\n1 0 0 1 %.2f %.2f cm\n%f %f %f %f 0 0 cm\n%.2f 0 0 %.2f 0 0 cm\n/%s Do\nQ\n",
    // the first three matrix entries printed from single precision.
    std::string content = "q\n";
    if (draw.artifact == EArtifact::WATERMARK)
        content += "/Artifact <</Type /Pagination /Subtype /Watermark>> BDC\n";
    else if (draw.artifact == EArtifact::PAGINATION)
        content += "/Artifact <</Type /Pagination>> BDC\n";
    else if (draw.artifact == EArtifact::PRINTER_MARK)
        content += "/Artifact <</Type /Page>> BDC\n";
    if (!draw.layer.empty())
        content += "/OC /" + draw.layer + " BDC\n";
    content += "/" + gsName + " gs\n1 0 0 1 ";
    appendFixed(content, x, 2);
    content += ' ';
    appendFixed(content, y, 2);
    content += " cm\n";
    for (int i = 0; i < 4; ++i) {
        appendFixed(content, i < 3 ? static_cast<double>(static_cast<float>(m[i])) : m[i], 6);
        content += ' ';
    }
    content += "0 0 cm\n";
    appendFixed(content, width, 2);
    content += " 0 0 ";
    appendFixed(content, height, 2);
    content += " 0 0 cm\n";
    if (draw.orientation > 1 && draw.orientation <= 8) {
        int m[6];
        orientationMatrix(draw.orientation, m);
        for (int value : m) {
            appendInteger(content, value);
            content += ' ';
        }
        content += "cm\n";
    }
    std::string after = draw.layer.empty() ? "" : "EMC\n";
    return {content, after + (draw.artifact != EArtifact::NONE ? "EMC\nQ\n" : "Q\n")};
}

std::string formatStampDraw(const std::string& gsName, const std::string& imName, double x, double y, float angle,
                            double width, double height, const CStampDraw& draw)
{
    const auto [before, after] = formatStampDrawAround(gsName, x, y, angle, width, height, draw);
    return before + (draw.content.empty() ? "/" + imName + " Do\n" : draw.content) + after;
}
