#pragma once

#include <string>
#include <vector>

// What the fields of a text stamp stand for in one file's run.
struct CTextFields {
    int pages = 0;    // the document's page count
    std::string file; // the input's name without its folder
    std::string date; // the run's moment, as CStampDate reads it
};

// A text stamp's template as the user wrote it (--text): fixed text, fields
// in braces ({pages}, {file}, {date} and {date:FORMAT}), "{{" and "}}" for braces, "\n" for a line
// break and "\\" for a backslash. Read once for the run; filled for each file.
class CTextTemplate {
public:
    // Reads `text`; throws CPdfException (a usage error) naming what cannot
    // be read: an empty text, an unknown field, a brace left open or alone.
    explicit CTextTemplate(const std::string& text);

    // The text's lines, UTF-8, with the fields filled from `fields`.
    std::vector<std::string> lines(const CTextFields& fields) const;

private:
    enum class EPart { Text, LineBreak, Pages, File, Date };
    struct CPart {
        EPart kind;
        std::string text; // the fixed text, or a date's format
    };
    std::vector<CPart> m_parts;
};
