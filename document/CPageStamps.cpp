#include "document/CPageStamps.h"

#include "document/CPageRecord.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfStream.h"

namespace {

// The dictionary of `value` where it is a stream; null otherwise.
const CPdfDict* streamDictOf(const CPdfObject& value)
{
    return value.type() == PDF_STREAM && value.streamValue() ? value.streamValue()->streamDict() : nullptr;
}

} // namespace

CPageStamps::CPageStamps(CPdfFile& input, const CPageRecord& page)
{
    CXrefTable& xref = input.xref();
    if (page.objectNumber <= 0 || page.objectNumber >= xref.recordCount())
        return;
    try {
        CPdfObject object;
        xref.fetchObjectOrNull(page.objectNumber, xref.records()[static_cast<size_t>(page.objectNumber)].objectGen(),
                               object);
        if (object.type() != PDF_DICT)
            return;
        CPdfObject contents;
        object.dictValue()->getValue("Contents", contents);
        if (contents.type() == PDF_ARRAY) {
            for (int i = 0; i < contents.arrayValue()->count(); ++i) {
                CPdfObject item;
                contents.arrayValue()->getItem(i, item);
                readMark(streamDictOf(item), false);
            }
        } else {
            readMark(streamDictOf(contents), false);
        }
        CPdfObject annots;
        object.dictValue()->getValue("Annots", annots);
        if (annots.type() == PDF_ARRAY) {
            for (int i = 0; i < annots.arrayValue()->count(); ++i) {
                CPdfObject item;
                annots.arrayValue()->getItem(i, item);
                readMark(item.type() == PDF_DICT ? item.dictValue() : nullptr, true);
            }
        }
    } catch (const CPdfException&) {
        // What was read before the damage stands.
    }
}

void CPageStamps::readMark(const CPdfDict* holder, bool annotation)
{
    if (!holder)
        return;
    CFound found;
    found.annotation = annotation;
    switch (found.mark.read(*holder)) {
    case CStampMark::ERead::None:
        break;
    case CStampMark::ERead::Found:
        m_found.push_back(found);
        break;
    case CStampMark::ERead::Damaged:
        ++m_damaged;
        break;
    }
}
