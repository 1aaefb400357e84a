#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "image/CNewObjectWriter.h"
#include "load/CXrefRecord.h"

class CPdfFile;
class COutputFile;
struct CPageRecord;
class CPageStamper;
class CStampImage;
class CWrittenObjects;

// " 0 obj<</Type/ExtGState/ca 0.50>>\nendobj\n" for the fill opacity in
// percent; with a `blend` mode's name, "/BM/Multiply" after the opacity.
std::string writeGraphicsStateObject(float opacity, const std::string& blend = std::string());

// Puts a run's objects into its output, and decides where each goes: what
// comes before them, in what order the input's objects and the new ones
// stand, and how the cross-reference data closes the file. The full rewrite
// is one kind (CRewriteWriter); a signed file wants another, an update
// appended to the input's own bytes. The job drives either the same way:
// begin, the new objects every page shares, writeObjects, finish.
class COutputWriter : public CNewObjectWriter {
public:
    // The numbers of the objects every stamped page names.
    struct CSharedObjects {
        int state = 0;
        int image = 0;
        int verticalImage = 0; // a marks update's second image; 0 when none
    };

    virtual ~COutputWriter();
    COutputWriter(const COutputWriter&) = delete;
    COutputWriter& operator=(const COutputWriter&) = delete;

    // What comes before the first object.
    virtual void begin() = 0;
    // The input's objects, each page `stamper` selects stamped where it belongs.
    virtual void writeObjects(CPageStamper& stamper) = 0;
    // The cross-reference data and trailer; throws CPdfException when the
    // output would be too large for them.
    virtual void finish() = 0;

    // Starts a new object at the current position: gives it the next free
    // number, writes that number and returns it. The caller writes the rest
    // (" 0 obj" ... "endobj\n"), then calls endNewObject.
    int beginNewObject();
    // Object `num` is written (a stamp stream when `stamp`).
    void endNewObject(int num, bool stamp = false);
    // Writes `text`, the whole new text of input object `num` of generation `gen`.
    void writeChangedObject(int num, int gen, std::string_view text);
    // A new stream object (see CNewObjectWriter), a stamp stream when `stamp`.
    int writeNewStream(std::string_view head, std::string_view tail, std::string_view data, bool stamp);
    int writeNewStream(std::string_view head, std::string_view tail, std::string_view data) final
    {
        return writeNewStream(head, tail, data, false);
    }
    int writeNewStream(std::string_view head, std::string_view tail, CFileSource& file, int64_t length) final;
    int writeNewObject(std::string_view body) final;
    std::string stringFor(int num, const std::string& text) const final;
    // Writes the objects every stamped page names: the graphics state of
    // `opacity` percent and `blend` mode (empty: Normal), then `image` and a
    // marks update's `verticalImage`.
    CSharedObjects writeSharedObjects(int opacity, const std::string& blend, const CStampImage& image,
                                      const CStampImage* verticalImage);
    int nextNumber() const final { return static_cast<int>(m_outRecords.size()); }
    // The catalog was written anew as `text`: a later edit of it starts from that.
    void catalogRewritten(std::string text) { m_catalogText = std::move(text); }

    COutputFile& output() const { return m_output; }

protected:
    // `written`, when given, learns where the run's own objects stand (a mark
    // pass tells the next one).
    COutputWriter(COutputFile& output, CPdfFile& input, CWrittenObjects* written);

    // The trailer entries the output takes over from the input's, each
    // ending in a line end: /Root, /Info, an encrypted input's /Encrypt, and
    // its /ID, on which the key depends. With `keepIdentity` (an update is
    // the same file), the /ID of any input.
    std::string trailerEntries(bool keepIdentity) const;

    // When the catalog's /Pages names the one page of `pages`, puts a node
    // above it, so that the output has a page tree: writes the node and the
    // catalog naming it, and notes it in the page's record for the page's
    // own rewrite (CPageStamper::writeAsItStands, unless stamped).
    void mendPageTree(std::vector<CPageRecord>& pages);

    COutputFile& m_output;
    CPdfFile& m_input;
    CWrittenObjects* m_written;
    std::vector<CXrefRecord> m_outRecords; // the output's cross-reference table, by object number
    // Where offset 0 of m_outRecords stands in the output: an update keeps the
    // bytes before the input's header, from which offsets count.
    int64_t m_offsetBase = 0;
    std::string m_catalogText; // the catalog as last written anew; empty when it was not

private:
    // A new stream's text up to its data: `head`, the data's `length`, `tail`.
    void writeStreamHead(std::string_view head, uint64_t length, std::string_view tail);
};
