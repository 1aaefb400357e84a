#include "load/StreamFilters.h"

#include <vector>

#include "load/CPdfInflateStream.h"
#include "load/CPdfRowPredictor.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfObject.h"

namespace {

struct CFlateParameters {
    int predictor = 1;
    int columns = 1;
    int colors = 1;
    int bitsPerComponent = 8;
};

// The filter `name` with `parms` as Flate decoding with a usable row
// predictor reads them; false for any other filter or unusable parameters.
bool readFlateParameters(const std::string& name, const CPdfObject& parms, CFlateParameters& out)
{
    if (name != "FlateDecode" && name != "Fl")
        return false;
    out = CFlateParameters();
    if (parms.type() == PDF_DICT) {
        const struct {
            const char* key;
            int CFlateParameters::*field;
        } keys[] = {{"Predictor", &CFlateParameters::predictor},
                    {"Columns", &CFlateParameters::columns},
                    {"Colors", &CFlateParameters::colors},
                    {"BitsPerComponent", &CFlateParameters::bitsPerComponent}};
        for (const auto& key : keys) {
            CPdfObject value;
            parms.dictValue()->getValue(key.key, value);
            if (value.type() == PDF_INT)
                out.*key.field = value.intValue();
        }
    }
    return out.predictor == 1 || CPdfRowPredictor::rowSizeFor(out.columns, out.colors, out.bitsPerComponent) >= 0;
}

struct CFilterStep {
    std::string name;
    CPdfObject parms;
};

// The filters of a stream dictionary in the order they decode, each with
// its parameters: items of a /DecodeParms array pair with the /Filter
// array's items, and one dictionary serves every filter. False when an
// item is not a name.
bool filterSteps(const CPdfObject& dict, std::vector<CFilterStep>& steps)
{
    CPdfDict* entries = dict.dictValue();
    CPdfObject filter;
    entries->getValue("Filter", filter);
    if (filter.type() == PDF_NULL)
        entries->getValue("F", filter);
    CPdfObject parms;
    entries->getValue("DecodeParms", parms);
    if (parms.type() == PDF_NULL)
        entries->getValue("DP", parms);

    auto parmsFor = [&parms](int index, CPdfObject& out) {
        if (parms.type() == PDF_ARRAY) {
            if (index < parms.arrayValue()->count())
                parms.arrayValue()->getItem(index, out);
        } else {
            out.assign(parms);
        }
    };
    if (filter.type() == PDF_NAME) {
        steps.push_back({filter.textString(), CPdfObject()});
        parmsFor(0, steps.back().parms);
        return true;
    }
    if (filter.type() == PDF_ARRAY) {
        for (int i = 0; i < filter.arrayValue()->count(); ++i) {
            CPdfObject item;
            filter.arrayValue()->getItem(i, item);
            if (item.type() != PDF_NAME && item.type() != PDF_STRING)
                return false;
            steps.push_back({item.textString(), CPdfObject()});
            parmsFor(i, steps.back().parms);
        }
        return true;
    }
    return filter.type() == PDF_NULL;
}

} // namespace

CPdfStream* attachFilters(CPdfStream* raw, const CPdfObject& dict)
{
    if (dict.type() != PDF_DICT)
        return raw;
    std::vector<CFilterStep> steps;
    if (!filterSteps(dict, steps))
        return nullptr;
    // Every step is checked before any decoder takes over `raw`.
    CFlateParameters parameters;
    for (const CFilterStep& step : steps)
        if (!readFlateParameters(step.name, step.parms, parameters))
            return nullptr;
    CPdfStream* stream = raw;
    for (const CFilterStep& step : steps)
        stream = createDecoder(step.name, stream, step.parms);
    return stream;
}

CPdfStream* createDecoder(const std::string& name, CPdfStream* source, const CPdfObject& parms)
{
    CFlateParameters values;
    if (!readFlateParameters(name, parms, values))
        return nullptr;
    return new CPdfInflateStream(source, values.predictor, values.columns, values.colors, values.bitsPerComponent);
}
