// The UI robot: starts a program, answers each top-level dialog or message
// box it shows (window class "#32770") by a script, and writes a transcript
// of every box it met (caption, text, owner, buttons, icon) as JSON lines on
// its standard output, ending with the program's exit code. Each line has
// "ms", the milliseconds since the program started, taken when the line is
// written (for a box: once read, just before the robot acts on it).
//
//   robot [--timeout SECONDS] SCRIPT -- PROGRAM [ARGUMENTS...]
//
// A box is read once its controls and their texts have held still for a few
// reads in a row (a window may still be filling them when it shows).
//
// The script has one step per box, in the order the boxes appear:
//   press BUTTON        click the button whose text is BUTTON (OK, Yes, ...)
//   type ID TEXT        set the text of control ID, then go on with the next
//                       step line (usually a press) for the same box
//   choose PATH         in a box with a tree view (the shell's folder
//                       browser), expand the items named by PATH's labels,
//                       separated by backslashes, from a top-level item down,
//                       and select the last one (Desktop\My Computer\(C:)\X);
//                       then go on with the next step line for the same box
//   await TEXT          wait until the box's text contains TEXT (the status
//                       window's "Installing NAME"), then go on
//   leave               record the box and leave it open (the status window)
//   shot FILE           save a picture of the box (BMP) before acting
//   click BUTTON        like press, but on a box met earlier (the status
//                       window's Cancel, the folder dialog's OK once its
//                       folder browser is closed): waits until an earlier box
//                       with that button exists and takes input, records it
//                       as it is now, then clicks the button
//   wait FILE           wait until FILE exists, then go on with the next step:
//                       a test's server makes it once the program waits on
//                       it, so that a click that follows acts while the
//                       program is in the middle of a step
// A box that appears when the script has no step left, a step that fails,
// or a program that does not end within the timeout, fails the run: the
// robot ends the program and exits with 2. Otherwise it exits with 0. The
// last line tells how many steps were left unused.

#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct Step {
    std::string verb;
    std::string argument;
    int control = 0;
};

std::vector<Step> LoadScript(const char *path) {
    std::vector<Step> steps;
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return steps;
    char line[1024];
    while (fgets(line, sizeof line, f) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0' || line[0] == '#')
            continue;
        Step step;
        char *space = strchr(line, ' ');
        step.verb.assign(line, space != nullptr ? space - line : strlen(line));
        std::string rest = space != nullptr ? space + 1 : "";
        if (step.verb == "type") {
            step.control = atoi(rest.c_str());
            size_t blank = rest.find(' ');
            step.argument = blank == std::string::npos ? "" : rest.substr(blank + 1);
        } else {
            step.argument = rest;
        }
        steps.push_back(step);
    }
    fclose(f);
    return steps;
}

// A JSON string of text, which is in the ANSI code page: every character
// outside printable ASCII is written as a \u escape, so that the transcript
// is plain ASCII whatever the reader's locale.
std::string Json(const std::string &text) {
    std::wstring wide(text.size(), L'\0');
    int n =
        MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), &wide[0], (int)wide.size());
    wide.resize(n > 0 ? (size_t)n : 0);
    std::string out = "\"";
    for (wchar_t c : wide) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c > 0x7E) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", (unsigned)c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

// WM_GETTEXT, not GetWindowText: for another process's controls the latter
// gives the creation text, not what the control shows now.
std::string WindowText(HWND window) {
    static char text[8192];
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                             &n))
        n = 0;
    return std::string(text, n);
}

std::string ClassOf(HWND window) {
    char name[64];
    int n = GetClassNameA(window, name, sizeof name);
    return std::string(name, n > 0 ? n : 0);
}

std::string StripAmpersand(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '&')
            out += c;
    return out;
}

struct Box {
    HWND window;
    std::string caption, text, owner, icon;
    bool owned = false;  // owner is the text of the box's owner window
    std::vector<std::string> buttons;
    std::vector<std::pair<int, std::string>> fields;  // edit controls
    std::vector<HWND> controls;                       // every visible child
    HWND iconControl = nullptr;

    bool SameContents(const Box &other) const {
        return caption == other.caption && text == other.text && owned == other.owned &&
               owner == other.owner && buttons == other.buttons && fields == other.fields &&
               controls == other.controls;
    }
};

// Pixels of a width x height area, as 32-bit rows. With an icon, the area is
// filled with the background colour and the icon drawn on it; without one,
// the pixels are copied from the screen at (x, y).
std::vector<unsigned char> Pixels(int x, int y, int width, int height, HICON icon,
                                  COLORREF background) {
    std::vector<unsigned char> pixels((size_t)width * height * 4);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (icon != nullptr) {
        HBRUSH brush = CreateSolidBrush(background);
        RECT all = {0, 0, width, height};
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
    } else {
        BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
    }
    SelectObject(memory, old);
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    GetDIBits(memory, bitmap, 0, height, pixels.data(), &header, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The nearest of the system's icons to what the screen shows in rect, drawn
// on the same background; null while the area is still blank.
const char *NearestIcon(const RECT &r) {
    int width = r.right - r.left, height = r.bottom - r.top;
    std::vector<unsigned char> shown = Pixels(r.left, r.top, width, height, nullptr, 0);
    bool blank = true;
    for (size_t k = 4; k < shown.size() && blank; k++)
        blank = shown[k] == shown[k % 4];
    if (blank)
        return nullptr;
    HDC screen = GetDC(nullptr);
    COLORREF background = GetPixel(screen, r.left + width - 1, r.top + height - 1);
    ReleaseDC(nullptr, screen);
    struct {
        LPCSTR id;
        const char *name;
    } icons[] = {
        {IDI_INFORMATION, "information"},
        {IDI_QUESTION, "question"},
        {IDI_ERROR, "error"},
        {IDI_WARNING, "warning"},
    };
    const char *nearest = "other";
    double best = 1e300;
    for (const auto &i : icons) {
        std::vector<unsigned char> candidate =
            Pixels(0, 0, width, height, LoadIconA(nullptr, i.id), background);
        double distance = 0;
        for (size_t k = 0; k < shown.size(); k++)
            distance += abs((int)shown[k] - (int)candidate[k]);
        if (distance < best) {
            best = distance;
            nearest = i.name;
        }
    }
    return nearest;
}

// Icon handles belong to their process, so the box's icon is told by what
// the screen shows. A box may still be painting, late on a busy machine: the
// answer counts once two looks in a row agree, looking for at most
// kIconBoundMs.
constexpr DWORD kIconBoundMs = 10000;

const char *IconName(HWND iconControl) {
    if (SendMessageA(iconControl, STM_GETICON, 0, 0) == 0)
        return "none";
    RECT r;
    GetWindowRect(iconControl, &r);
    if (r.right <= r.left || r.bottom <= r.top)
        return "other";
    const char *previous = nullptr;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kIconBoundMs) {
        const char *now = NearestIcon(r);
        if (now != nullptr && previous != nullptr && strcmp(now, previous) == 0)
            return now;
        previous = now;
        Sleep(50);
    }
    return previous != nullptr ? previous : "other";
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
    Box *box = (Box *)param;
    std::string cls = ClassOf(child);
    int id = GetDlgCtrlID(child);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (!IsWindowVisible(child))
        return TRUE;
    box->controls.push_back(child);
    if (cls == "Button") {
        box->buttons.push_back(StripAmpersand(WindowText(child)));
    } else if (cls == "Edit") {
        box->fields.push_back({id, WindowText(child)});
    } else if (cls == "Static") {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            box->iconControl = child;
        } else {
            std::string text = WindowText(child);
            if (!text.empty())
                box->text += (box->text.empty() ? "" : "\n") + text;
        }
    }
    return TRUE;
}

Box ReadOnce(HWND window) {
    Box box;
    box.window = window;
    box.caption = WindowText(window);
    HWND owner = GetWindow(window, GW_OWNER);
    box.owned = owner != nullptr;
    box.owner = box.owned ? WindowText(owner) : "";
    EnumChildWindows(window, CollectChild, (LPARAM)&box);
    return box;
}

constexpr DWORD kPollMs = 20;     // between two looks at a window
constexpr int kSettledReads = 3;  // equal reads in a row that count as settled
constexpr DWORD kSettleBoundMs = 3000;

// The box once its controls and texts are the same in kSettledReads reads
// in a row, or as it is after kSettleBoundMs; its icon is told last.
Box Describe(HWND window) {
    Box box = ReadOnce(window);
    int same = 1;
    DWORD start = GetTickCount();
    while (same < kSettledReads && GetTickCount() - start < kSettleBoundMs) {
        Sleep(kPollMs);
        Box now = ReadOnce(window);
        same = now.SameContents(box) ? same + 1 : 1;
        box = now;
    }
    box.icon = box.iconControl != nullptr ? IconName(box.iconControl) : "none";
    return box;
}

DWORD programStart;

std::string Elapsed() {
    return ", \"ms\": " + std::to_string(GetTickCount() - programStart);
}

void PrintBox(const Box &box, const char *extra) {
    // The owner as described: a box that was pressed may be gone by now.
    std::string line = "{\"caption\": " + Json(box.caption) + ", \"text\": " + Json(box.text) +
                       ", \"owner\": " + (box.owned ? Json(box.owner) : "null") +
                       ", \"icon\": " + Json(box.icon) + ", \"buttons\": [";
    for (size_t i = 0; i < box.buttons.size(); i++)
        line += (i ? ", " : "") + Json(box.buttons[i]);
    line += "], \"fields\": {";
    for (size_t i = 0; i < box.fields.size(); i++)
        line += (i ? ", \"" : "\"") + std::to_string(box.fields[i].first) +
                "\": " + Json(box.fields[i].second);
    line += "}";
    line += extra;
    line += Elapsed() + "}";
    printf("%s\n", line.c_str());
    fflush(stdout);
}

struct Search {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    Search *search = (Search *)param;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsWindowVisible(window) && ClassOf(window) == "#32770")
        search->found.push_back(window);
    return TRUE;
}

HWND FindButton(HWND box, const std::string &text) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        if (ClassOf(child) == "Button" && StripAmpersand(WindowText(child)) == text)
            return child;
    return nullptr;
}

bool Press(HWND box, const std::string &text) {
    HWND button = FindButton(box, text);
    if (button == nullptr)
        return false;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), (LPARAM)button);
    return true;
}

// SendMessage with a bound, for windows of another process; 0 on timeout.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result))
        return 0;
    return (LRESULT)result;
}

// The text of a tree view item. The tree view belongs to another process, so
// the item structure it fills, and the text buffer it points to, are placed
// in that process's memory and read back.
std::string TreeItemText(HANDLE process, HWND tree, HTREEITEM item) {
    struct Remote {
        TVITEMA item;
        char text[MAX_PATH];
    };
    Remote *remote =
        (Remote *)VirtualAllocEx(process, nullptr, sizeof(Remote), MEM_COMMIT, PAGE_READWRITE);
    if (remote == nullptr)
        return "";
    TVITEMA request = {};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = remote->text;
    request.cchTextMax = sizeof remote->text;
    Remote answer;
    std::string text;
    if (WriteProcessMemory(process, &remote->item, &request, sizeof request, nullptr) &&
        Send(tree, TVM_GETITEMA, 0, (LPARAM)&remote->item) &&
        ReadProcessMemory(process, remote, &answer, sizeof answer, nullptr)) {
        answer.text[sizeof answer.text - 1] = '\0';
        text = answer.text;
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return text;
}

std::string Trimmed(const std::string &text) {
    size_t first = text.find_first_not_of(' ');
    size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The child of parent (a top-level item when parent is null) labelled
// label, blanks around either label aside (a drive without a volume label
// shows as " (C:)"), or null; labels lists every label met, for the error.
HTREEITEM FindTreeItem(HANDLE process, HWND tree, HTREEITEM parent, const std::string &label,
                       std::string *labels) {
    HTREEITEM item =
        (HTREEITEM)Send(tree, TVM_GETNEXTITEM, parent ? TVGN_CHILD : TVGN_ROOT, (LPARAM)parent);
    for (; item != nullptr;
         item = (HTREEITEM)Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item)) {
        std::string text = Trimmed(TreeItemText(process, tree, item));
        if (text == Trimmed(label))
            return item;
        *labels += (labels->empty() ? "" : ", ") + text;
    }
    return nullptr;
}

// Expands the items named by path's labels (separated by backslashes) from
// a top-level item down, as a user opening them would, and selects the
// last; the browser fills an item's children when it expands. Gives "" or
// what went wrong.
std::string ChooseTreeItem(HANDLE process, HWND box, const std::string &path) {
    HWND tree = FindWindowExA(box, nullptr, WC_TREEVIEWA, nullptr);
    if (tree == nullptr)
        return "no tree view";
    HTREEITEM item = nullptr;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        std::string label = path.substr(start, end - start), labels;
        if (item != nullptr)
            Send(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)item);
        HTREEITEM child = FindTreeItem(process, tree, item, label, &labels);
        if (child == nullptr)
            return "no item " + label + " among: " + labels;
        item = child;
        start = end + 1;
    }
    Send(tree, TVM_ENSUREVISIBLE, 0, (LPARAM)item);
    return Send(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item) ? "" : "cannot select " + path;
}

// Waits until the box's text contains text, polling, until the deadline
// (a GetTickCount value); gives whether it did.
bool AwaitText(HWND box, const std::string &text, DWORD deadline) {
    while (ReadOnce(box).text.find(text) == std::string::npos) {
        if (!IsWindow(box) || (LONG)(GetTickCount() - deadline) > 0)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

// Saves the box's screen area as a 32-bit BMP file.
void Shoot(HWND box, const std::string &path) {
    RECT r;
    GetWindowRect(box, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return;
    std::vector<unsigned char> pixels = Pixels(r.left, r.top, width, height, nullptr, 0);
    // The screen gives no alpha; viewers would take the zero bytes as clear.
    for (size_t k = 3; k < pixels.size(); k += 4)
        pixels[k] = 255;
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + (DWORD)pixels.size();
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return;
    fwrite(&header, sizeof header, 1, f);
    fwrite(&info, sizeof info, 1, f);
    fwrite(pixels.data(), pixels.size(), 1, f);
    fclose(f);
}

bool Contains(const std::vector<HWND> &windows, HWND window) {
    for (HWND w : windows)
        if (w == window)
            return true;
    return false;
}

std::string CommandLine(int argc, char **argv, int first) {
    std::string line;
    for (int i = first; i < argc; i++) {
        if (!line.empty())
            line += ' ';
        bool quote = argv[i][0] == '\0' || strpbrk(argv[i], " \t") != nullptr;
        line += quote ? "\"" + std::string(argv[i]) + "\"" : argv[i];
    }
    return line;
}

}  // namespace

int main(int argc, char **argv) {
    int timeoutSeconds = 60, arg = 1;
    if (arg + 1 < argc && strcmp(argv[arg], "--timeout") == 0) {
        timeoutSeconds = atoi(argv[arg + 1]);
        arg += 2;
    }
    if (arg + 2 >= argc || strcmp(argv[arg + 1], "--") != 0) {
        fprintf(stderr, "usage: robot [--timeout SECONDS] SCRIPT -- PROGRAM [ARGUMENTS...]\n");
        return 64;
    }
    std::vector<Step> steps = LoadScript(argv[arg]);
    std::string command = CommandLine(argc, argv, arg + 2);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    std::vector<char> commandBuffer(command.begin(), command.end());
    commandBuffer.push_back('\0');
    if (!CreateProcessA(nullptr, commandBuffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        printf("{\"error\": \"cannot start program\", \"code\": %lu}\n", GetLastError());
        return 2;
    }
    programStart = GetTickCount();

    std::vector<HWND> seen;
    std::vector<Box> boxes;
    size_t next = 0;
    bool failed = false;
    DWORD deadline = GetTickCount() + timeoutSeconds * 1000;
    while (WaitForSingleObject(child.hProcess, 20) == WAIT_TIMEOUT) {
        if ((LONG)(GetTickCount() - deadline) > 0) {
            printf("{\"error\": \"timeout\"}\n");
            failed = true;
            break;
        }
        if (next < steps.size() && steps[next].verb == "wait") {
            if (GetFileAttributesA(steps[next].argument.c_str()) != INVALID_FILE_ATTRIBUTES)
                next++;
            continue;
        }
        // A "click" step acts on a box met earlier, once it takes input
        // again (a box is disabled while a modal box it owns is up).
        if (next < steps.size() && steps[next].verb == "click") {
            const std::string &button = steps[next].argument;
            for (const Box &box : boxes)
                if (IsWindow(box.window) && IsWindowEnabled(box.window) &&
                    FindButton(box.window, button) != nullptr) {
                    PrintBox(Describe(box.window), (", \"clicked\": " + Json(button)).c_str());
                    Press(box.window, button);
                    next++;
                    break;
                }
            continue;
        }
        Search search = {child.dwProcessId, {}};
        EnumWindows(CollectTopLevel, (LPARAM)&search);
        // Several new boxes may be up at once (a window and an error box it
        // owns): take them in the order they came, owners first.
        std::vector<HWND> unseen;
        for (HWND w : search.found)
            if (!Contains(seen, w))
                unseen.push_back(w);
        HWND fresh = nullptr;
        for (HWND w : unseen)
            if (!Contains(unseen, GetWindow(w, GW_OWNER))) {
                fresh = w;
                break;
            }
        if (fresh == nullptr)
            continue;
        seen.push_back(fresh);
        Box box = Describe(fresh);
        boxes.push_back(box);
        if (next >= steps.size()) {
            PrintBox(box, ", \"unexpected\": true");
            failed = true;
            break;
        }
        std::string result;
        while (next < steps.size()) {
            const Step &step = steps[next++];
            if (step.verb == "await") {
                if (!AwaitText(fresh, step.argument, deadline)) {
                    result += ", \"error\": " + Json("no text " + step.argument);
                    failed = true;
                    break;
                }
            } else if (step.verb == "choose") {
                std::string error = ChooseTreeItem(child.hProcess, fresh, step.argument);
                result += ", \"chose\": " + Json(step.argument);
                if (!error.empty()) {
                    result += ", \"error\": " + Json(error);
                    failed = true;
                    break;
                }
            } else if (step.verb == "shot") {
                Shoot(fresh, step.argument);
            } else if (step.verb == "type") {
                SetDlgItemTextA(fresh, step.control, step.argument.c_str());
                result += ", \"typed\": " + Json(step.argument);
            } else if (step.verb == "leave") {
                result += ", \"left\": true";
                break;
            } else if (step.verb == "press") {
                if (!Press(fresh, step.argument)) {
                    result += ", \"error\": \"no button " + step.argument + "\"";
                    failed = true;
                }
                result += ", \"pressed\": " + Json(step.argument);
                break;
            } else {
                result += ", \"error\": \"bad step " + step.verb + "\"";
                failed = true;
                break;
            }
        }
        PrintBox(box, result.c_str());
        if (failed)
            break;
    }
    if (failed) {
        TerminateProcess(child.hProcess, 99);
        WaitForSingleObject(child.hProcess, 5000);
    }
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    printf("{\"exit\": %lu, \"unused_steps\": %u%s}\n", code, (unsigned)(steps.size() - next),
           Elapsed().c_str());
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return failed ? 2 : 0;
}
