#include "page/CStampSettings.h"

#include <climits>
#include <cstdint>

const CCornerMark kCornerMarks[kCornerMarkCount] = {
    {EMarkBox::TRIM, MARK_BLV, "-trim_blv"}, {EMarkBox::TRIM, MARK_BLH, "-trim_blh"},
    {EMarkBox::TRIM, MARK_TLV, "-trim_tlv"}, {EMarkBox::TRIM, MARK_TLH, "-trim_tlh"},
    {EMarkBox::TRIM, MARK_BRV, "-trim_brv"}, {EMarkBox::TRIM, MARK_BRH, "-trim_brh"},
    {EMarkBox::TRIM, MARK_TRV, "-trim_trv"}, {EMarkBox::TRIM, MARK_TRH, "-trim_trh"},
    {EMarkBox::CROP, MARK_BLV, "-crop_blv"}, {EMarkBox::CROP, MARK_BLH, "-crop_blh"},
    {EMarkBox::CROP, MARK_TLV, "-crop_tlv"}, {EMarkBox::CROP, MARK_TLH, "-crop_tlh"},
    {EMarkBox::CROP, MARK_BRV, "-crop_brv"}, {EMarkBox::CROP, MARK_BRH, "-crop_brh"},
    {EMarkBox::CROP, MARK_TRV, "-crop_trv"}, {EMarkBox::CROP, MARK_TRH, "-crop_trh"},
};

static_assert(CStampSettings::cropTrh + 1 == kCornerMarkCount, "a corner flag for every corner mark");

size_t cornerMarkIndex(EMarkBox box, ECornerMark mark)
{
    size_t index = 0;
    while (index + 1 < kCornerMarkCount && (kCornerMarks[index].box != box || kCornerMarks[index].mark != mark))
        ++index;
    return index;
}

bool CStampSettings::selectsPage(int pageIndex) const
{
    const int64_t page = static_cast<int64_t>(pageIndex) + 1;
    if (page < startPage || page > endPage)
        return false;
    return everyNth == 0 || (static_cast<int64_t>(pageIndex) + startPage) % everyNth != 0;
}

namespace {

int clampToInt(int64_t value)
{
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

} // namespace

void CStampSettings::resolveRangeFromEnd(int pageCount)
{
    if (startPage == 0)
        startPage = clampToInt(static_cast<int64_t>(pageCount) - startFromEnd);
    if (endPage == 0)
        endPage = clampToInt(static_cast<int64_t>(pageCount) - endFromEnd);
}
