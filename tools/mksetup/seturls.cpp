// mksetup set-urls: points an installer at other servers by rewriting
// string table entries 121 and 122, keeping everything else.
#include <string.h>

#include <string>
#include <vector>

#include "tools/mksetup/baseurl.h"
#include "tools/mksetup/commands.h"
#include "tools/mksetup/installer.h"
#include "tools/mksetup/stringtable.h"
#include "tools/mksetup/platform.h"
#include "setup/description.h"
#include "setup/updaterules.h"

namespace {

const char kUsage[] =
    "usage: mksetup set-urls INSTALLER [--http URL] [--ftp URL] [-o OUT.exe] [--strip-signature]";

struct SetUrlsOptions {
    std::string installer, output, http, ftp;
    bool setHttp = false, setFtp = false, stripSignature = false;
};

int32_t ParseOptions(int argc, char **argv, SetUrlsOptions *options) {
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--strip-signature") {
            options->stripSignature = true;
        } else if (arg == "--http" && i + 1 < argc) {
            options->http = argv[++i];
            options->setHttp = true;
        } else if (arg == "--ftp" && i + 1 < argc) {
            options->ftp = argv[++i];
            options->setFtp = true;
        } else if (arg == "-o" && i + 1 < argc) {
            options->output = argv[++i];
        } else if (arg[0] != '-' && options->installer.empty()) {
            options->installer = arg;
        } else {
            return Fail("%s: unknown option or missing value\n%s", arg.c_str(), kUsage);
        }
    }
    if (options->installer.empty())
        return Fail("%s", kUsage);
    // An empty URL removes the entry: the installer then uses its default.
    if ((!options->http.empty() && CheckBaseUrl("--http", options->http, "http") < 0) ||
        (!options->ftp.empty() && CheckBaseUrl("--ftp", options->ftp, "ftp") < 0))
        return -1;
    if (options->output.empty())
        options->output = options->installer;
    return 0;
}

// Whether the installer's description installs the packager's updater.
bool InstallsUpdater(const Installer &installer) {
    std::string text = installer.description;
    LineCursor cursor = {&text[0], (uint32_t)text.size(), 0};
    for (char *line = NextLine(&cursor); line != nullptr; line = NextLine(&cursor)) {
        InstallLine install;
        if (line[0] == 'I' && ParseInstallLine(line + 1, &install) == 0 &&
            strcmp(install.fileName, kUpdaterFileName) == 0)
            return true;
    }
    return false;
}

int32_t SetUrls(const SetUrlsOptions &options) {
    Installer installer;
    if (OpenInstaller(options.installer, &installer) < 0)
        return -1;
    // The updater's URLs are part of its bytes, so of its digest, of the
    // description and of the installer's entry 123: such an installer is
    // built again instead.
    if (InstallsUpdater(installer))
        return Fail(
            "%s: carries an updater (%s), which holds the URLs too; build the installer again "
            "with the new --http and --ftp",
            options.installer.c_str(), kUpdaterFileName);
    if (installer.image.certificateSize != 0 && !options.stripSignature)
        return Fail(
            "%s: carries an Authenticode signature, which new URLs would break; give "
            "--strip-signature to drop it, then sign the result again",
            options.installer.c_str());
    if (options.setHttp)
        installer.entries[kHttpEntry - kStringBlockFirst] = options.http;
    if (options.setFtp)
        installer.entries[kFtpEntry - kStringBlockFirst] = options.ftp;
    std::vector<unsigned char> block = EncodeStringBlock(installer.entries);

    // Everything is written again in the same order; only the string table
    // block changes.
    std::vector<Resource> layout = installer.resources;
    size_t blockIndex = 0;
    for (size_t i = 0; i < layout.size(); i++)
        if (layout[i].type.text.empty() && layout[i].type.id == kRtString &&
            layout[i].name.text.empty() && layout[i].name.id == kStringBlock) {
            blockIndex = i;
            layout[i].size = (uint32_t)block.size();
        }
    ImageWriter writer;
    if (writer.Begin(installer.input, installer.image, layout,
                     installer.image.fileAlignment >= 4096, options.output) < 0)
        return -1;
    for (size_t i = 0; i < layout.size(); i++) {
        int32_t status =
            i == blockIndex
                ? (writer.Write(block.data(), (uint32_t)block.size()) < 0 ? -1
                                                                          : writer.EndResource())
                : CopyResource(installer.input, installer.resources[i], &writer);
        if (status < 0)
            return -1;
    }
    // The input may be the output: it is closed before the rename.
    fclose(installer.input.file);
    installer.input.file = nullptr;
    return writer.Finish();
}

}  // namespace

int RunSetUrls(int argc, char **argv) {
    CatchInterrupts();
    SetUrlsOptions options;
    if (ParseOptions(argc, argv, &options) < 0)
        return 2;
    return SetUrls(options) < 0 ? 1 : 0;
}
