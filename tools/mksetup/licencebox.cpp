#include "tools/mksetup/licencebox.h"

#include <algorithm>
#include <vector>

#include "tools/mksetup/platform.h"

namespace {

// The licence box, a message box, as measured under Wine on a 1024x768
// screen: its text is at most about 250 pixels wide, so it wraps lines of
// more than about 45 characters of running text, and with 13 pixels a line
// and 94 for the frame and buttons about 50 lines fit 768 pixels.
enum { kLicenceBoxColumns = 45, kLicenceBoxLines = 50 };

}  // namespace

void WarnAboutLicenceBox(const std::string &path, const std::string &text) {
    std::vector<size_t> lengths;
    for (size_t start = 0; start <= text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        lengths.push_back(end - start - (end > start && text[end - 1] == '\r'));
        start = end + 1;
    }
    size_t boxLines = 0, raggedLine = 0;
    for (size_t i = 0; i < lengths.size(); i++) {
        boxLines +=
            lengths[i] == 0 ? 1 : (lengths[i] + kLicenceBoxColumns - 1) / kLicenceBoxColumns;
        bool hardWrapped = i + 1 < lengths.size() && lengths[i + 1] != 0;
        if (raggedLine == 0 && lengths[i] > kLicenceBoxColumns && hardWrapped)
            raggedLine = i + 1;
    }
    if (raggedLine != 0)
        Warn(
            "%s:%zu: line of %zu characters: the licence box wraps lines wider than about %d "
            "characters again, so a paragraph broken into lines this wide shows ragged; write "
            "each paragraph on one line",
            path.c_str(), raggedLine, lengths[raggedLine - 1], (int)kLicenceBoxColumns);
    if (boxLines > kLicenceBoxLines)
        Warn("%s: about %zu lines in the licence box; about %d fit a 768-pixel-high screen",
             path.c_str(), boxLines, (int)kLicenceBoxLines);
}
