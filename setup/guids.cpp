// The shell's identifiers that the Start Menu shortcut uses. The platform's
// import library keeps every identifier in one object of about 120 KB,
// which a reference to any one of them would link whole; the installer is
// downloaded before anything else, so it defines its own (the network
// objects define theirs in net/guids.cpp).
#include <windows.h>

extern "C" {
extern const IID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
extern const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
extern const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}
