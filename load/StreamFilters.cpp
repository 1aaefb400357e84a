#include "load/StreamFilters.h"

#include "load/CPdfInflateStream.h"
#include "load/CPdfRowPredictor.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfObject.h"

CPdfStream* attachFilters(CPdfStream* raw, const CPdfObject& dict)
{
    if (dict.type() != PDF_DICT)
        return raw;
    CPdfDict* entries = dict.dictValue();
    CPdfObject filter;
    entries->getValue("Filter", filter);
    if (filter.type() == PDF_NULL)
        entries->getValue("F", filter);
    CPdfObject parms;
    entries->getValue("DecodeParms", parms);
    if (parms.type() == PDF_NULL)
        entries->getValue("DP", parms);

    if (filter.type() == PDF_NAME)
        return createDecoder(filter.textString(), raw, parms);
    if (filter.type() == PDF_ARRAY && filter.arrayValue()->count() == 1) {
        CPdfObject item;
        filter.arrayValue()->getItem(0, item);
        if (item.type() == PDF_NAME || item.type() == PDF_STRING)
            return createDecoder(item.textString(), raw, parms);
        return nullptr;
    }
    if (filter.type() == PDF_NULL)
        return raw;
    return nullptr;
}

CPdfStream* createDecoder(const std::string& name, CPdfStream* source, const CPdfObject& parms)
{
    if (name != "FlateDecode" && name != "Fl")
        return nullptr;
    int values[4] = {1, 1, 1, 8}; // Predictor, Columns, Colors, BitsPerComponent
    if (parms.type() == PDF_DICT) {
        const char* keys[4] = {"Predictor", "Columns", "Colors", "BitsPerComponent"};
        for (int i = 0; i < 4; ++i) {
            CPdfObject value;
            parms.dictValue()->getValue(keys[i], value);
            if (value.type() == PDF_INT)
                values[i] = value.intValue();
        }
    }
    if (values[0] != 1 && CPdfRowPredictor::rowSizeFor(values[1], values[2], values[3]) < 0)
        return nullptr;
    return new CPdfInflateStream(source, values[0], values[1], values[2], values[3]);
}
