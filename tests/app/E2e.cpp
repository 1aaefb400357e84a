#include "tests/app/E2e.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/PdfBuilder.h"

namespace render {

Rect View::rectToDisplay(double x0, double y0, double x1, double y1) const
{
    // /Rotate turns the page clockwise for display.
    auto display = [this](double x, double y) -> std::pair<double, double> {
        switch (rotate) {
        case 90: return {y - box.y0, box.x1 - x};
        case 180: return {box.x1 - x, box.y1 - y};
        case 270: return {box.y1 - y, x - box.x0};
        default: return {x - box.x0, y - box.y0};
        }
    };
    auto [ax, ay] = display(x0, y0);
    auto [bx, by] = display(x1, y1);
    return Rect{std::min(ax, bx), std::min(ay, by), std::fabs(bx - ax), std::fabs(by - ay)};
}

} // namespace render

namespace e2e {

using render::ExpectedStamp;

std::string fixture(const std::string& name) { return vtest::sourceDir() + "/tests/data/e2e/" + name; }

std::string projectVersion()
{
    const std::string cmake = vtest::readFile(vtest::sourceDir() + "/CMakeLists.txt");
    std::smatch found;
    return std::regex_search(cmake, found, std::regex(R"(project\(Vellico VERSION ([0-9.]+))")) ? found[1].str() : "";
}

std::string banner() { return "\r\nVellico v" + projectVersion() + "\r\n"; }

std::map<std::string, std::string> snapshot(const std::string& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::string& what = entries[entry.path().string().substr(folder.size() + 1)];
        if (entry.is_symlink())
            what = "link to " + std::filesystem::read_symlink(entry).string();
        else if (entry.is_directory())
            what = "folder";
        else if (!entry.is_regular_file())
            what = "special"; // a FIFO, socket or device: reading it could block
        else
            what = "hash " + std::to_string(std::hash<std::string>()(vtest::readFile(entry.path().string())));
    }
    return entries;
}

std::vector<ReportEntry> readReport(const std::string& path)
{
    static const char kScript[] = R"(
import json, sys
keys = ["input", "output", "status", "message", "warnings", "pages", "pages_stamped", "encrypted", "repaired",
        "seconds", "input_bytes", "output_bytes"]
for line in open(sys.argv[1], "rb"):
    entry = json.loads(line)
    missing = [key for key in keys if key not in entry]
    if missing:
        raise SystemExit("missing keys %s" % missing)
    fields = [entry[k] for k in ("input", "output", "status", "message")]
    fields += ["-1" if entry[k] is None else str(int(entry[k])) for k in ("pages", "pages_stamped", "output_bytes")]
    fields += [str(int(entry["encrypted"])), str(int(entry["repaired"]))]
    unused = entry.get("bates_unused")
    fields += ["" if "bates_first" not in entry else "%s..%s" % (entry["bates_first"], entry["bates_last"])
               if entry["bates_first"] else "unused %s..%s" % tuple(unused) if unused else "none"]
    sys.stdout.buffer.write("\x1f".join(fields).encode("utf-8", "surrogateescape") + b"\x1e")
)";
    vtest::CommandResult parsed =
        vtest::runCommand("python3 -c " + vtest::shellQuote(kScript) + " " + vtest::shellQuote(path) + " 2>&1");
    EXPECT_EQ(parsed.status, 0) << parsed.output;
    std::vector<ReportEntry> entries;
    std::istringstream records(parsed.output);
    for (std::string record; std::getline(records, record, '\x1e');) {
        std::vector<std::string> f;
        std::istringstream fields(record);
        for (std::string field; std::getline(fields, field, '\x1f');)
            f.push_back(field);
        f.resize(10);
        entries.push_back(ReportEntry{f[0], f[1], f[2], f[3], std::atol(f[4].c_str()), std::atol(f[5].c_str()),
                                      std::atol(f[6].c_str()), f[7] == "1", f[8] == "1", f[9]});
    }
    return entries;
}

Workspace::Workspace()
{
    for (const char* name : {"stamp.jpg", "black.jpg"})
        write(name, vtest::readFile(fixture(name)));
    for (const char* name : {"CropmarkHorizontal.jpg", "CropmarkVertical.jpg"})
        write(name, vtest::readFile(vtest::sourceDir() + "/data/" + name));
}

Result Workspace::run(const std::vector<std::string>& arguments) const
{
    return vtest::runIn(path(), vtest::shellQuote(vtest::vellicoBinary()), arguments);
}

Result Workspace::shell(const std::string& script) const
{
    return vtest::runCommand("cd " + vtest::shellQuote(path()) + " && V=" + vtest::shellQuote(vtest::vellicoBinary()) +
                             " && (" + script + ") 2>&1");
}

std::string ReportEntry::summary() const
{
    auto count = [](long n) { return n < 0 ? std::string("-") : std::to_string(n); };
    return input + " " + status + " p" + count(pages) + " s" + count(pagesStamped) + (encrypted ? " encrypted" : "") +
           (repaired ? " repaired" : "") + (bates.empty() ? "" : " bates " + bates) + ": " + message;
}

namespace {

struct Page {
    int width = 0, height = 0;
    std::string rgb;
    int at(int x, int y, int c) const { return static_cast<unsigned char>(rgb[(size_t(y) * width + x) * 3 + c]); }
};

// Every page in order; fewer when the renderer fails.
std::vector<Page> renderPages(const std::string& pdf, int dpi, bool cropBox, Renderer renderer)
{
    vtest::TempDir folder;
    if (renderer == Renderer::MuPdf)
        vtest::runCommand("mutool draw -q -r " + std::to_string(dpi) + " -o " +
                          vtest::shellQuote(folder.file("p-%04d.ppm")) + " " + vtest::shellQuote(pdf) + " 2>/dev/null");
    else
        vtest::runCommand("pdftoppm -r " + std::to_string(dpi) + (cropBox ? " -cropbox " : " ") +
                          vtest::shellQuote(pdf) + " " + vtest::shellQuote(folder.file("p")) + " 2>/dev/null");
    std::vector<std::string> files; // p-1.ppm, or p-01.ppm ...: numbers of one width
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    std::vector<Page> pages;
    for (const std::string& file : files) {
        Page page;
        const std::string bytes = vtest::readFile(file);
        int start = 0;
        if (std::sscanf(bytes.c_str(), "P6 %d %d 255%n", &page.width, &page.height, &start) == 2 && start > 0)
            page.rgb = bytes.substr(static_cast<size_t>(start) + 1);
        if (page.rgb.size() != static_cast<size_t>(page.width) * page.height * 3)
            break;
        pages.push_back(std::move(page));
    }
    return pages;
}

} // namespace

std::string compareRenders(const std::string& input, const std::string& output,
                           const std::vector<render::View>& views,
                           const std::vector<std::vector<ExpectedStamp>>& expected, int dpi, bool cropBox,
                           Renderer renderer)
{
    const std::vector<Page> before = renderPages(input, dpi, cropBox, renderer),
                            after = renderPages(output, dpi, cropBox, renderer);
    if (before.size() != views.size() || after.size() != views.size())
        return "rendered " + std::to_string(before.size()) + " and " + std::to_string(after.size()) + " pages\n";
    const double pt = 72.0 / dpi, margin = 2 * pt; // pixels this near an edge or band boundary are not judged
    std::string problems;
    for (size_t page = 0; page < views.size(); ++page) {
        const Page &was = before[page], &now = after[page];
        const std::vector<ExpectedStamp>& stamps = expected.at(page);
        const std::string where = "page " + std::to_string(page + 1) + ": ";
        if (was.width != now.width || was.height != now.height)
            return problems + where + "renders of different sizes\n";
        std::vector<long> judged(stamps.size()), changed(stamps.size());
        long outside = 0, wrong = 0;
        for (int py = 0; py < now.height; ++py) {
            for (int px = 0; px < now.width; ++px) {
                const double x = (px + 0.5) * pt, y = views[page].displayHeight() - (py + 0.5) * pt;
                auto within = [x, y](const render::Rect& r, double grow) {
                    return x >= r.left - grow && x <= r.left + r.width + grow && y >= r.bottom - grow &&
                           y <= r.bottom + r.height + grow;
                };
                int difference = 0;
                for (int c = 0; c < 3; ++c)
                    difference = std::max(difference, std::abs(now.at(px, py, c) - was.at(px, py, c)));
                // The topmost stamp near the pixel decides it.
                size_t i = stamps.size();
                while (i > 0 && !within(stamps[i - 1].rect, margin))
                    --i;
                if (i-- == 0) {
                    outside += difference > 12;
                } else if (!within(stamps[i].rect, -margin)) {
                    changed[i] += difference > 12;
                } else {
                    const ExpectedStamp& stamp = stamps[i];
                    const double along = stamp.upward ? y - stamp.rect.bottom : x - stamp.rect.left;
                    const double extent = stamp.upward ? stamp.rect.height : stamp.rect.width;
                    const std::array<int, 3>* colour = nullptr;
                    double alpha = stamp.opacity;
                    bool nearBand = false;
                    for (size_t band = 0; band < stamp.bands.size(); ++band) {
                        const double start = stamp.bands[band].first;
                        nearBand |= start > 0 && std::fabs(along - start * extent) <= margin;
                        if (along >= start * extent) {
                            colour = &stamp.bands[band].second;
                            alpha = stamp.opacity * (stamp.bandAlpha.empty() ? 1.0 : stamp.bandAlpha.at(band));
                        }
                    }
                    judged[i] += !nearBand;
                    bool bad = false;
                    for (int c = 0; c < 3 && !nearBand; ++c)
                        bad |= std::fabs(now.at(px, py, c) - alpha * (*colour)[c] - (1 - alpha) * was.at(px, py, c)) >
                               40;
                    wrong += bad;
                }
            }
        }
        if (outside + wrong > 0)
            problems += where + std::to_string(outside) + " pixels changed outside the stamps, " +
                        std::to_string(wrong) + " wrong inside them\n";
        // A stamp off the page or never drawn must not pass for want of pixels; one
        // too thin to have an inside must have changed the pixels along it.
        for (size_t i = 0; i < stamps.size(); ++i) {
            const double w = stamps[i].rect.width / pt - 4, h = stamps[i].rect.height / pt - 4;
            const bool thin = w < 1 || h < 1;
            if ((thin ? changed[i] : judged[i]) < 0.6 * (thin ? std::max(w, h) + 4 : w * h))
                problems += where + "stamp " + std::to_string(i) + " not seen where expected\n";
        }
    }
    return problems;
}

std::vector<ExpectedStamp> marksAround(const render::Box& box, const render::View& view)
{
    const double x0 = std::trunc(box.x0), y0 = std::trunc(box.y0), x1 = std::trunc(box.x1), y1 = std::trunc(box.y1);
    std::vector<ExpectedStamp> marks;
    for (const auto& [x, y, w, h] : std::vector<std::array<double, 4>>{
             {x0 - 24, y0, 15, 0.25}, {x1 + 9, y0, 15, 0.25}, {x0 - 24, y1 - 0.25, 15, 0.25},
             {x1 + 9, y1 - 0.25, 15, 0.25}, {x0 - 0.25, y0 - 24, 0.25, 15}, {x1 - 0.25, y0 - 24, 0.25, 15},
             {x0 - 0.25, y1 + 9, 0.25, 15}, {x1 - 0.25, y1 + 9, 0.25, 15}})
        marks.push_back(ExpectedStamp{view.rectToDisplay(x, y, x + w, y + h)});
    return marks;
}

// ---- Test documents ----

namespace {

std::string ref(int num) { return std::to_string(num) + " 0 R"; }

std::string number(double value) { return (std::ostringstream() << value).str(); }

std::string boxText(const render::Box& b)
{
    return "[" + number(b.x0) + " " + number(b.y0) + " " + number(b.x1) + " " + number(b.y1) + "]";
}

// A point of the box: its lower left corner moved by dx, dy.
std::string at(const render::Box& b, double dx, double dy) { return number(b.x0 + dx) + " " + number(b.y0 + dy); }

// Page content in two halves (for a content array), inside the crop box. It
// uses the page's form XObject and graphics state when it has them, so lost
// resources show in a render; it mentions object streams in a comment (the
// stream must not be taken for one); and it leaves a scaled matrix and a
// tiny clip behind, which the stamp must not inherit.
std::pair<std::string, std::string> pageContent(const render::Box& crop, bool useResources)
{
    std::string first = "% ObjStm: these bytes must not make the stream vanish\n";
    first += "0.6 g " + at(crop, 150, 200) + " 200 150 re f\n";
    if (useResources)
        first += "q /G0 gs 0 0 1 rg " + at(crop, 60, 300) + " 120 120 re f Q\n";
    const std::string second = useResources ? "q 1 0 0 1 " + at(crop, 0, 0) + " cm /Fm0 Do Q\n"
                                            : "0.3 g " + at(crop, 250, 450) + " 100 100 re f\n";
    return {first, second + "0.5 0 0 0.5 0 0 cm 0 1 0 rg 0 0 10 10 re W n\n"};
}

} // namespace

BuiltDoc buildDoc(const DocPlan& plan)
{
    vtest::PdfBuilder b;
    std::vector<int> plain;   // generation 0 dictionaries and arrays: may be compressed
    std::vector<int> streams; // content streams, in page order

    const int form = b.addStream("/Type /XObject /Subtype /Form /BBox [0 0 2000 2000]", "0.3 g 250 450 100 100 re f\n");
    const int state = b.add("<< /Type /ExtGState /ca 0.5 >>");
    const int xobjects = b.add("<< /Fm0 " + ref(form) + " >>");
    const int states = b.add("<< /G0 " + ref(state) + " >>");
    const std::string inlineResources =
        "<< /ProcSet [/PDF] /XObject << /Fm0 " + ref(form) + " >> /ExtGState << /G0 " + ref(state) + " >> >>";
    const std::string referringResources =
        "<< /ProcSet [/PDF] /XObject " + ref(xobjects) + " /ExtGState " + ref(states) + " >>";
    const int shared = b.add(inlineResources);
    plain.insert(plain.end(), {state, xobjects, states, shared});

    const int catalog = b.reserve(), root = b.reserve();
    const int middle = plan.intermediateNode ? b.reserve() : 0;

    BuiltDoc built;
    std::vector<int> pages;
    for (const PagePlan& page : plan.pages) {
        const render::Box box =
            page.crop ? *page.crop : plan.nodeCrop ? *plan.nodeCrop : page.media ? *page.media : *plan.nodeMedia;
        built.views.push_back(render::View{box, page.rotate >= 0 ? page.rotate : std::max(plan.nodeRotate, 0)});
        built.media.push_back(page.media ? *page.media : *plan.nodeMedia);
        built.trim.push_back(page.trim ? *page.trim : box); // a trim box defaults to the crop box
        const bool inherits = page.resources == Resources::None && plan.nodeResources != NodeResources::None;
        auto [first, second] = pageContent(box, inherits || page.resources == Resources::Inline ||
                                                    page.resources == Resources::Indirect);

        std::string dict = "<< /Type /Page /Parent " + ref(plan.intermediateNode ? middle : root);
        if (page.media)
            dict += " /MediaBox " + boxText(*page.media);
        if (page.crop && page.cropByReference) {
            plain.push_back(b.add(boxText(*page.crop)));
            dict += " /CropBox " + ref(plain.back());
        } else if (page.crop) {
            dict += " /CropBox " + boxText(*page.crop);
        }
        if (page.trim)
            dict += " /TrimBox " + boxText(*page.trim);
        if (page.rotate >= 0)
            dict += " /Rotate " + std::to_string(page.rotate);

        if (page.resources == Resources::Inline)
            dict += "\n/Resources " + (page.subDictionariesByReference ? referringResources : inlineResources);
        if (page.resources == Resources::Indirect && page.subDictionariesByReference) {
            plain.push_back(b.add(referringResources));
            dict += "\n/Resources " + ref(plain.back());
        } else if (page.resources == Resources::Indirect) {
            dict += "\n/Resources " + ref(shared);
        }
        if (page.resources == Resources::Bare)
            dict += "\n/Resources << /ProcSet [/PDF /Text] >>";

        if (page.contents == Contents::Stream) {
            std::string padding;
            for (size_t line = 0; padding.size() < page.padding; ++line)
                padding += "% line " + std::to_string(line) + " of a long content stream\n";
            streams.push_back(b.addStream("", first + second + padding, page.flate));
            dict += "\n/Contents " + ref(streams.back());
        } else if (page.contents != Contents::None) {
            streams.push_back(b.addStream("", first, page.flate));
            const std::string array = "[" + ref(streams.back()) + " " + ref(b.addStream("", second, page.flate)) + "]";
            if (page.contents == Contents::ArrayRef)
                plain.push_back(b.add(array));
            dict += "\n/Contents " + (page.contents == Contents::Array ? array : ref(plain.back()));
        }
        plain.push_back(b.add(dict + "\n>>"));
        pages.push_back(plain.back());
    }

    std::string kids;
    for (int num : pages)
        kids += (kids.empty() ? "" : " ") + ref(num);
    const std::string count = std::to_string(pages.size());
    std::string node = "<< /Type /Pages";
    if (plan.nodeMedia)
        node += " /MediaBox " + boxText(*plan.nodeMedia);
    if (plan.nodeCrop)
        node += " /CropBox " + boxText(*plan.nodeCrop);
    if (plan.nodeRotate >= 0)
        node += " /Rotate " + std::to_string(plan.nodeRotate);
    if (plan.nodeResources != NodeResources::None)
        node += " /Resources " + (plan.nodeResources == NodeResources::Reference ? ref(shared) : inlineResources);
    if (plan.intermediateNode) {
        b.set(middle, "<< /Type /Pages /Parent " + ref(root) + " /Kids [" + kids + "] /Count " + count + " >>");
        plain.push_back(middle);
        kids = ref(middle);
    }
    b.set(root, node + " /Kids [" + kids + "] /Count " + count + " >>");
    plain.push_back(root);
    std::vector<int> extra;
    for (size_t index = 0; index < plan.objects.size(); ++index)
        extra.push_back(b.reserve());
    // "@N" in the catalog's entries and the objects is a reference to object N of the plan's.
    const auto referenced = [&](std::string text) {
        for (size_t at; (at = text.find('@')) != std::string::npos;) {
            size_t end = at + 1;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
                ++end;
            text.replace(at, end - at, ref(extra.at(std::stoul(text.substr(at + 1, end - at - 1)))));
        }
        return text;
    };
    for (size_t index = 0; index < plan.objects.size(); ++index)
        b.set(extra[index], referenced(plan.objects[index]));
    std::string catalogExtra = plan.catalogEntries.empty() ? "" : " " + referenced(plan.catalogEntries);
    if (plan.tagged)
        catalogExtra += " /MarkInfo << /Marked true >>";
    if (!plan.xmp.empty())
        catalogExtra += " /Metadata " + ref(b.addStream("/Type /Metadata /Subtype /XML", plan.xmp, plan.metadataFlate));
    if (plan.outputIntentComponents > 0) {
        // Only the profile's /N matters to the stamper; its data stands in for a real profile.
        const int profile = b.addStream("/N " + std::to_string(plan.outputIntentComponents), "ICC profile data");
        catalogExtra += " /OutputIntents [<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (test)"
                        " /DestOutputProfile " + ref(profile) + " >>]";
    }
    b.set(catalog, "<< /Type /Catalog /Pages " + ref(root) + catalogExtra + " >>", plan.rootGen);
    if (plan.rootGen == 0)
        plain.push_back(catalog);
    b.setRoot(catalog);
    if (plan.info) {
        const int info = b.reserve();
        b.set(info, "<< /Producer (vellico end-to-end tests) /Title (ObjStm in a string) >>", plan.infoGen);
        b.setInfo(info);
    }
    const int unused = b.add("(an object the update frees)");

    if (plan.layout == Layout::JunkPrefix)
        b.setJunkPrefix("Some mail gateway wrote this line before the header.\r\n");
    if (plan.layout == Layout::XrefStream || plan.layout == Layout::XrefStreamPng) {
        vtest::XrefStreamOptions options;
        options.pngUp = plan.layout == Layout::XrefStreamPng;
        b.setXref(vtest::XrefKind::Stream, options);
    }
    if (plan.layout == Layout::ObjectStreams || plan.layout == Layout::Hybrid) {
        b.setXref(plan.layout == Layout::Hybrid ? vtest::XrefKind::Hybrid : vtest::XrefKind::Stream);
        const int container = b.addObjectStream();
        for (int num : plain)
            b.compress(num, container);
    }
    if (plan.layout == Layout::Incremental && !streams.empty()) {
        b.beginUpdate();
        const render::Box& box = built.views.front().box;
        const std::string changed = "0.8 g " + at(box, 300, 100) + " 150 60 re f\n" + pageContent(box, false).first;
        b.setStream(streams.front(), "", changed);
        b.free(unused);
    }
    built.bytes = b.build();
    return built;
}

DocPlan plainPlan(int pages)
{
    DocPlan plan;
    plan.pages.resize(static_cast<size_t>(pages));
    return plan;
}

std::string plainDoc(int pages) { return buildDoc(plainPlan(pages)).bytes; }

// ---- Signing ----

namespace {

vtest::CommandResult quiet(const std::string& command) { return vtest::runCommand(command + " 2>&1"); }
std::string q(const std::string& text) { return vtest::shellQuote(text); }

} // namespace

const SigningKit* SigningKit::get()
{
    static const bool tools = vtest::haveTool("pdfsig") && vtest::haveTool("certutil") &&
                              vtest::haveTool("pk12util") && vtest::haveTool("openssl");
    static const SigningKit* kit = tools ? new SigningKit() : nullptr;
    return kit && kit->m_ready ? kit : nullptr;
}

SigningKit::SigningKit()
{
    const std::string key = q(m_folder.file("key.pem")), cert = q(m_folder.file("cert.pem"));
    const std::string p12 = q(m_folder.file("cert.p12")), nss = q("sql:" + m_folder.file("nss"));
    m_ready = quiet("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Vellico-Test -keyout " + key +
                    " -out " + cert).status == 0 &&
              quiet("openssl pkcs12 -export -passout pass: -name test -inkey " + key + " -in " + cert + " -out " +
                    p12).status == 0 &&
              quiet("mkdir " + q(m_folder.file("nss")) + " && certutil -N --empty-password -d " + nss).status == 0 &&
              quiet("pk12util -W '' -i " + p12 + " -d " + nss).status == 0;
}

bool SigningKit::sign(const std::string& in, const std::string& out, const std::string& password) const
{
    quiet("pdfsig -add-signature -nssdir " + q("sql:" + m_folder.file("nss")) + " -nick test" +
          (password.empty() ? "" : " -upw " + q(password)) + " " + q(in) + " " + q(out));
    return vtest::fileExists(out);
}

std::string SigningKit::cms(const std::string& data) const
{
    vtest::writeFile(m_folder.file("data.bin"), data);
    quiet("openssl cms -sign -binary -outform DER -in " + q(m_folder.file("data.bin")) + " -signer " +
          q(m_folder.file("cert.pem")) + " -inkey " + q(m_folder.file("key.pem")) + " -out " +
          q(m_folder.file("sig.der")));
    return vtest::readFile(m_folder.file("sig.der"));
}

std::string signatures(const std::string& pdf, const std::string& password)
{
    const std::string report =
        quiet("pdfsig -nocert " + (password.empty() ? "" : "-upw " + q(password) + " ") + q(pdf)).output;
    std::string verdicts;
    const std::regex line("Signature Validation: (.*)");
    for (auto it = std::sregex_iterator(report.begin(), report.end(), line); it != std::sregex_iterator(); ++it)
        verdicts += (*it)[1] == "Signature is Valid." ? "V" : "X";
    return verdicts;
}

} // namespace e2e
