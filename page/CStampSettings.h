#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "document/CStampMark.h"
#include "page/StampPlacement.h"

// The box a printer's mark stands at.
enum class EMarkBox { TRIM, CROP };

// One of the sixteen corner marks: a box and one of the eight lines at its corners.
struct CCornerMark {
    EMarkBox box;
    ECornerMark mark;
    const char* option; // the command-line option that fixes the stamp to it
};

// Every corner mark, once. Where several are chosen the last in this order wins.
constexpr size_t kCornerMarkCount = 16;
extern const CCornerMark kCornerMarks[kCornerMarkCount];

// The index in kCornerMarks of `mark` at `box`.
size_t cornerMarkIndex(EMarkBox box, ECornerMark mark);

// Everything a run is told: the files, which pages, where and how the stamp
// goes. The command line fills it, the job only reads it.
struct CStampSettings {
    std::string inputPath;
    // The input's name as the user gave it, where inputPath is a private file
    // made from it (--replace stamps the input with the old stamps taken off); empty otherwise.
    std::string inputShownAs;
    std::string outputPath;
    std::optional<std::string> imagePath;
    // The image's name as the user gave it, where imagePath is a private
    // copy of it (an image read from a pipe); empty otherwise.
    std::string imageShownAs;
    // The page of a PDF stamp file to place (--stamp-page), 1-based;
    // kEachPage: each input page takes the stamp page of its number, the
    // last one for the pages past it.
    int stampPage = 1;
    static constexpr int kEachPage = 0;
    const std::string& imageName() const { return imageShownAs.empty() ? *imagePath : imageShownAs; }
    // What is stamped, as the console names it: "image file: '...'" or "text: '...'".
    std::string stampShown() const
    {
        if (removes() && !replace)
            return removeAll ? std::string("removing every stamp")
                             : "removing stamps: '" + removeIds.substr(0, removeIds.size() - 1) + "'";
        return text ? "text: '" + *text + "'" : "image file: '" + imageName() + "'";
    }
    // The text stamped instead of an image (--text), its fields unfilled.
    std::optional<std::string> text;
    std::optional<std::string> font; // --font: a font file, or an installed family
    int fontIndex = 0;               // --font-index: the face of a collection
    double fontSize = 12;            // points
    int color = 0;        // the text's colour, 0xRRGGBB
    std::string date;     // the moment its {date} shows, "YYYY-MM-DD[ HH:MM:SS]": the run's start, or --date
    // {bates}: the number of this file's first stamped page, and how it is written.
    int64_t batesStart = 1;
    int batesDigits = 6;
    std::string batesPrefix;
    std::string batesSuffix;
    // The stamped pages a batch's counting pass found in this file, which
    // its range of numbers was made for; -1 when the run counts them itself,
    // kBatesUncounted when the count could not read the file.
    int batesCount = -1;
    static constexpr int kBatesUncounted = -2;

    int startPage = 1;    // first page to stamp, 1-based
    int endPage = 99999;  // last page to stamp, inclusive
    bool useEnd = false;  // derive the range from the page count
    int startFromEnd = 0; // with useEnd: start counted back from the last page
    int endFromEnd = 0;   // with useEnd: end counted back from the last page
    int everyNth = 0;     // skip every nth page; 0 = no skipping

    int opacity = 100;          // percent
    bool forcePortrait = true;  // honour the page's /Rotate when placing
    bool flipV = false;         // measure the vertical position from the top
    bool flipH = false;         // measure the horizontal position from the right
    std::string align = "left"; // "left", "center", anything else aligns right
    double posX = 20;           // points; -1 centres
    double posY = 10;
    double sizeX = -1; // displayed size in points; -1 = the image's pixel size
    double sizeY = -1;
    double rotate = 0;     // degrees, counter-clockwise as displayed, about the point -pos names
    bool diagonal = false; // centred along the displayed page's diagonal, sized to fill most of it
    bool outline = false;  // a text's glyphs stroked, not filled
    bool asPaths = false;  // a text's glyphs drawn as paths: no font, nothing to extract

    // Printer's marks around the trim box, or the crop box, instead of the
    // image (-trim_marks, -crop_marks); the trim box wins when both are asked for.
    bool trimMarks = false;
    bool cropMarks = false;
    std::optional<EMarkBox> marks() const
    {
        return trimMarks ? std::optional(EMarkBox::TRIM) : cropMarks ? std::optional(EMarkBox::CROP) : std::nullopt;
    }
    // Corner marks the stamp is fixed to, by index in kCornerMarks: the
    // sixteen corner flags, one bit each.
    enum ECornerFlag : size_t {
        trimBlv,
        trimBlh,
        trimTlv,
        trimTlh,
        trimBrv,
        trimBrh,
        trimTrv,
        trimTrh,
        cropBlv,
        cropBlh,
        cropTlv,
        cropTlh,
        cropBrv,
        cropBrh,
        cropTrv,
        cropTrh
    };
    std::bitset<kCornerMarkCount> corners;

    // Append the stamp to the input as an incremental update instead of
    // writing a new file (signed inputs are updated so without being asked).
    bool incremental = false;
    // The stamp as a /Stamp annotation of each page instead of page content.
    bool annotation = false;
    // The stamp drawn before the page's own content, which then lies over it.
    bool underlay = false;
    // The blend mode the stamp is drawn with, as PDF names it ("Multiply",
    // "Darken"); empty: Normal, which writes no /BM.
    std::string blend;
    // The id the stamp's mark carries (--id), by which it is listed and removed.
    std::string stampId = CStampMark::kDefaultId;
    // Stamps to take off instead of stamping (--remove, each id followed by
    // a space), or all of them (--remove-all); with --replace, those of the
    // run's id are taken off before the stamp is written.
    std::string removeIds;
    // The layer (optional content group) the stamp is put in, UTF-8; empty:
    // none. When it shows: always, printed only, or on screen only.
    std::string layer;
    enum class ELayerUse { Always, PrintOnly, ScreenOnly };
    ELayerUse layerUse = ELayerUse::Always;
    bool removeAll = false;
    bool replace = false;
    bool removes() const { return removeAll || !removeIds.empty(); }
    // The password that opens an encrypted input, as UTF-8; never printed.
    std::optional<std::string> password;

    // Fixes the number in the resource names, normally drawn from the clock,
    // so that outputs can be compared byte for byte.
    std::optional<int> resourceNumber;

    // Calls `visit` with every setting of `settings` (const or not), in the
    // order they stand here: how a worker is handed them. The binding names
    // every member, so one added above and not listed here does not compile.
    template <class Settings, class Visit>
    static void forEachSetting(Settings& settings, Visit&& visit)
    {
        auto& [input, inputShown, output, image, imageShown, page, words, typeface, face, points, rgb, moment,
               batesFirst, batesWidth, batesBefore, batesAfter, batesPages, start, end, fromEnd, startBack, endBack,
               nth, percent, portrait, fromTop, fromRight, alignment, x, y, width, height, turn, across, stroked, paths,
               trim, crop, cornerBits, update, annotate, beneath, blending, id, removing, layerName, layerShown,
               removingAll, replacing, secret, resources] = settings;
        visit(input), visit(inputShown), visit(output), visit(image), visit(imageShown), visit(page), visit(words),
            visit(typeface), visit(face);
        visit(points), visit(rgb), visit(moment);
        visit(batesFirst), visit(batesWidth), visit(batesBefore), visit(batesAfter), visit(batesPages);
        visit(start), visit(end), visit(fromEnd);
        visit(startBack), visit(endBack), visit(nth), visit(percent), visit(portrait), visit(fromTop);
        visit(fromRight), visit(alignment), visit(x), visit(y), visit(width), visit(height), visit(turn), visit(across);
        visit(stroked), visit(paths), visit(trim);
        visit(crop), visit(cornerBits), visit(update), visit(annotate), visit(beneath), visit(blending), visit(id),
            visit(removing), visit(layerName), visit(layerShown);
        visit(removingAll), visit(replacing), visit(secret), visit(resources);
    }

    // What the stamp's mark calls its kind.
    CStampMark::EKind stampKind() const
    {
        return marks() ? CStampMark::EKind::Marks : text ? CStampMark::EKind::Text : CStampMark::EKind::Image;
    }
    // Whether page `pageIndex` (0-based) is one to stamp.
    bool selectsPage(int pageIndex) const;
    // With useEnd: the range counted back from the last of `pageCount`
    // pages, where -s0 or -e0 asks for it.
    void resolveRangeFromEnd(int pageCount);
};
