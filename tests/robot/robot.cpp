// The UI robot: starts a program, answers each top-level dialog or message
// box it shows (window class "#32770") by a script, and writes a transcript
// of every box it met (caption, text, owner, buttons, icon) as JSON lines on
// its standard output, ending with the program's exit code. Each line has
// "ms", the milliseconds since the program started, taken once the robot
// has acted on it.
//
//   robot [--timeout SECONDS] SCRIPT -- PROGRAM [ARGUMENTS...]
//
// The script has one step per box, in the order the boxes appear:
//   press BUTTON        click the button whose text is BUTTON (OK, Yes, ...)
//   type ID TEXT        set the text of control ID, then wait for the next
//                       step line (usually a press) for the same box
//   leave               record the box and leave it open (the status window)
//   pause MS            wait before the next action on this box
//   shot FILE           save a picture of the box (BMP) before acting
//   click BUTTON        like press, but on a box met earlier (the status
//                       window's Cancel, say): waits until the earlier box
//                       with that button exists, then clicks it
//   sleep MS            wait, then go on with the next step (before a click,
//                       to act while the program is in the middle of a step)
// A box that appears when the script has no step left, or a program that
// does not end within the timeout, fails the run: the robot ends the program
// and exits with 2. Otherwise it exits with 0.

#include <windows.h>
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

std::string Json(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
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
    std::vector<std::string> buttons;
    std::vector<std::pair<int, std::string>> fields;  // edit controls
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
// the screen shows. A box may still be painting: the answer counts once two
// looks in a row agree.
const char *IconName(HWND iconControl) {
    if (SendMessageA(iconControl, STM_GETICON, 0, 0) == 0)
        return "none";
    RECT r;
    GetWindowRect(iconControl, &r);
    if (r.right <= r.left || r.bottom <= r.top)
        return "other";
    const char *previous = nullptr;
    for (int look = 0; look < 40; look++) {
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
    if (cls == "Button") {
        box->buttons.push_back(StripAmpersand(WindowText(child)));
    } else if (cls == "Edit") {
        box->fields.push_back({id, WindowText(child)});
    } else if (cls == "Static") {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            box->icon = IconName(child);
        } else {
            std::string text = WindowText(child);
            if (!text.empty())
                box->text += (box->text.empty() ? "" : "\n") + text;
        }
    }
    return TRUE;
}

Box Describe(HWND window) {
    Box box;
    box.window = window;
    box.caption = WindowText(window);
    box.icon = "none";
    HWND owner = GetWindow(window, GW_OWNER);
    box.owner = owner != nullptr ? WindowText(owner) : "";
    EnumChildWindows(window, CollectChild, (LPARAM)&box);
    return box;
}

DWORD programStart;

std::string Elapsed() {
    return ", \"ms\": " + std::to_string(GetTickCount() - programStart);
}

void PrintBox(const Box &box, const char *extra) {
    std::string line =
        "{\"caption\": " + Json(box.caption) + ", \"text\": " + Json(box.text) +
        ", \"owner\": " + (GetWindow(box.window, GW_OWNER) != nullptr ? Json(box.owner) : "null") +
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
        if (next < steps.size() && steps[next].verb == "sleep") {
            Sleep(atoi(steps[next++].argument.c_str()));
            continue;
        }
        // A "click" step acts on a box met earlier.
        if (next < steps.size() && steps[next].verb == "click") {
            for (const Box &box : boxes)
                if (IsWindow(box.window) && Press(box.window, steps[next].argument)) {
                    printf("{\"clicked\": %s%s}\n", Json(steps[next].argument).c_str(),
                           Elapsed().c_str());
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
        // Give the box a moment to fill its controls before reading them.
        Sleep(100);
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
            if (step.verb == "pause") {
                Sleep(atoi(step.argument.c_str()));
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
