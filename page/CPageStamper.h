#pragma once

#include <array>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "document/CContentReader.h"
#include "document/CPageRecord.h"
#include "document/CStampMark.h"
#include "page/CPageRewriter.h"
#include "page/CResourceNames.h"
#include "page/CStampPainter.h"
#include "write/COutputWriter.h"

class CPdfFile;
class CReporter;
class CStampRemoval;
struct CStampSettings;

// Stamps the selected pages, one at a time, into the output: the stream
// before each page's content, the stamp after it, and the page's text
// rewritten to run between them and to name the run's image and state. An
// underlay is one stream before the content, which draws the stamp.
class CPageStamper {
public:
    // The objects every stamped page names: the run's names for its image
    // and graphics state, the name of a marks update's second image (empty
    // when none), and the objects' numbers. The image is a font where each
    // page draws its own text.
    struct CNewObjects {
        CResourceNames names;
        std::string verticalImage;
        COutputWriter::CSharedObjects numbers;
        bool imageIsFont = false;
        int layer = 0; // the optional content group the stamps are in; 0: none
        CStampMark::EKind kind = CStampMark::EKind::Image; // what the stamps' marks call their kind
    };
    // What each selected page gets.
    enum class EKind {
        Content,    // the stamp in content streams around the page's own
        Marks,      // the eight marks of the settings' box in one stream (an update's marks)
        Annotation, // a /Stamp annotation whose appearance draws the stamp
        Remove,     // no stamp: the stamps a removal names are taken off
    };

    // `earlierStamp(num)` tells whether object `num` is a stamp an earlier
    // mark pass wrote.
    CPageStamper(const CStampSettings& settings, std::vector<CPageRecord>& pages, CPdfFile& input,
                 COutputWriter& writer, CReporter& reporter, const CStampPainter& painter, const CNewObjects& objects,
                 std::function<bool(int)> earlierStamp, EKind kind = EKind::Content);

    // The document's pages in order, as the walk found them.
    std::vector<CPageRecord>& pageRecords() const { return m_pageRecords; }
    bool selects(int pageIndex) const;
    // The writer met a page of the input (progress).
    void pageMet();
    // Takes `removal`'s stamps off instead of stamping: the pages it names are the selected ones.
    void removeInstead(const CStampRemoval& removal);
    // Writes page `pageIndex`, whose text is `pageText`, stamped.
    void stamp(int pageIndex, const std::string& pageText);
    // Writes page `page`, not stamped, as it stands but for its new /Parent.
    void writeAsItStands(const CPageRecord& page) { m_rewriter.writeAsItStands(page); }
    // Page i drawn by painters[i] (the last for the pages past them), its
    // image object `objects`' image plus i: a stamp of several variants.
    void usePagePainters(const std::vector<CStampPainter>& painters, const CNewObjects& objects);
    // How many pages were stamped so far.
    int stampedCount() const { return m_stamped; }
    // Pages (1-based) whose /Contents or /Annots could not be edited: their stamps stay.
    const std::vector<int>& notRemoved() const { return m_notRemoved; }
    // Pages (1-based) whose /Annots could take no annotation: not stamped.
    const std::vector<int>& notAnnotated() const { return m_notAnnotated; }

private:
    // A stamp's content as it was made for a page: it depends on nothing
    // but the page's boxes and rotation and the frame, which most pages of
    // a document share.
    struct CContentMemo {
        bool used = false;
        float cropBox[4] = {};
        float trimBox[4] = {};
        int rotate = 0;
        int variant = 0;
        CStampFrame frame;
        std::string content;
        std::string after; // where each page draws its own: the content after its drawing
        std::string mark;  // the stamp stream's dictionary after its length, up to /Before's number or /Underlay
        bool matches(const CPageRecord& page, const CStampFrame& other) const;
    };

    void annotate(int pageIndex, const std::string& pageText);
    // Whether another page names the /Annots array object `page` names.
    bool annotsShared(const CPageRecord& page);
    // The content of the stream after page `page`'s own (of index `pageIndex`).
    const std::string& stampContent(const CPageRecord& page, const CStampFrame& frame, int pageIndex);
    const std::string& prefixContent(const CStampFrame& frame);
    // The mark of the stamp `painter` draws on `page`.
    CStampMark markOf(const CPageRecord& page, const CStampPainter& painter) const;
    // The mark after /Before's reference or /Underlay for page `page`.
    const std::string& markEnd(const CPageRecord& page);
    // Makes those ends, the mark's /Names entry being `names`.
    void setMarkEnds(const std::string& names);
    // The variant page `pageIndex` takes, and its painter.
    int variantOf(int pageIndex) const;
    const CStampPainter& painterFor(int pageIndex) const;

    const CStampSettings& m_settings;
    std::vector<CPageRecord>& m_pageRecords;
    CPdfFile& m_input;
    COutputWriter& m_writer;
    CReporter& m_reporter;
    const CStampPainter& m_painter;
    CContentReader m_contents;
    CPageRewriter m_rewriter;
    EKind m_kind;
    CStampMark::EKind m_markKind;
    int m_imageNum;
    int m_stateNum;
    const char* m_imageCategory; // the resources' dictionary that names the image
    std::vector<int> m_notAnnotated;
    const CStampRemoval* m_removal = nullptr;
    std::vector<int> m_notRemoved;
    std::unordered_map<int, int> m_annotsUsers; // /Annots object number -> pages that name it
    int m_pagesMet = 0;
    int m_stamped = 0;
    // Alternating page sizes and a few rotations need more than one.
    std::array<CContentMemo, 4> m_memos;
    size_t m_nextMemo = 0;
    int m_prefixSaves = -1; // what m_prefix was made for
    std::string m_prefix;
    std::string m_pageStamp;             // the last page's stamp, where each page draws its own
    const int m_layer;                   // the optional content group, 0 when none
    const std::string* m_mark = nullptr; // the last stamp content's mark opening
    std::string m_markTail;              // the stamp stream's dictionary after its length
    std::string m_markEnds[2]; // the mark after /Before's reference or /Underlay: /Contents was a list, one stream
    const std::vector<CStampPainter>* m_pagePainters = nullptr; // a stamp of variants: one for each
};
