#include "document/CDocumentProfile.h"

#include "document/XmpPdfaId.h"
#include "image/CStampImage.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfRefPtr.h"
#include "pdf/CPdfStream.h"

CDocumentProfile::CDocumentProfile(CPdfFile& input)
{
    CXrefTable& xref = input.xref();
    CPdfObject catalog;
    try {
        xref.fetchObject(xref.rootNum(), xref.rootGen(), catalog);
        if (catalog.type() != PDF_DICT)
            return;
        const CPdfDict& dict = *catalog.dictValue();
        CPdfObject markInfo, marked;
        dict.getValue("MarkInfo", markInfo);
        if (markInfo.type() == PDF_DICT) {
            markInfo.dictValue()->getValue("Marked", marked);
            m_tagged = marked.type() == PDF_BOOL && marked.boolValue();
        }
        CPdfObject metadata;
        dict.getValueUnresolved("Metadata", metadata);
        if (metadata.type() == PDF_REF)
            readMetadata(input, metadata.refNum(), metadata.refGen());
        CPdfObject intents;
        dict.getValue("OutputIntents", intents);
        readOutputIntents(input, intents);
    } catch (const CPdfException&) {
        // A catalog or metadata too damaged to read claims nothing.
    }
}

void CDocumentProfile::readMetadata(CPdfFile& input, int num, int gen)
{
    CXrefTable& xref = input.xref();
    CPdfObject object;
    xref.fetchObject(num, gen, object);
    if (object.type() != PDF_STREAM)
        return;
    // Metadata may be left in the clear in an encrypted file (/EncryptMetadata false).
    const CPdfRefPtr<CPdfStream> data = xref.streamData(num, gen, object, static_cast<int64_t>(kMaxMetadataBytes));
    if (!data)
        return;
    std::string xmp;
    uint8_t piece[16384];
    while (xmp.size() < kMaxMetadataBytes) {
        const size_t got = data->readBytes(piece, sizeof piece);
        xmp.append(reinterpret_cast<const char*>(piece), got);
        if (got < sizeof piece)
            break;
    }
    m_pdfaPart = pdfaPartOf(xmp);
}

void CDocumentProfile::readOutputIntents(CPdfFile& input, const CPdfObject& intents)
{
    if (intents.type() != PDF_ARRAY)
        return;
    for (int i = 0; i < intents.arrayValue()->count(); ++i) {
        CPdfObject intent, subtype, profile;
        intents.arrayValue()->getItem(i, intent);
        if (intent.type() != PDF_DICT)
            continue;
        intent.dictValue()->getValue("S", subtype);
        if (subtype.type() != PDF_NAME || subtype.textString() != "GTS_PDFA1")
            continue;
        intent.dictValue()->getValueUnresolved("DestOutputProfile", profile);
        if (profile.type() != PDF_REF)
            continue;
        CPdfObject stream, components;
        input.xref().fetchObject(profile.refNum(), profile.refGen(), stream);
        if (stream.type() != PDF_STREAM || !stream.streamValue()->streamDict())
            continue;
        stream.streamValue()->streamDict()->getValue("N", components);
        if (components.type() == PDF_INT) {
            m_intentComponents = components.intValue();
            return;
        }
    }
}

std::string CDocumentProfile::pdfaBreaches(const CImageTraits& image, int opacity, const std::string& blend) const
{
    if (m_pdfaPart <= 0)
        return std::string();
    std::string breaches;
    auto add = [&breaches](const std::string& what) { breaches += (breaches.empty() ? "" : ", ") + what; };
    if (m_pdfaPart == 1) {
        // PDF/A-1 allows no transparency (a blend mode but Normal is one),
        // and samples of at most 8 bits.
        std::string transparency;
        for (const std::string& why : {opacity < 100 ? std::string("opacity below 100") : std::string(),
                                       image.softMask ? std::string("a soft mask") : std::string(),
                                       blend.empty() ? std::string() : "blend mode " + blend,
                                       image.blendMode ? std::string("a blend mode") : std::string(),
                                       image.transparencyGroup ? std::string("a transparency group") : std::string()})
            if (!why.empty())
                transparency += (transparency.empty() ? "" : ", ") + why;
        if (!transparency.empty())
            add("transparency (" + transparency + ")");
        if (image.sixteenBit)
            add("16-bit samples");
    }
    // A device colour space needs an output intent of its colour model; grey
    // fits any.
    static const char* const kSpaceNames[] = {"", "DeviceGray", "DeviceRGB", "DeviceCMYK"};
    static const int kComponents[] = {0, 0, 3, 4};
    if (image.deviceSpace != CImageTraits::NO_DEVICE_SPACE) {
        const std::string space = kSpaceNames[image.deviceSpace];
        if (m_intentComponents == 0)
            add(space + ", and the file has no output intent");
        else if (kComponents[image.deviceSpace] != 0 && kComponents[image.deviceSpace] != m_intentComponents)
            add(space + ", which the file's output intent does not cover");
    }
    if (image.fontNotEmbedded)
        add("a font that is not embedded (" + image.fontName + ")");
    if (breaches.empty())
        return std::string();
    const std::string part = "PDF/A-" + std::to_string(m_pdfaPart);
    return "the input claims " + part + ", and the stamp breaks it with " + breaches + ": the output is no longer " +
           part;
}
