#include "load/StreamFilters.h"

#include <memory>
#include <vector>

#include "filters/CPdfAscii85Stream.h"
#include "filters/CPdfAsciiHexStream.h"
#include "filters/CPdfInflateStream.h"
#include "filters/CPdfLzwStream.h"
#include "filters/CPdfRowPredictor.h"
#include "filters/CPdfRunLengthStream.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfObject.h"

namespace {

enum EFilter { FILTER_FLATE, FILTER_LZW, FILTER_ASCII85, FILTER_ASCIIHEX, FILTER_RUNLENGTH };

// A filter as its decoder is made: which one, with its parameters.
struct CFilterParameters {
    EFilter filter = FILTER_FLATE;
    int predictor = 1;
    int columns = 1;
    int colors = 1;
    int bitsPerComponent = 8;
    int earlyChange = 1;
};

// The filter `name` with `parms` as its decoder reads them; false for a
// filter we do not decode or parameters that make no usable row.
bool readParameters(const std::string& name, const CPdfObject& parms, CFilterParameters& out)
{
    out = CFilterParameters();
    if (name == "FlateDecode" || name == "Fl")
        out.filter = FILTER_FLATE;
    else if (name == "LZWDecode" || name == "LZW")
        out.filter = FILTER_LZW;
    else if (name == "ASCII85Decode" || name == "A85")
        out.filter = FILTER_ASCII85;
    else if (name == "ASCIIHexDecode" || name == "AHx")
        out.filter = FILTER_ASCIIHEX;
    else if (name == "RunLengthDecode" || name == "RL")
        out.filter = FILTER_RUNLENGTH;
    else
        return false;
    if (parms.type() == PDF_DICT && (out.filter == FILTER_FLATE || out.filter == FILTER_LZW)) {
        const struct {
            const char* key;
            int CFilterParameters::*field;
        } keys[] = {{"Predictor", &CFilterParameters::predictor},
                    {"Columns", &CFilterParameters::columns},
                    {"Colors", &CFilterParameters::colors},
                    {"BitsPerComponent", &CFilterParameters::bitsPerComponent},
                    {"EarlyChange", &CFilterParameters::earlyChange}};
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
    CFilterParameters parameters;
    for (const CFilterStep& step : steps)
        if (!readParameters(step.name, step.parms, parameters))
            return nullptr;
    CPdfStream* stream = raw;
    for (const CFilterStep& step : steps)
        stream = createDecoder(step.name, stream, step.parms);
    return stream;
}

CPdfStream* createDecoder(const std::string& name, CPdfStream* source, const CPdfObject& parms)
{
    CFilterParameters values;
    if (!readParameters(name, parms, values))
        return nullptr;
    CPdfStream* decoded = nullptr;
    switch (values.filter) {
    case FILTER_FLATE:
        decoded = new CPdfInflateStream(source);
        break;
    case FILTER_LZW:
        decoded = new CPdfLzwStream(source, values.earlyChange);
        break;
    case FILTER_ASCII85:
        return new CPdfAscii85Stream(source);
    case FILTER_ASCIIHEX:
        return new CPdfAsciiHexStream(source);
    case FILTER_RUNLENGTH:
        return new CPdfRunLengthStream(source);
    }
    // The row predictor is a stage of its own behind the filter it belongs to.
    if (values.predictor == 1)
        return decoded;
    return new CPdfRowPredictor(decoded, values.predictor, values.columns, values.colors, values.bitsPerComponent);
}

CPdfRefPtr<CPdfStream> decryptedStreamData(CPdfStream& file, const CSecurityHandler& security,
                                           CSecurityHandler::EMethod method, int num, int gen,
                                           const CPdfObject& object, int64_t maxRawBytes)
{
    // The raw data lies in the window under the stream's decoders; a window
    // of length 0 would run to the end of the file, but holds nothing here.
    CPdfStream* data = object.streamValue();
    const int64_t length = data->windowLength();
    if (length <= 0 || length > maxRawBytes)
        return CPdfRefPtr<CPdfStream>();
    std::string raw(static_cast<size_t>(length), '\0');
    {
        CPdfRefPtr<CPdfStream> window =
            CPdfRefPtr<CPdfStream>::adopt(file.openWindow(data->windowStart(), length, CPdfObject()));
        if (!window)
            return CPdfRefPtr<CPdfStream>();
        raw.resize(window->readBytes(reinterpret_cast<uint8_t*>(&raw[0]), raw.size()));
    }
    auto plain = std::make_shared<const std::string>(security.decrypt(method, num, gen, raw));
    CPdfRefPtr<CPdfStream> memory = CPdfRefPtr<CPdfStream>::adopt(
        new CPdfMemoryStream(plain, reinterpret_cast<const uint8_t*>(plain->data()), plain->size()));
    CPdfObject dict;
    dict.setSharedDict(data->streamDict());
    CPdfStream* decoded = attachFilters(memory.get(), dict);
    if (!decoded)
        return CPdfRefPtr<CPdfStream>();
    memory.detach(); // the decoders took over our reference (or it is the data itself)
    return CPdfRefPtr<CPdfStream>::adopt(decoded);
}
