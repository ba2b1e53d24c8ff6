#include "setup/rules.h"

OrderFault TakeDirective(ProductLines *lines, char letter) {
    if (letter == 'T')
        lines->seenProduct = true;
    if (letter != 'V')
        return kOrderOk;
    lines->seenVersion = true;
    return lines->seenProduct ? kOrderOk : kVersionBeforeProduct;
}

OrderFault FinishDirectives(const ProductLines &lines) {
    if (!lines.seenProduct)
        return kNoProduct;
    return lines.seenVersion ? kOrderOk : kProductWithoutVersion;
}

bool HasLineStartingWith(const char *text, uint32_t length, char letter) {
    for (uint32_t i = 0; i < length; i++)
        if (text[i] == letter && (i == 0 || text[i - 1] == '\n'))
            return true;
    return false;
}
