#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TestUtil.h"

// What a viewer shows: points from the bottom left of the rendered, turned box.
namespace render {

struct Box { double x0 = 0, y0 = 0, x1 = 612, y1 = 792; }; // lower left, upper right
struct Rect { double left = 0, bottom = 0, width = 0, height = 0; };
struct View {
    Box box;
    int rotate = 0; // clockwise, as /Rotate
    double displayHeight() const { return rotate % 180 ? box.x1 - box.x0 : box.y1 - box.y0; }
    Rect rectToDisplay(double x0, double y0, double x1, double y1) const; // from user space
};
// Upright over `rect`; its colour changes across its width (up its height
// when `upward`) at the band starts (fractions), each band blended with the
// page by `opacity` times its own alpha (1 when bandAlpha is empty).
struct ExpectedStamp {
    Rect rect;
    std::vector<std::pair<double, std::array<int, 3>>> bands{{0.0, {0, 0, 0}}};
    double opacity = 1.0;
    std::vector<double> bandAlpha{};
    bool upward = false;
};

} // namespace render

// Runs the real program and checks its output with qpdf, poppler and MuPDF.
namespace e2e {

using Result = vtest::CommandResult;
using vtest::names;
using vtest::qpdfProblems;

std::string fixture(const std::string& name); // under tests/data/e2e
std::string projectVersion();                 // from CMakeLists.txt
std::string banner();                         // what every run prints first
// Every entry under `folder` (by relative path) and what it is, to show what a run changed.
std::map<std::string, std::string> snapshot(const std::string& folder);

// A temporary folder holding stamp.jpg (96 x 48, red | blue), black.jpg (16 x 16)
// and the two mark images, which mark runs read from the working folder.
struct Workspace : vtest::TempDir {
    Workspace();
    void write(const std::string& name, const std::string& bytes) const { vtest::writeFile(file(name), bytes); }
    Result run(const std::vector<std::string>& arguments) const; // the program, in this folder
    Result shell(const std::string& script) const;                // sh in this folder, the program as $V
};

// One line of a run's report (--report) as a script reads it: Python's json,
// names back to bytes through the documented \udcXX escapes.
struct ReportEntry {
    std::string input, output, status, message;
    long pages = -2, pagesStamped = -2, outputBytes = -2; // -1: null
    bool encrypted = false, repaired = false;
    std::string bates; // "FIRST..LAST", "unused FIRST..LAST" or "none" in a run with {bates}
    // "input status pN sN[ encrypted][ repaired][ bates B]: message", "-" for a null count.
    std::string summary() const;
};
// Every line of the report at `path`; a line that misses a documented key fails the test.
std::vector<ReportEntry> readReport(const std::string& path);

// The viewers whose renders are compared: poppler's pdftoppm and MuPDF's
// mutool (which always shows the crop box).
enum class Renderer { Poppler, MuPdf };
// Page i of `output` must look like page i of `input` with `expected[i]`
// painted on it (empty: unchanged), for every page. Empty when so, else why not.
std::string compareRenders(const std::string& input, const std::string& output,
                           const std::vector<render::View>& views,
                           const std::vector<std::vector<render::ExpectedStamp>>& expected, int dpi = 36,
                           bool cropBox = true, Renderer renderer = Renderer::Poppler);
// The eight marks around `box` (user space) as displayed on `view`: 15-point
// lines 0.25 point thick, 9 points out from each corner along the edges.
std::vector<render::ExpectedStamp> marksAround(const render::Box& box, const render::View& view);

// ---- Test documents ----

enum class Resources { Inline, Indirect, Bare /* no XObject, no ExtGState */, None };
enum class Contents { Stream, Array, ArrayRef /* an indirect array */, None };
enum class NodeResources { None, Reference, Inline };
enum class Layout {
    Classic,
    Incremental,   // an update redefines a content stream and frees an object
    XrefStream,    // Flate, no predictor
    XrefStreamPng, // PNG Up predictor
    ObjectStreams, // every dictionary and array compressed
    Hybrid,        // classic table with /XRefStm
    JunkPrefix,    // bytes before "%PDF-"
};

struct PagePlan {
    int rotate = -1; // -1: none in the page
    Resources resources = Resources::Inline;
    Contents contents = Contents::Stream;
    bool subDictionariesByReference = false; // "/XObject N 0 R", "/ExtGState M 0 R"
    bool flate = false;
    std::optional<render::Box> crop{};
    bool cropByReference = false;
    std::optional<render::Box> trim{};
    std::optional<render::Box> media = render::Box{0, 0, 612, 792}; // none: inherited
    size_t padding = 0; // bytes of comment lines after the content: a long run of bytes to copy
};

struct DocPlan {
    std::vector<PagePlan> pages;
    Layout layout = Layout::Classic;
    std::optional<render::Box> nodeMedia, nodeCrop; // on the root Pages node
    int nodeRotate = -1;
    NodeResources nodeResources = NodeResources::None;
    bool intermediateNode = false; // pages one level further down
    int rootGen = 0;
    int infoGen = 0;
    bool info = true;
    // The catalog's /MarkInfo << /Marked true >>, its /Metadata stream
    // (Flate-compressed when metadataFlate) and a PDF/A output intent whose
    // profile has this many components (0: none).
    bool tagged = false;
    std::string xmp{};
    bool metadataFlate = false;
    int outputIntentComponents = 0;
    std::string catalogEntries{}; // more of the catalog's entries, as written; "@N" names object `objects[N]`
    std::vector<std::string> objects{};
};

struct BuiltDoc {
    std::string bytes;
    std::vector<render::View> views; // each page's crop box and rotation
    std::vector<render::Box> media, trim;
};
BuiltDoc buildDoc(const DocPlan& plan);
DocPlan plainPlan(int pages);
std::string plainDoc(int pages); // `pages` plain pages

// The documents the end-to-end rows name (E2eDocs.cpp); an unknown name throws.
BuiltDoc namedDoc(const std::string& name);
// One page with `pageEntries`, which may name its content stream 4 (a grey square) and its resources 5 (empty).
BuiltDoc pageDoc(const std::string& pageEntries);
// One page whose content is `streams` (an array when more than one), written plain, "flate",
// "lzw-predicted", or the first "undecodable" by its filter.
BuiltDoc contentDoc(const std::string& coding, const std::vector<std::string>& streams);
// A page's own drawing: a grey square and a blue one inside its own q/Q
// (poppler stops drawing a page at an extra Q, so content rows put extra Q after it).
inline const std::string kDrawing = "0.6 g 150 200 200 150 re f q 0 0 1 rg 400 500 60 60 re f Q\n";
// Two pages whose metadata claims PDF/A-`part` (0: no claim), with an output
// intent of `intent` components (0: none), the metadata Flate-compressed or not.
BuiltDoc pdfaDoc(int part, int intent, bool flate);
// `pdf` damaged as real files are, or written otherwise: `how` names the edit (see E2eDocs.cpp).
std::string edited(std::string pdf, const std::string& how);
class SigningKit;
// One page certified at `level` (the DocMDP /P written, "" for none), signed by openssl over its byte ranges.
std::string certifiedDoc(const std::string& level, const SigningKit& kit);

// A self-signed test certificate, as a key and certificate for openssl and in
// an NSS database for pdfsig; made once, when first asked for.
class SigningKit {
public:
    static const SigningKit* get(); // null when pdfsig, NSS's tools or openssl are missing
    // pdfsig's signature over `in`, appended as `out`; `password` opens an encrypted `in`.
    bool sign(const std::string& in, const std::string& out, const std::string& password = "") const;
    std::string cms(const std::string& data) const; // openssl's CMS signature over `data`, as DER

private:
    SigningKit();
    vtest::TempDir m_folder;
    bool m_ready = false;
};
// What pdfsig says of each signature of `pdf`: "V" valid, "X" anything else.
std::string signatures(const std::string& pdf, const std::string& password = "");

} // namespace e2e
