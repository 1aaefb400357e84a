#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct CStampSettings;

// A list's plan (--write-plan, --plan): each file's size, time and pages
// read once, and the Bates range they take, so that shards of the list on
// any number of machines number their files as one run would. JSON Lines:
// a first line with the options that decide the pages and numbers, then a
// line per file in list order.
class CPlanFile {
public:
    struct CFile {
        std::string input;
        int64_t size = -1;    // -1: there was no such file
        int64_t modified = 0; // nanoseconds since 1970
        int pages = -1;       // -1: it could not be read (`message` says why)
        int pagesStamped = -1;
        bool encrypted = false;
        std::string message;
        std::optional<int64_t> batesStart; // its first Bates number, when it was counted
    };

    explicit CPlanFile(const CStampSettings& settings);

    std::vector<CFile> files; // in list order

    // Writes the plan to `path`, whole. Throws CPdfException.
    void write(const std::string& path) const;
    // The plan at `path`; throws CPdfException (a usage error) for a file
    // this program did not write as a plan.
    static CPlanFile read(const std::string& path);
    // Throws CPdfException (a usage error) when the run's `settings` or its
    // list's `names` are not those the plan was made with.
    void check(const CStampSettings& settings, const std::vector<std::string>& names) const;

private:
    CPlanFile() = default;
    // The options that decide which pages are stamped and how they are numbered, with their values.
    static std::vector<std::pair<std::string, std::string>> optionsOf(const CStampSettings& settings);

    std::vector<std::pair<std::string, std::string>> m_options;
    std::string m_path;
};
