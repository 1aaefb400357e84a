#include "stamp/StampObjects.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "stamp/JpegHeader.h"
#include "stamp/StampPlacement.h"

std::string formatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return text;
}

void appendInteger(std::string& text, long long value)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, static_cast<size_t>(end - digits));
}

void appendFixed(std::string& text, double value, int precision)
{
    // Whole numbers (matrix entries, most positions and sizes) need no rounding.
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        if (std::signbit(value))
            text += '-';
        appendInteger(text, static_cast<long long>(std::fabs(value)));
        if (precision > 0) {
            text += '.';
            text.append(static_cast<size_t>(precision), '0');
        }
        return;
    }
    char digits[400]; // room for the largest double written in full
    auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    text.append(digits, static_cast<size_t>(result.ptr - digits));
}

std::string referenceText(const char* before, long long num, const char* after)
{
    std::string text = before;
    appendInteger(text, num);
    text += after;
    return text;
}

std::string formatImageObjectTail(const JpegInfo& jpeg)
{
    // The colour space follows the frame's component count; Adobe CMYK files
    // store their samples inverted, which /Decode undoes.
    const char* colorSpace = "/ColorSpace/DeviceRGB";
    if (jpeg.components == 1)
        colorSpace = "/ColorSpace/DeviceGray";
    else if (jpeg.components == 4)
        colorSpace = jpeg.adobe ? "/ColorSpace/DeviceCMYK/Decode [1 0 1 0 1 0 1 0]" : "/ColorSpace/DeviceCMYK";
    return formatText("/Filter/DCTDecode/Name/X/BitsPerComponent 8%s/Width %d/Height %d/Type/XObject>>stream\n",
                      colorSpace, jpeg.width, jpeg.height);
}

std::string writeGraphicsStateObject(float opacity)
{
    // The percentage times the single-precision 0.01, printed from a double.
    double fraction = static_cast<double>(opacity) * static_cast<double>(0.01f);
    return formatText(" 0 obj<</Type/ExtGState/ca %.2f>>\nendobj\n", fraction);
}

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
        {1, 0, 0, 1, 0, 0},  {-1, 0, 0, 1, 1, 0}, {-1, 0, 0, -1, 1, 1}, {1, 0, 0, -1, 0, 1},
        {0, -1, -1, 0, 1, 1}, {0, -1, 1, 0, 0, 1}, {0, 1, 1, 0, 0, 0},   {0, 1, -1, 0, 1, 0},
    };
    const int index = orientation >= 1 && orientation <= 8 ? orientation - 1 : 0;
    for (int i = 0; i < 6; ++i)
        matrix[i] = kMatrices[index][i];
}

std::string buildStampStream(const std::string& gsName, const std::string& imName, double x, double y, float angle,
                             double width, double height, const CStampFrame& frame, const CStampDraw& draw)
{
    return formatStampRestore(frame) + formatStampDraw(gsName, imName, x, y, angle, width, height, draw);
}

std::string formatStampRestore(const CStampFrame& frame)
{
    std::string content = frame.endText ? "\nET\n" : "\n";
    for (int i = 0; i < std::max(frame.restores, 1); ++i)
        content += "Q\n";
    return content;
}

std::string formatStampDraw(const std::string& gsName, const std::string& imName, double x, double y, float angle,
                            double width, double height, const CStampDraw& draw)
{
    double m[4];
    rotationMatrix(angle, m);
    // "q\n/%s gs\n1 0 0 1 %.2f %.2f cm\n%f %f %f %f 0 0 cm\n%.2f 0 0 %.2f 0 0 cm\n/%s Do\nQ\n",
    // the first three matrix entries printed from single precision.
    std::string content = "q\n";
    if (draw.artifact == EArtifact::WATERMARK)
        content += "/Artifact <</Type /Pagination /Subtype /Watermark>> BDC\n";
    else if (draw.artifact == EArtifact::PRINTER_MARK)
        content += "/Artifact <</Type /Page>> BDC\n";
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
    content += "/" + imName + " Do\n";
    if (draw.artifact != EArtifact::NONE)
        content += "EMC\n";
    content += "Q\n";
    return content;
}
