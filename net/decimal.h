#ifndef NET_DECIMAL_H
#define NET_DECIMAL_H

// Decimal numbers in texts that come from URLs and servers (a port after a
// host name, a Content-Length value). Plain standard C++.

#include <stdint.h>

// Reads a decimal number as atoi does: leading white space (blank, tab,
// line feed, vertical tab, form feed, carriage return), one optional sign,
// digits up to the first non-digit; no digits gives 0. Wraps modulo 2^32
// where atoi would overflow. text is zero-terminated; Char is char or a wide
// character type.
template <class Char>
int32_t ScanDecimal(const Char *text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10 + (uint32_t)(*text - '0');
    return (int32_t)(negative ? 0u - value : value);
}

// The port a host text "name" or "name:port" names: the number after the
// first ':' as ScanDecimal reads it, cut to 16 bits; defaultPort when there
// is no ':'. The connection and the request's Host line both use it.
template <class Char>
uint16_t HostTextPort(const Char *host, uint16_t defaultPort) {
    for (; *host; ++host)
        if (*host == ':')
            return (uint16_t)ScanDecimal(host + 1);
    return defaultPort;
}

#endif
