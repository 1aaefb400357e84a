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
    double displayWidth() const { return rotate % 180 ? box.y1 - box.y0 : box.x1 - box.x0; }
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

// Runs the real program and checks its output with qpdf, pdftoppm and mutool.
namespace e2e {

std::string fixture(const std::string& name); // under tests/data/e2e

using Run = vtest::CommandResult;
using vtest::names;
using vtest::qpdfProblems;
// Every entry under `folder` (by relative path) and what it is, to show what a run changed.
std::map<std::string, std::string> snapshot(const std::string& folder);

// A temporary folder holding stamp.jpg (96 x 48, red | blue), black.jpg (16 x 16)
// and the two mark images, which mark runs read from the working folder.
struct Workspace : vtest::TempDir {
    Workspace();
    void write(const std::string& name, const std::string& bytes) const { vtest::writeFile(file(name), bytes); }
    Run run(const std::vector<std::string>& arguments) const; // in this folder
};

// One line of a run's report (--report) as a script reads it: Python's json,
// names back to bytes through the documented \udcXX escapes.
struct ReportEntry {
    std::string input, output, status, message;
    long pages = -2, pagesStamped = -2, outputBytes = -2; // -1: null
    bool encrypted = false, repaired = false;
    std::string stamps; // dry run: "page:x,y,w,h " each
};
// Every line of the report at `path`; a line that misses a documented key fails the test.
std::vector<ReportEntry> readReport(const std::string& path);

// The viewers whose renders are compared: poppler's pdftoppm and MuPDF's
// mutool (which always shows the crop box).
enum class Renderer { Poppler, MuPdf };
const char* rendererTool(Renderer renderer);

// Page i of `output` must look like page i of `input` with `expected[i]`
// painted on it (empty: unchanged), for every page. Empty when so, else why not.
std::string compareRenders(const std::string& input, const std::string& output,
                           const std::vector<render::View>& views,
                           const std::vector<std::vector<render::ExpectedStamp>>& expected, int dpi = 36,
                           bool cropBox = true, Renderer renderer = Renderer::Poppler);
render::ExpectedStamp redBlueStamp(const render::Rect& rect, double opacity = 1.0); // stamp.jpg
render::ExpectedStamp blackStamp(const render::Rect& rect);

// `qpdf --encrypt "" owner <method...> [extra] --` over `in`, written as `out`; empty when done, else why not.
std::string encryptWithQpdf(const std::string& in, const std::string& out, const std::string& method,
                            const std::string& extra = "");
// Object `num` of `pdf` as qpdf shows it, and its stream data as it is in the file.
std::string qpdfObject(const std::string& pdf, int num);
std::string qpdfRawStream(const std::string& pdf, int num);
// The numbers of the image XObjects in `pdf`, in object order.
std::vector<int> imageObjects(const std::string& pdf);

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
};

struct BuiltDoc {
    std::string bytes;
    std::vector<render::View> views; // each page's crop box and rotation
};
BuiltDoc buildDoc(const DocPlan& plan);
// `pages` plain pages.
std::string plainDoc(int pages);

} // namespace e2e
