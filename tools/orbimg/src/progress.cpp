// Progress bar on a terminal.
#include "progress.h"

#include <algorithm>
#include <utility>

namespace orbimg::tool {

ProgressBar::ProgressBar(Context& ctx, int total, std::string label, int minimum)
    : m_ctx(ctx),
      m_total(std::max(total, 0)),
      m_label(std::move(label)),
      m_visible(ctx.errIsTerminal && total >= minimum)
{
}

void ProgressBar::Update(int done, const std::string& item)
{
    if (!m_visible || m_total == 0) {
        return;
    }
    constexpr int kCells = 30;
    done = std::clamp(done, 0, m_total);
    const int filled = static_cast<int>(static_cast<long long>(done) * kCells / m_total);
    std::string line(1, '[');
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kCells - filled), ' ');
    line += "] " + std::to_string(done) + "/" + std::to_string(m_total) + " " + m_label;
    if (!item.empty()) {
        line += ": " + item;
    }
    // Blank out what a longer previous line left behind.
    const std::size_t width = line.size();
    if (width < m_lastWidth) {
        line += std::string(m_lastWidth - width, ' ');
    }
    m_lastWidth = width;
    m_ctx.err << '\r' << line << std::flush;
}

void ProgressBar::Finish()
{
    if (!m_visible) {
        return;
    }
    m_ctx.err << '\r' << std::string(m_lastWidth, ' ') << '\r' << std::flush;
    m_visible = false;
}

}  // namespace orbimg::tool
