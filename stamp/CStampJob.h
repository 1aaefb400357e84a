#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CRepairLog.h"
#include "load/CXrefRecord.h"
#include "stamp/COutputFile.h"
#include "stamp/CPageRecord.h"
#include "stamp/JpegHeader.h"
#include "stamp/StampObjects.h"

class CContentReader;
class CFileSource;
class CPageRewriter;
class CXrefTable;

// Stamps one input PDF with one JPEG into one new output PDF. The settings
// come from the command line; stampFile may run several times on one job
// (the mark passes), each time reading inputPath and writing outputPath.
class CStampJob {
public:
    CStampJob();
    ~CStampJob();
    CStampJob(const CStampJob&) = delete;
    CStampJob& operator=(const CStampJob&) = delete;

    // ---- Settings ----
    std::string inputPath;
    std::string outputPath;
    std::optional<std::string> imagePath;
    int startPage = 1;     // first page to stamp, 1-based
    int endPage = 99999;   // last page to stamp, inclusive
    bool useEnd = false;   // derive the range from the page count
    int startFromEnd = 0;  // with useEnd: start counted back from the last page
    int endFromEnd = 0;    // with useEnd: end counted back from the last page
    int everyNth = 0;      // skip every nth page; 0 = no skipping
    int opacity = 100;     // percent
    bool forcePortrait = true; // honour the page's /Rotate when placing
    bool flipV = false;    // measure the vertical position from the top
    bool flipH = false;    // measure the horizontal position from the right
    bool trimBlv = false, trimBlh = false, trimTlv = false, trimTlh = false;
    bool trimBrv = false, trimBrh = false, trimTrv = false, trimTrh = false;
    bool trimMarks = false;
    bool cropBlv = false, cropBlh = false, cropTlv = false, cropTlh = false;
    bool cropBrv = false, cropBrh = false, cropTrv = false, cropTrh = false;
    bool cropMarks = false;
    std::string align = "left"; // "left", "center", anything else aligns right
    int posX = 20;         // points; -1 centres
    int posY = 10;
    int sizeX = -1;        // displayed size in points; -1 = the JPEG's pixel size
    int sizeY = -1;
    // Write a new private file beside outputPath instead of outputPath itself
    // (the mark passes' intermediates); writtenPath() names it afterwards.
    bool intermediateOutput = false;

    // ---- Operations ----
    // Writes outputPath from inputPath and imagePath; throws CPdfException.
    void stampFile();
    // The file the last stampFile wrote.
    const std::string& writtenPath() const { return m_output.writtenPath(); }
    // The page count of the PDF at `path` (its root's /Count, else the pages found).
    int countPages(const std::string& path);

    // Steps of stampFile, usable on their own (tests, tools).
    // Opens `path` and loads its cross-reference data.
    void loadInput(const std::string& path);
    // Reads the catalog and walks the page tree into pageRecords().
    void findPages();
    // Lists the pages below the root node (at most its /Count of them) and sets pageCount().
    void walkPageTree(int rootNum);
    // Sets anchorX, anchorY and angle for page j.
    void computePlacement(int pageIndex);
    // The streams around page j's content; `frame` says how they reach its initial state.
    std::string buildPrefixStream(const CStampFrame& frame = CStampFrame()) const;
    std::string buildStampStream(int pageIndex, const CStampFrame& frame = CStampFrame());
    // The stamp stream's content alone.
    std::string buildStampContent(int pageIndex, const CStampFrame& frame = CStampFrame());
    bool isPageSelected(int pageIndex) const;

    const std::vector<CPageRecord>& pageRecords() const { return m_pageRecords; }
    int pageCount() const { return m_pageCount; }
    CXrefTable* xrefTable() const { return m_xref; }
    CFileSource* inputFile() const { return m_inputFile.get(); }
    CObjectReader* objectReader() const { return m_reader.get(); }
    // What was repaired in the inputs read since the log was last cleared
    // (the mark passes read one input after another).
    const CRepairLog& repairs() const { return m_repairs; }
    void clearRepairs() { m_repairs.clear(); }

    // Fixes the number in the resource names (normally drawn from the clock),
    // so that outputs can be compared byte for byte.
    void setResourceNumber(std::optional<int> number) { m_fixedResourceNumber = number; }

private:
    void runStamp();
    // Loads the cross-reference data of the open input file.
    void loadDocument();
    void closeAll();
    bool marksRun() const { return trimMarks || cropMarks; }
    void chooseResourceNames();
    // Appends an output record at the current position for a new object and writes its number.
    int beginNewObject();
    // Notes where new object `num` (a stamp stream when `stamp`) ends, now that it is written.
    void endNewObject(int num, bool stamp = false);
    void copyHeader();
    void writeNumber(int64_t value);
    void writeXrefTable();
    void writeTrailer(int64_t startxref);
    void writeGraphicsStateObject();
    void writeImageObject();
    // New content stream `num` of an encrypted document, encrypted for its number.
    void writeContentStream(int num, const std::string& content);
    void copyObjects();
    void rewritePageObject(const std::string& pageText, int pageNum, int pageIndex, int prefixNum, int stampNum);
    // Counts a page met in the copy; every sixth shows as a dot.
    void printProgress();

    std::shared_ptr<CFileSource> m_inputFile;
    COutputFile m_output;
    std::shared_ptr<CFileSource> m_imageFile;
    JpegInfo m_jpeg;
    CRepairLog m_repairs;
    CPdfFile m_document;
    CXrefTable* m_xref = nullptr;
    std::unique_ptr<CObjectReader> m_reader; // over the loaded document
    int m_rootObjNum = 0;
    int m_rootGen = 0;
    int m_infoObjNum = 0;
    int m_infoGen = 0;
    int m_pagesObjNum = 0;
    int m_pageCount = 0;
    std::string m_gsName;
    std::string m_imName;
    int m_gsObjNum = 0;
    int m_imObjNum = 0;
    std::vector<CXrefRecord> m_outRecords;
    std::vector<CPageRecord> m_pageRecords;
    int m_anchorX = 0;
    int m_anchorY = 0;
    float m_angle = 0.0f;
    int m_pagesMet = 0;
    std::optional<int> m_fixedResourceNumber;
    std::set<int64_t> m_usedResourceNumbers;
    std::unique_ptr<CPageRewriter> m_rewriter; // made once the names of a run are chosen
    std::unique_ptr<CContentReader> m_contents; // what the pages' content leaves open, for the run

    // Where the objects a run made itself (graphics state, image, content
    // streams) stand in its output. Their text is fixed, so the next mark
    // pass, which reads that output, can copy them without looking for
    // their ends again.
    struct CWrittenObjects {
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t size = -1; // -1: no output to match
        // By object number (outputs past 4 GB are refused): kUnknown where the
        // run did not make the object.
        static constexpr uint32_t kUnknown = UINT32_MAX;
        std::vector<uint32_t> offsets;
        std::vector<uint32_t> lengths;
        std::vector<bool> stamps; // the object is a stamp stream

        // Whether `file` is that output, unchanged.
        bool matches(const CFileSource& file) const;
        void identify(const std::string& path);
        void add(int num, int64_t start, int64_t end, bool stamp = false);
        // Whether the run made a stamp stream `num` at `offset`.
        bool isStamp(int num, int64_t offset) const;
        // The span of object `num` when the run made it at `offset`.
        bool find(int num, int64_t offset, CObjectSpan& span) const;
    };
    CWrittenObjects m_writtenObjects; // by the current run, for the next one
    CWrittenObjects m_knownObjects;   // by the run that wrote the current input
};
