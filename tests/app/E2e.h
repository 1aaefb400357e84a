#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/app/RenderCheck.h"
#include "tests/support/TestUtil.h"

// Shared pieces of the end-to-end tests: running the real program, checking
// its output with qpdf, and test documents built with PdfBuilder.
namespace e2e {

// A file under tests/data/e2e.
std::string fixture(const std::string& name);
// What every run but the usage text and the wildcard error starts with.
std::string banner();

struct Run {
    int status = -1;
    std::string output; // standard output only
};
// Runs the program in `folder` (the mark images are read from there).
Run vellico(const std::string& folder, const std::vector<std::string>& arguments);

bool haveQpdf();
bool havePdftoppm();
// Empty when `qpdf --check` passes with exit status 0, else what it said.
std::string qpdfProblems(const std::string& pdf);
// File names in `folder`, sorted.
std::vector<std::string> listFolder(const std::string& folder);
void copyFile(const std::string& from, const std::string& to);
void copyMarkImages(const std::string& folder);

// A temporary folder to run the program in, holding the test JPEGs
// stamp.jpg (96 x 48, red | blue) and black.jpg (16 x 16).
class Workspace {
public:
    Workspace();
    const std::string& path() const { return m_dir.path(); }
    std::string file(const std::string& name) const { return m_dir.file(name); }
    void write(const std::string& name, const std::string& bytes) const;
    Run run(const std::vector<std::string>& arguments) const { return vellico(path(), arguments); }

private:
    vtest::TempDir m_dir;
};

// Renders both files and compares every page: `expected[i]` are the stamps
// page i must show (none: the page must look as before). Empty when all is
// well, else what went wrong.
std::string compareRenders(const std::string& input, const std::string& output,
                           const std::vector<render::View>& views,
                           const std::vector<std::vector<render::ExpectedStamp>>& expected,
                           const render::RenderOptions& options = render::RenderOptions(),
                           const render::Tolerance& tolerance = render::Tolerance());

// ---- Test documents ----

enum class Contents {
    Stream,   // /Contents N 0 R
    Array,    // /Contents [ N 0 R M 0 R ]
    ArrayRef, // /Contents N 0 R, N an array object
    None,     // no /Contents: a blank page
};
enum class Resources {
    Inline,   // /Resources << ... >> in the page
    Indirect, // /Resources N 0 R
    Bare,     // inline, without XObject or ExtGState
    None,     // no /Resources in the page: inherited from the tree, if the tree has any
};
enum class NodeResources { None, Reference, Inline };

enum class Layout {
    Classic,
    Incremental,    // a second revision redefines a content stream and frees an object
    XrefStream,     // Flate, no predictor
    XrefStreamPng,  // Flate with the PNG Up predictor
    ObjectStreams,  // every dictionary and array in an object stream
    Hybrid,         // classic table with /XRefStm for the compressed objects
    JunkPrefix,     // bytes before "%PDF-"
};

struct PageSpec {
    std::optional<render::Box> media = render::Box{0, 0, 612, 792}; // none: inherited
    std::optional<render::Box> crop;
    bool cropByReference = false; // "/CropBox N 0 R"
    std::optional<render::Box> trim;
    int rotate = -1; // -1: no /Rotate in the page
    Contents contents = Contents::Stream;
    Resources resources = Resources::Inline;
    bool subDictionariesByReference = false; // "/XObject N 0 R" and "/ExtGState M 0 R"
    bool flate = false;
};

struct DocSpec {
    std::vector<PageSpec> pages;
    Layout layout = Layout::Classic;
    // On the root Pages node; an intermediate node (when used) carries nothing of its own.
    std::optional<render::Box> nodeMedia;
    std::optional<render::Box> nodeCrop;
    int nodeRotate = -1;
    NodeResources nodeResources = NodeResources::None;
    bool intermediateNode = false; // pages one level further down
    int rootGen = 0;
    int infoGen = 0; // with an Info dictionary when >= 0
    bool info = true;
};

struct BuiltDoc {
    std::string bytes;
    std::vector<render::View> views; // what a viewer shows of each page: its crop box, turned
};
BuiltDoc buildDoc(const DocSpec& spec);

// The red | blue stamp of tests/data/e2e/stamp.jpg (96 x 48), upright at `rect`.
render::ExpectedStamp redBlueStamp(const render::Rect& rect, double opacity = 1.0);
render::ExpectedStamp blackStamp(const render::Rect& rect);

} // namespace e2e
