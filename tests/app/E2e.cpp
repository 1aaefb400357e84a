#include "tests/app/E2e.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

namespace e2e {

std::string fixture(const std::string& name) { return vtest::sourceDir() + "/tests/data/e2e/" + name; }

std::string banner() { return "\r\nVellico v1.05\r\n"; }

Run vellico(const std::string& folder, const std::vector<std::string>& arguments)
{
    std::string command = "cd " + vtest::shellQuote(folder) + " && " + vtest::shellQuote(vtest::vellicoBinary());
    for (const std::string& argument : arguments)
        command += " " + vtest::shellQuote(argument);
    command += " </dev/null";
    vtest::CommandResult result = vtest::runCommand(command);
    return Run{result.status, result.output};
}

bool haveQpdf()
{
    static const bool have = vtest::haveTool("qpdf");
    return have;
}

bool havePdftoppm()
{
    static const bool have = vtest::haveTool("pdftoppm");
    return have;
}

std::string qpdfProblems(const std::string& pdf)
{
    vtest::CommandResult result = vtest::runCommand("qpdf --check " + vtest::shellQuote(pdf) + " 2>&1");
    if (result.status == 0)
        return std::string();
    return "qpdf --check exit status " + std::to_string(result.status) + ":\n" + result.output;
}

std::vector<std::string> listFolder(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void copyFile(const std::string& from, const std::string& to) { vtest::writeFile(to, vtest::readFile(from)); }

void copyMarkImages(const std::string& folder)
{
    for (const char* name : {"CropmarkHorizontal.jpg", "CropmarkVertical.jpg"})
        copyFile(vtest::sourceDir() + "/data/" + name, folder + "/" + name);
}

Workspace::Workspace()
{
    copyFile(fixture("stamp.jpg"), file("stamp.jpg"));
    copyFile(fixture("black.jpg"), file("black.jpg"));
}

void Workspace::write(const std::string& name, const std::string& bytes) const { vtest::writeFile(file(name), bytes); }

std::string compareRenders(const std::string& input, const std::string& output,
                           const std::vector<render::View>& views,
                           const std::vector<std::vector<render::ExpectedStamp>>& expected,
                           const render::RenderOptions& options, const render::Tolerance& tolerance)
{
    std::vector<render::Raster> before = render::renderPages(input, options);
    std::vector<render::Raster> after = render::renderPages(output, options);
    if (before.size() != views.size() || after.size() != views.size())
        return "rendered " + std::to_string(before.size()) + " and " + std::to_string(after.size()) +
               " pages, expected " + std::to_string(views.size());
    std::string problems;
    for (size_t i = 0; i < views.size(); ++i) {
        static const std::vector<render::ExpectedStamp> none;
        const std::vector<render::ExpectedStamp>& stamps = i < expected.size() ? expected[i] : none;
        render::Comparison comparison =
            render::compareStamped(before[i], after[i], views[i], options.dpi, stamps, tolerance);
        if (!comparison.ok())
            problems += "page " + std::to_string(i + 1) + ": " + render::describe(comparison);
    }
    return problems;
}

render::ExpectedStamp redBlueStamp(const render::Rect& rect, double opacity)
{
    render::ExpectedStamp stamp;
    stamp.rect = rect;
    stamp.bands = {{0.0, render::Rgb{255, 0, 0}}, {0.5, render::Rgb{0, 0, 255}}};
    stamp.opacity = opacity;
    return stamp;
}

render::ExpectedStamp blackStamp(const render::Rect& rect)
{
    render::ExpectedStamp stamp;
    stamp.rect = rect;
    return stamp;
}

// ---- Test documents ----

namespace {

std::string ref(int num, int gen = 0) { return std::to_string(num) + " " + std::to_string(gen) + " R"; }

std::string number(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string boxText(const render::Box& box)
{
    return "[" + number(box.x0) + " " + number(box.y0) + " " + number(box.x1) + " " + number(box.y1) + "]";
}

// Page content in two halves (for a two-stream content array), placed
// relative to the crop box so that it shows. It draws with the page's form
// XObject and graphics state when it has them, so lost resources show in a
// render. It mentions object streams in a comment (such a stream must not
// be dropped), and it leaves a scaled matrix and a tiny clip behind, which
// the stamp must not inherit.
std::pair<std::string, std::string> pageContent(const render::Box& crop, bool useResources)
{
    const double x = crop.x0, y = crop.y0;
    std::string first = "% ObjStm: these bytes must not make the stream vanish\n0.6 g " + number(x + 150) + " " + number(y + 200) + " 200 150 re f\n";
    std::string second;
    if (useResources) {
        first += "q /G0 gs 0 0 1 rg " + number(x + 60) + " " + number(y + 300) + " 120 120 re f Q\n";
        second = "q 1 0 0 1 " + number(x) + " " + number(y) + " cm /Fm0 Do Q\n";
    } else {
        second = "0.3 g " + number(x + 250) + " " + number(y + 450) + " 100 100 re f\n";
    }
    second += "0.5 0 0 0.5 0 0 cm 0 1 0 rg 0 0 10 10 re W n\n";
    return {first, second};
}

} // namespace

BuiltDoc buildDoc(const DocSpec& spec)
{
    vtest::PdfBuilder b;
    std::vector<int> plain;   // dictionaries and arrays at generation 0: may go into an object stream
    std::vector<int> streams; // content streams, in page order

    const int form = b.addStream("/Type /XObject /Subtype /Form /BBox [0 0 2000 2000]", "0.3 g 250 450 100 100 re f\n");
    const int state = b.add("<< /Type /ExtGState /ca 0.5 >>");
    const int xobjects = b.add("<< /Fm0 " + ref(form) + " >>");
    const int states = b.add("<< /G0 " + ref(state) + " >>");
    plain.insert(plain.end(), {state, xobjects, states});
    const std::string inlineResources =
        "<< /ProcSet [/PDF] /XObject << /Fm0 " + ref(form) + " >> /ExtGState << /G0 " + ref(state) + " >> >>";
    const std::string referringResources =
        "<< /ProcSet [/PDF] /XObject " + ref(xobjects) + " /ExtGState " + ref(states) + " >>";
    const int shared = b.add(inlineResources);
    plain.push_back(shared);

    const int catalog = b.reserve();
    const int root = b.reserve();
    const int middle = spec.intermediateNode ? b.reserve() : 0;
    const int parent = spec.intermediateNode ? middle : root;

    BuiltDoc built;
    std::vector<int> pages;
    for (const PageSpec& page : spec.pages) {
        render::View view;
        if (page.crop)
            view.box = *page.crop;
        else if (spec.nodeCrop)
            view.box = *spec.nodeCrop;
        else if (page.media)
            view.box = *page.media;
        else if (spec.nodeMedia)
            view.box = *spec.nodeMedia;
        view.rotate = page.rotate >= 0 ? page.rotate : spec.nodeRotate >= 0 ? spec.nodeRotate : 0;
        built.views.push_back(view);

        bool useResources = page.resources == Resources::Inline || page.resources == Resources::Indirect ||
                            (page.resources == Resources::None && spec.nodeResources != NodeResources::None);
        auto [first, second] = pageContent(view.box, useResources);

        std::string dict = "<< /Type /Page /Parent " + ref(parent);
        if (page.media)
            dict += " /MediaBox " + boxText(*page.media);
        if (page.crop) {
            if (page.cropByReference) {
                int box = b.add(boxText(*page.crop));
                plain.push_back(box);
                dict += " /CropBox " + ref(box);
            } else {
                dict += " /CropBox " + boxText(*page.crop);
            }
        }
        if (page.trim)
            dict += " /TrimBox " + boxText(*page.trim);
        if (page.rotate >= 0)
            dict += " /Rotate " + std::to_string(page.rotate);

        const std::string& resources = page.subDictionariesByReference ? referringResources : inlineResources;
        switch (page.resources) {
        case Resources::Inline:
            dict += "\n/Resources " + resources;
            break;
        case Resources::Indirect: {
            int own = page.subDictionariesByReference ? b.add(referringResources) : shared;
            if (own != shared)
                plain.push_back(own);
            dict += "\n/Resources " + ref(own);
            break;
        }
        case Resources::Bare:
            dict += "\n/Resources << /ProcSet [/PDF /Text] >>";
            break;
        case Resources::None:
            break;
        }

        switch (page.contents) {
        case Contents::Stream: {
            int stream = b.addStream("", first + second, page.flate);
            streams.push_back(stream);
            dict += "\n/Contents " + ref(stream);
            break;
        }
        case Contents::Array:
        case Contents::ArrayRef: {
            int one = b.addStream("", first, page.flate);
            int two = b.addStream("", second, page.flate);
            streams.push_back(one);
            std::string array = "[" + ref(one) + " " + ref(two) + "]";
            if (page.contents == Contents::Array) {
                dict += "\n/Contents " + array;
            } else {
                int list = b.add(array);
                plain.push_back(list);
                dict += "\n/Contents " + ref(list);
            }
            break;
        }
        case Contents::None:
            break;
        }
        dict += "\n>>";
        int num = b.add(dict);
        plain.push_back(num);
        pages.push_back(num);
    }

    std::string kids;
    for (int num : pages)
        kids += (kids.empty() ? "" : " ") + ref(num);
    const std::string count = std::to_string(pages.size());
    std::string node = "<< /Type /Pages";
    if (spec.nodeMedia)
        node += " /MediaBox " + boxText(*spec.nodeMedia);
    if (spec.nodeCrop)
        node += " /CropBox " + boxText(*spec.nodeCrop);
    if (spec.nodeRotate >= 0)
        node += " /Rotate " + std::to_string(spec.nodeRotate);
    if (spec.nodeResources == NodeResources::Reference)
        node += " /Resources " + ref(shared);
    else if (spec.nodeResources == NodeResources::Inline)
        node += " /Resources " + inlineResources;
    if (spec.intermediateNode) {
        b.set(middle, "<< /Type /Pages /Parent " + ref(root) + " /Kids [" + kids + "] /Count " + count + " >>");
        plain.push_back(middle);
        node += " /Kids [" + ref(middle) + "] /Count " + count + " >>";
    } else {
        node += " /Kids [" + kids + "] /Count " + count + " >>";
    }
    b.set(root, node);
    plain.push_back(root);
    b.set(catalog, "<< /Type /Catalog /Pages " + ref(root) + " >>", spec.rootGen);
    if (spec.rootGen == 0)
        plain.push_back(catalog);
    b.setRoot(catalog);
    if (spec.info) {
        int info = b.reserve();
        b.set(info, "<< /Producer (vellico end-to-end tests) /Title (ObjStm in a string) >>", spec.infoGen);
        b.setInfo(info);
    }
    const int unused = b.add("(an object the update frees)");

    switch (spec.layout) {
    case Layout::Classic:
        break;
    case Layout::JunkPrefix:
        b.setJunkPrefix("Some mail gateway wrote this line before the header.\r\n");
        break;
    case Layout::XrefStream:
        b.setXref(vtest::XrefKind::Stream);
        break;
    case Layout::XrefStreamPng: {
        vtest::XrefStreamOptions options;
        options.pngUp = true;
        b.setXref(vtest::XrefKind::Stream, options);
        break;
    }
    case Layout::ObjectStreams:
    case Layout::Hybrid: {
        b.setXref(spec.layout == Layout::Hybrid ? vtest::XrefKind::Hybrid : vtest::XrefKind::Stream);
        int container = b.addObjectStream();
        for (int num : plain)
            b.compress(num, container);
        break;
    }
    case Layout::Incremental:
        if (!streams.empty()) {
            b.beginUpdate();
            const render::Box& box = built.views.front().box;
            b.setStream(streams.front(), "",
                        "0.8 g " + number(box.x0 + 300) + " " + number(box.y0 + 100) + " 150 60 re f\n" +
                            pageContent(box, false).first);
            b.free(unused);
        }
        break;
    }
    built.bytes = b.build();
    return built;
}

} // namespace e2e
