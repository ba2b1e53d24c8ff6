#ifndef TOOLS_MKSETUP_LICENCEBOX_H
#define TOOLS_MKSETUP_LICENCEBOX_H

#include <string>

// Warns when the licence box will show a licence's text (in the code page,
// CR LF line ends) badly: a paragraph broken into lines wider than the box,
// which the box breaks again into ragged lines (a paragraph written on one
// line wraps cleanly), or more lines than fit the screen, which hides the
// Yes and No buttons. path names the licence in the warnings.
void WarnAboutLicenceBox(const std::string &path, const std::string &text);

#endif
