#pragma once

#include <string>
#include <vector>

// What the fields of a text stamp stand for in one file's run.
struct CTextFields {
    int pages = 0;    // the document's page count
    std::string file; // the input's name without its folder
    std::string date; // the run's moment, as CStampDate reads it
};

// What the fields that change from page to page stand for on one page.
struct CPageFields {
    int page = 0;      // 1-based
    std::string label; // the page's label, else its number
    std::string bates; // the page's Bates number, prefix and suffix included
};

// A text stamp's template as the user wrote it (--text): fixed text, fields
// in braces ({page}, {pages}, {label}, {file}, {date}, {date:FORMAT} and
// {bates}), "{{" and "}}" for braces, "\n" for a line break and "\\" for a
// backslash. Read once for the run; filled for each file, or each page.
class CTextTemplate {
public:
    // Reads `text`; throws CPdfException (a usage error) naming what cannot
    // be read: an empty text, an unknown field, a brace left open or alone.
    explicit CTextTemplate(const std::string& text);

    // The text's lines, UTF-8, with the fields filled from `fields` and,
    // when it has fields of a page, from `page`.
    std::vector<std::string> lines(const CTextFields& fields, const CPageFields& page = CPageFields()) const;

    // This template with the file's fields filled in from `fields`: only
    // the page's are left, so that a text of many pages is filled quickly.
    CTextTemplate filledFor(const CTextFields& fields) const;

    // Whether a field changes from page to page ({page}, {label}, {bates}).
    bool variesByPage() const { return m_pageFields; }
    bool usesLabels() const { return m_labels; }
    bool usesBates() const { return m_bates; }
    bool usesPageCount() const { return m_pageCount; }

private:
    CTextTemplate() = default;

    enum class EPart { Text, LineBreak, Pages, File, Date, Page, Label, Bates };
    struct CPart {
        EPart kind;
        std::string text; // the fixed text, or a date's format
    };
    std::vector<CPart> m_parts;
    bool m_pageFields = false;
    bool m_labels = false;
    bool m_bates = false;
    bool m_pageCount = false;
};
