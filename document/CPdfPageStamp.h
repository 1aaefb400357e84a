#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "image/CStampImage.h"

class CFileSource;
class CPdfFile;
class CPdfException;
class CPdfObject;
struct CPdfObjectHead;
class CRepairLog;
struct CPageRecord;

// A page of another PDF placed as the stamp: a form XObject that draws the
// page as it displays (its crop box, turned by its /Rotate) in the unit
// square the painter places, like an image. The objects its content names
// are copied once per output, renumbered, their strings and streams
// decrypted from the stamp file and encrypted again for the output.
class CPdfPageStamp : public CStampImage {
public:
    // Whether `file` is a PDF: no JPEG or PNG signature, and "%PDF-" in its first kilobyte.
    static bool isPdf(CFileSource& file);

    // Opens page `pageNumber` (1-based; 0: every page, for each page of the
    // input in turn) of the PDF `file`, named `name` in messages, and reads
    // what it needs. Throws CPdfException (an image
    // error naming the file) when the file needs a password, has no such
    // page, the page has no content or content that cannot be decoded, a
    // form that draws itself, or objects that cannot be read.
    CPdfPageStamp(const std::string& name, std::shared_ptr<CFileSource> file, int pageNumber);
    ~CPdfPageStamp() override;

    int pageCount() const { return m_pageCount; }
    int write(CNewObjectWriter& writer) const override;
    int variantCount() const override { return static_cast<int>(m_pages.size()); }
    double variantWidth(int variant) const override { return m_pages[static_cast<size_t>(variant)].width; }
    double variantHeight(int variant) const override { return m_pages[static_cast<size_t>(variant)].height; }
    bool isPdfPage() const override { return true; }
    // What was repaired or left out, each a warning line without "Warning: ".
    const std::vector<std::string>& warnings() const { return m_warnings; }

private:
    // A value as one object of the stamp file writes it: its strings are
    // encrypted for that object.
    struct CHeldValue {
        std::string text;
        int num = 0;
        int gen = 0;
    };

    // Reads `page`, page `pageNumber` of the file: its box, turn, content, resources and group.
    void readPage(const CPageRecord& page, int pageNumber);
    // The page's content streams decoded and joined, each on a line of its own.
    std::string joinedContent(const CPdfObject& contents) const;
    // Finds every object the resources and group name (pages and the
    // catalog left out), checking each can be read and noting what PDF/A
    // forbids.
    void collectObjects();
    void visitValue(const CPdfObject& value, int depth, std::vector<int>& found);
    // Refuses a form XObject that draws itself, directly or through others.
    void refuseSelfDrawingForms();
    // `text` as the output writes it: references renumbered, strings
    // decrypted for `held` and encrypted for `newNum`, other bytes as they stand.
    // `firstNum` is the new number of m_objects' first.
    std::string rewritten(std::string_view text, int heldNum, int heldGen, int newNum, int firstNum,
                          CNewObjectWriter& writer) const;
    // The whole text of object `num`, and its head as laid out in that text;
    // empty when it cannot be read.
    std::string objectText(int num, CPdfObjectHead& head) const;
    // Copies object `num` of the stamp file as new object `newNum`.
    void copyObject(int num, int newNum, int firstNum, CNewObjectWriter& writer) const;
    // Fails with `problem`, as an image error naming the file.
    [[noreturn]] void fail(const std::string& problem) const;
    // Fails saying the file cannot be read, and why `error` says.
    [[noreturn]] void failUnreadable(const CPdfException& error) const;

    std::string m_name;
    std::unique_ptr<CRepairLog> m_repairs; // outlives the file that records into it
    std::unique_ptr<CPdfFile> m_pdf;
    int m_pageCount = 0;
    // A page placed: its box, turn, displayed size, content and what it names.
    struct CPage {
        float cropBox[4] = {0, 0, 0, 0};
        int rotate = 0;
        double width = 0, height = 0;
        std::string content;    // decoded and joined, while the page is checked
        std::string compressed; // then deflated: what each output's form holds
        CHeldValue resources; // the /Resources value as written; empty text when none
        CHeldValue group;     // the /Group value as written; empty text when none
    };
    std::vector<CPage> m_pages;
    int m_annotations = 0; // of the pages placed, which are not carried over
    std::vector<int> m_annotatedPages;
    std::vector<int> m_objects;           // the stamp file's objects to copy, in the order written
    std::unordered_map<int, int> m_order; // index in m_objects by object number
    std::vector<std::string> m_warnings;
};
