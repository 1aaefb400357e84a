#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

// A batch's progress on a terminal: one line, rewritten as files finish,
// with the files done of the total, files per second and the time left.
// Cleared before other text is printed, so it never mixes with it. Off
// when the console is not a terminal.
class CProgressLine {
public:
    CProgressLine(FILE* stream, bool enabled);

    // The run's file count, once known; the clock starts here. `label`
    // names a step before the stamping ("Counting pages: ").
    void setTotal(size_t total, const std::string& label = std::string());
    // Erases the line, if shown.
    void clear();
    // Shows `done` files finished.
    void show(size_t done);
    // The line's text for `done` of `total` files after `seconds`.
    static std::string text(size_t done, size_t total, double seconds);

private:
    FILE* m_stream;
    size_t m_total = 0;
    std::string m_label;
    bool m_enabled;
    size_t m_shown = 0; // characters on the line now
    std::chrono::steady_clock::time_point m_start;
};
