#include "app/CProgressLine.h"

CProgressLine::CProgressLine(FILE* stream, bool enabled)
    : m_stream(stream), m_enabled(enabled), m_start(std::chrono::steady_clock::now())
{
}

void CProgressLine::setTotal(size_t total, const std::string& label)
{
    m_total = total;
    m_label = label;
    m_start = std::chrono::steady_clock::now();
}

void CProgressLine::clear()
{
    if (m_shown == 0)
        return;
    // Spaces rather than an erase sequence: every console knows them.
    std::fprintf(m_stream, "\r%s\r", std::string(m_shown, ' ').c_str());
    m_shown = 0;
}

void CProgressLine::show(size_t done)
{
    if (!m_enabled)
        return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const std::string line = m_label + text(done, m_total, seconds);
    clear();
    std::fputs(line.c_str(), m_stream);
    std::fflush(m_stream);
    m_shown = line.size();
}

std::string CProgressLine::text(size_t done, size_t total, double seconds)
{
    char line[160];
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    if (rate <= 0 || done == 0) {
        std::snprintf(line, sizeof line, "%zu of %zu files", done, total);
        return line;
    }
    const long left = static_cast<long>(static_cast<double>(total - done) / rate + 0.5);
    std::snprintf(line, sizeof line, "%zu of %zu files, %.1f files/s, %ld:%02ld:%02ld left", done, total, rate,
                  left / 3600, left / 60 % 60, left % 60);
    return line;
}
