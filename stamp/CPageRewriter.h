#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "load/CXrefRecord.h"
#include "pdf/CPdfObject.h"
#include "stamp/CObjectText.h"

class CFileSource;
class COutputFile;
class CXrefTable;
struct CPageRecord;
struct CStoredEntry;

// Makes one page show the stamp by editing object text: the page's content
// list becomes prefix, own content, stamp; its resources gain the image and
// the graphics state. Every edit is an insertion at a place found by byte
// search, so everything else keeps its exact bytes. Rewritten objects are
// written to the output at once and their records set.
class CPageRewriter {
public:
    struct CContext {
        CFileSource& input;
        CXrefTable& xref;
        COutputFile& output;
        std::vector<CXrefRecord>& outRecords;
        const std::string& imName;
        int imObjNum;
        const std::string& gsName;
        int gsObjNum;
    };

    explicit CPageRewriter(const CContext& context);

    // The two most recently numbered output objects are the page's prefix and
    // stamp streams.
    void rewrite(const std::string& pageText, int pageNum, const CPageRecord& page);

private:
    // The edits made to other objects. Those other than a content list come
    // out the same for every page (they add the run's two names), so one
    // written copy serves every page that shares the object.
    enum EEdit { EDIT_CONTENTS, EDIT_RESOURCES, EDIT_XOBJECTS, EDIT_EXTGSTATES };

    // Reads object `num`, applies `edit` to its text and writes it; an object
    // whose text cannot be read is left as it was. An object whose last
    // rewrite was the same shared edit is not written again.
    template <class Edit>
    void rewriteObject(int num, EEdit kind, Edit edit);
    void writeObject(int num, const CObjectText& text);
    void rewriteContents(CObjectText& page, const CStoredEntry& contents);
    // Rewrites resource dictionary object `num`, referred to with generation `gen`.
    void editResourcesObject(int num, int gen);
    // How resource dictionary object `num` (its text in hand) writes /XObject and /ExtGState.
    void resourceEntryKinds(int num, int gen, const std::string& text, CStoredEntry& xobject,
                            CStoredEntry& extGState) const;
    // Adds our names to a resource dictionary: written inline in the page
    // (from its "/Resources" on), or an object of its own (from its start).
    // `xobject` and `extGState` tell how the dictionary writes those entries.
    void editResources(CObjectText& text, bool inPage, const CStoredEntry& xobject, const CStoredEntry& extGState);
    int generationFor(int num) const;

    CContext m_context;
    std::unordered_map<int, EEdit> m_lastEdit; // per object rewritten in this run
    std::string m_imageEntry;
    std::string m_imageItem;
    std::string m_stateEntry;
    std::string m_stateItem;
};
