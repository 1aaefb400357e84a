#pragma once

#include <string>

class CPdfFile;
class CPdfObject;
struct CImageTraits;

// What the input's catalog says of the kind of document it is: whether it
// is tagged (/MarkInfo), which PDF/A part its XMP metadata claims, and the
// colour model of its output intent. Read once before the stamp is written.
class CDocumentProfile {
public:
    // Metadata larger than this is not read: XMP packets are a few kilobytes.
    static constexpr size_t kMaxMetadataBytes = 16 * 1024 * 1024;

    explicit CDocumentProfile(CPdfFile& input);

    bool tagged() const { return m_tagged; }
    int pdfaPart() const { return m_pdfaPart; } // 0: no claim
    // The components of the PDF/A output intent's profile (1 grey, 3 RGB,
    // 4 CMYK); 0 without one.
    int outputIntentComponents() const { return m_intentComponents; }

    // What of a stamp of `image` at `opacity` percent, drawn with the blend
    // mode `blend` (empty: Normal), breaks the PDF/A part the file claims, as
    // one sentence; empty when nothing does.
    std::string pdfaBreaches(const CImageTraits& image, int opacity, const std::string& blend = std::string()) const;

private:
    void readMetadata(CPdfFile& input, int num, int gen);
    void readOutputIntents(CPdfFile& input, const CPdfObject& intents);

    bool m_tagged = false;
    int m_pdfaPart = 0;
    int m_intentComponents = 0;
};
