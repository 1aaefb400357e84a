#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/CObjectText.h"
#include "document/CPageStamps.h"
#include "load/CXrefRecord.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfObjectHead.h"

class CObjectReader;
class COutputWriter;
class CPdfDictLayout;
class CXrefTable;
struct CPageRecord;
struct CStoredEntry;

// Makes one page show the stamp by editing object text: the page's content
// list becomes prefix, own content, stamp; its resources gain the image and
// the graphics state. Every edit is placed where the parsed layout of the
// text says an entry stands, so everything else keeps its exact bytes.
// Rewritten objects are written to the output at once.
class CPageRewriter {
public:
    struct CContext {
        CObjectReader& reader;
        CXrefTable& xref;
        COutputWriter& writer;
        const std::string& imName;
        int imObjNum;
        const std::string& gsName;
        int gsObjNum;
        // A second image the resources name (a marks update's vertical line); empty when none.
        const std::string& im2Name;
        int im2ObjNum;
        // The resources' dictionary that names the image: "XObject", or
        // "Font" where each page draws its own text.
        const char* imCategory = "XObject";
        // The optional content group the drawing is marked with, and its name in /Properties; 0: none.
        int layerNum = 0;
        std::string layerName;
    };

    // Thrown where a resource dictionary the page names already holds one
    // of the run's names: the run is written again under others.
    struct CNameTaken {
        std::string name;
    };

    explicit CPageRewriter(const CContext& context);
    // Every page names the variants of the image: `names[v]` the object
    // after the image's by v (the pages of a stamp PDF, each page drawing its own).
    void setImageVariants(const std::vector<std::string>& names);

    // Writes page `pageNum`, whose text `pageText` the walk laid out in
    // `page`, with its content run between the streams `prefixNum` and
    // `stampNum` (0: after `prefixNum` alone, an underlay); first writes
    // whatever other object that takes.
    void rewritePageObject(const std::string& pageText, int pageNum, const CPageRecord& page, int prefixNum,
                           int stampNum);

    // Writes page `pageNum` (text `pageText`, laid out in `page`) with the
    // annotation `annotNum` added to its /Annots; false, and nothing
    // written, when its /Annots is something no entry can be added to.
    // `sharedAnnots`: other pages name the same /Annots array object, which
    // then stays as it is, and the page gets an array of its own.
    bool addAnnotation(const std::string& pageText, int pageNum, const CPageRecord& page, int annotNum,
                       bool sharedAnnots);

    // The resource entries that stamps being taken off added, wherever they stand: set before removeStamps.
    void setNamesToRemove(std::vector<CPageStamps::CName> names) { m_namesToRemove = std::move(names); }
    // Writes page `pageNum` (text `pageText`, laid out in `page`) without the
    // stamps `stamps`: their streams leave /Contents (one stream again where
    // it was one), their annotations /Annots, their names the resources.
    // False, and nothing written, when its /Contents or /Annots cannot be
    // edited so: then the page keeps its stamps.
    bool removeStamps(const std::string& pageText, int pageNum, const CPageRecord& page,
                      const std::vector<CPageStamps::CFound>& stamps);

    // Whether `page`'s /Contents names one stream (which the stamp turns into a list).
    bool contentsIsOneStream(const CPageRecord& page);

    // Writes `page` unstamped: as it stands but for the /Parent the output's
    // mended page tree gave it.
    void writeAsItStands(const CPageRecord& page);

private:
    // Makes `text`, page `page`'s text `original` being edited, name the
    // node the output put above the page as its /Parent, when it put one.
    static void nameNewParent(const std::string& original, CObjectText& text, const CPageRecord& page);
    // The edits made to other objects. Those other than a content list come
    // out the same for every page (they add the run's two names), so one
    // written copy serves every page that shares the object. EDIT_IMAGES adds
    // the image's name to its category's dictionary (/XObject, or /Font).
    enum EEdit { EDIT_CONTENTS, EDIT_RESOURCES, EDIT_IMAGES, EDIT_EXTGSTATES, EDIT_ANNOTS, EDIT_PROPERTIES };
    enum EOutcome {
        EDITED,       // written with the edit (now or for an earlier page)
        MISSING,      // the reference names no object: it is null
        NOT_EDITABLE, // the object is not what the edit changes
    };

    // Reads object `num`, referred to with generation `gen`, lays out its
    // text and lets `edit` change it (`edit` returns whether the value is
    // what it edits); writes it when edited. An object whose last rewrite
    // was the same shared edit is not written again.
    template <class Edit>
    EOutcome rewriteObject(int num, int gen, EEdit kind, Edit edit);
    void writeObject(int num, const CObjectText& text);
    // What object `num` of generation `gen` holds: PDF_STREAM for a stream,
    // PDF_NULL when there is no such object.
    EPdfType objectKind(int num, int gen);
    // Both edit `page`, which holds `original` (where `record` says the entries stand).
    void rewriteContents(const std::string& original, CObjectText& page, const CPageRecord& record, int prefixNum,
                         int stampNum);
    void rewriteResources(const std::string& original, CObjectText& page, const CPageRecord& record);
    // The resources a page that has none of its own (or a null) gets: what
    // it inherits, with our names added, or a dictionary of our names.
    std::string resourcesForPage(const CPageRecord& record);
    EOutcome editResourcesObject(int num, int gen);
    // Ours must be new keys of each category's dictionary: a name it holds
    // already would have two values. Throws CNameTaken when one of ours
    // stands in `names`, the dictionary of category `kind`; refuseTakenNames
    // checks those written in the resource dictionary `original` lays out
    // as `layout`, before any edit.
    void refuseTaken(EEdit kind, const CPdfDictLayout& names) const;
    void refuseTakenNames(std::string_view original, const CPdfDictLayout& layout) const;
    // Adds our names to the resource dictionary laid out as `layout` in `text`.
    void editResources(CObjectText& text, const CPdfDictLayout& layout);
    int generationFor(int num) const;
    // Takes the references `gone` out of the array laid out as `array` in
    // `original` (edited as `text`); with `single`, one that is left stands
    // alone instead of in an array. False when the array holds anything else.
    static bool removeReferences(const std::string& original, CObjectText& text, const CPdfEntryLayout& array,
                                 const std::vector<CPageStamps::CRef>& gone, bool single);
    // The same for the array entry `entry` of the page, in place or in its own object.
    bool removeFromArray(const std::string& original, CObjectText& text, const CStoredEntry& entry, EEdit kind,
                         const std::vector<CPageStamps::CRef>& gone, bool single);
    // Takes the names being removed out of the resource dictionary laid out as `layout` in `original`.
    void removeNames(const std::string& original, CObjectText& text, const CPdfDictLayout& layout);
    // The array object `num` as the start of an array text of its items
    // ("[3 0 R 4 0 R"), when every item is a reference; else empty.
    std::string referenceItems(int num);

    CContext m_context;
    CPdfObjectHead m_head; // scratch for objectKind
    // Per object number: 1 + the EEdit it was last rewritten with in this
    // run, 0 when it was not (sized on the first rewrite).
    std::vector<uint8_t> m_lastEdit;
    // What contentsIsOneStream found last, for the page's own rewrite.
    int m_contentsKindOf = -1;
    EPdfType m_contentsKind = PDF_NONE;
    std::vector<CPageStamps::CName> m_namesToRemove;
    std::string m_imageEntry;
    std::vector<std::string> m_variantNames; // setImageVariants' names
    std::string m_imageItem;
    std::string m_stateEntry;
    std::string m_stateItem;
    std::string m_layerEntry;
    std::string m_layerItem;
};
