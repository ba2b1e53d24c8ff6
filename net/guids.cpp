// The interface identifiers of the network objects: the program's own, and
// the platform's that they answer or ask for. The platform's import library
// keeps every identifier in one object of about 120 KB, which a reference
// to any one of them would link whole; the installer is downloaded before
// anything else, so the network code defines the few it uses itself.
#include "net/com.h"

// The program's own interfaces share their last eight bytes.
#define NET_IID(name, d1, d2, d3) \
    const IID name = {d1, d2, d3, {0xB5, 0x55, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}}

NET_IID(IID_IFtpClient, 0xA993F340, 0x6183, 0x11D0);
NET_IID(IID_INetNode, 0xA993F341, 0x6183, 0x11D0);
NET_IID(IID_ITcpSocket, 0xA993F342, 0x6183, 0x11D0);
NET_IID(IID_ITcpConnection, 0xA993F343, 0x6183, 0x11D0);
NET_IID(IID_ITcpListener, 0xA993F344, 0x6183, 0x11D0);
NET_IID(IID_ITcpNode, 0xA993F345, 0x6183, 0x11D0);
NET_IID(IID_IHttpClient, 0x0B382FC0, 0x62A2, 0x11D0);

extern "C" {
extern const GUID GUID_NULL = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
extern const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
extern const IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
extern const IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
extern const IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
}
