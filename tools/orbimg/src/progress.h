// A progress bar on the error stream, for commands that work through many
// files. Drawn only when the error stream is a terminal and there are at
// least `minimum` steps; otherwise it writes nothing at all.
//
// The bar is one line redrawn in place ("\r"), 30 cells wide, followed by
// "done/total" and the label; Finish (or the destructor) clears the line so
// that messages and results start on a clean line.
#pragma once

#include <string>

#include "tool.h"

namespace orbimg::tool {

class ProgressBar {
public:
    ProgressBar(Context& ctx, int total, std::string label, int minimum = 4);
    ~ProgressBar() { Finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    /// Shows `done` of the total steps finished (clamped to 0..total).
    void Update(int done, const std::string& item = std::string());
    /// Clears the bar's line; later calls draw nothing.
    void Finish();
    bool Visible() const { return m_visible; }

private:
    Context& m_ctx;
    int m_total;
    std::string m_label;
    bool m_visible;
    std::size_t m_lastWidth = 0;
};

}  // namespace orbimg::tool
