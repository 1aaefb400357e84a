#include "document/CStampMark.h"

#include <cmath>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfObject.h"
#include "pdf/PdfFormat.h"

namespace {

constexpr const char* kKindNames[] = {"Image", "Text", "Pdf", "Marks"};

bool isIdCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

} // namespace

bool CStampMark::isValidId(const std::string& id)
{
    if (id.empty() || id.size() > kLongestId)
        return false;
    for (char c : id)
        if (!isIdCharacter(c))
            return false;
    return true;
}

const char* CStampMark::kindName(EKind kind)
{
    static constexpr const char* kShown[] = {"image", "text", "pdf", "marks"};
    return kShown[static_cast<int>(kind)];
}

const char* CStampMark::placementName(bool annotation, bool underlay)
{
    return annotation ? "annotation" : underlay ? "underlay" : "content";
}

std::string CStampMark::openEntry() const
{
    std::string text =
        std::string("/") + kKey + " << /Id /" + id + " /Kind /" + kKindNames[static_cast<int>(kind)] + " /Displayed [";
    const double values[4] = {x, y, width, height};
    for (int i = 0; i < 4; ++i) {
        appendFixed(text, values[i] + 0.0 == 0.0 ? 0.0 : values[i], 3);
        text += i < 3 ? " " : "]";
    }
    return text;
}

CStampMark::ERead CStampMark::read(const CPdfDict& holder)
{
    CPdfObject mark;
    holder.getValue(kKey, mark);
    if (mark.type() == PDF_NULL)
        return ERead::None;
    if (mark.type() != PDF_DICT)
        return ERead::Damaged;
    CPdfObject value;
    mark.dictValue()->getValue("Id", value);
    if (value.type() != PDF_NAME || !isValidId(value.textString()))
        return ERead::Damaged;
    id = value.textString();
    mark.dictValue()->getValue("Kind", value);
    if (value.type() != PDF_NAME)
        return ERead::Damaged;
    size_t index = 0;
    while (index < 4 && value.textString() != kKindNames[index])
        ++index;
    if (index == 4)
        return ERead::Damaged;
    kind = static_cast<EKind>(index);
    mark.dictValue()->getValue("Displayed", value);
    if (value.type() != PDF_ARRAY || value.arrayValue()->count() != 4)
        return ERead::Damaged;
    double* const place[4] = {&x, &y, &width, &height};
    for (int i = 0; i < 4; ++i) {
        CPdfObject number;
        value.arrayValue()->getItem(i, number);
        if (!number.isNumber() || !std::isfinite(number.numberValue()))
            return ERead::Damaged;
        *place[i] = number.numberValue();
    }
    mark.dictValue()->getValue("Underlay", value);
    underlay = value.type() == PDF_BOOL && value.boolValue();
    layer.clear();
    mark.dictValue()->getValue("Layer", value);
    if (value.type() == PDF_DICT) {
        CPdfObject name;
        value.dictValue()->getValue("VellicoLayer", name);
        if (name.type() == PDF_NAME)
            layer = name.textString();
    }
    return ERead::Found;
}
