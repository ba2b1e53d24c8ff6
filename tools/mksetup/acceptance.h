#ifndef TOOLS_MKSETUP_ACCEPTANCE_H
#define TOOLS_MKSETUP_ACCEPTANCE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "setup/rules.h"
#include "tools/mksetup/template.h"

// Will the installer accept this description, and do what the publisher
// meant? The line by line checks of a filled description, with the
// installer's own parser and rules (setup/description.h, setup/rules.h);
// each refusal or warning names the template's file and line.

// What the lines checked so far hold, for the rules that span lines.
struct LineState {
    ProductLines order = {};  // the T and V lines
    bool seenF = false, warnedBeforeFolder = false;
    std::vector<std::string> targets;  // of the I lines, case folded (UTF-8)
    std::vector<size_t> targetLines;
    std::vector<std::string> shortcutTargets;  // of the P lines (UTF-8)
    std::vector<size_t> shortcutLines;
};

// Checks one line, in the code page and filled, as the installer will read
// it; state collects what later lines are checked against. 0, or -1 with a
// message printed; warnings are printed and pass.
int32_t CheckLine(const Template &tmpl, size_t line, std::string text, LineState *state);

// The rules over the whole description, once every line is checked. 0, or
// -1 with a message printed.
int32_t CheckAcrossLines(const Template &tmpl, const LineState &state);

#endif
