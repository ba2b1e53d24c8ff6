// mksetup build: a template and its files into an installer (and a mirror).
#include <inttypes.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "setup/baseurls.h"
#include "setup/description.h"
#include "setup/updaterules.h"
#include "tools/mksetup/codepage.h"
#include "tools/mksetup/baseurl.h"
#include "tools/mksetup/commands.h"
#include "tools/mksetup/installer.h"
#include "tools/mksetup/latestfile.h"
#include "tools/mksetup/listing.h"
#include "tools/mksetup/placeholders.h"
#include "tools/mksetup/stringtable.h"
#include "tools/mksetup/platform.h"
#include "tools/mksetup/progress.h"
#include "tools/mksetup/template.h"
#include "tools/mksetup/updater.h"
#include "wfs/sha1.h"

namespace {

enum { kChunk = 1 << 20 };

// Installers carrying more than this are aligned for mapping (pewriter.h).
const uint64_t kPageAlignAbove = 1 << 20;

struct BuildOptions {
    std::string templatePath, output, payloads, http, ftp, mirror;
    std::string updaterKeyFile;  // --updater, or release's --key
    std::string signingKeyFile;  // release's --key
    std::string carry = "all";
    int codePage = 1252;
    Arch arch = kArchX86;
    Defines defines;
    bool quiet = false, strict = false;
};

const char kUsage[] =
    "usage: mksetup build TEMPLATE -o OUT.exe [--payloads DIR] [--carry all|none|PATH[,PATH...]]\n"
    "                     [--http URL] [--ftp URL] [--mirror DIR] [--codepage N] [--arch x86|x64]\n"
    "                     [--define NAME=VALUE]... [--updater PUBFILE] [--strict] [--quiet]";

const char kReleaseUsage[] =
    "usage: mksetup release TEMPLATE --key KEYFILE --mirror DIR -o OUT.exe [build options]";

// The value of an option that takes one.
int32_t ParseValueOption(const std::string &name, const std::string &value, BuildOptions *options) {
    std::string *text = name == "-o"           ? &options->output
                        : name == "--payloads" ? &options->payloads
                        : name == "--carry"    ? &options->carry
                        : name == "--http"     ? &options->http
                        : name == "--ftp"      ? &options->ftp
                        : name == "--mirror"   ? &options->mirror
                        : name == "--updater"  ? &options->updaterKeyFile
                        : name == "--key"      ? &options->signingKeyFile
                                               : nullptr;
    if (text != nullptr) {
        *text = value;
    } else if (name == "--codepage") {
        char *end;
        options->codePage = (int)strtol(value.c_str(), &end, 10);
        if (*end == '\0' && IsDoubleByteCodePage(options->codePage))
            return Fail(
                "--codepage %s: a double-byte code page, whose second bytes can be '\\', which "
                "the installer takes for a folder separator in folder and file names",
                value.c_str());
        if (*end != '\0' || value.empty() || !IsKnownCodePage(options->codePage))
            return Fail("--codepage %s: unknown code page (%s are known)", value.c_str(),
                        KnownCodePages().c_str());
    } else if (name == "--arch") {
        if (value != "x86" && value != "x64")
            return Fail("--arch %s: unknown architecture (x86 or x64)", value.c_str());
        options->arch = value == "x64" ? kArchX64 : kArchX86;
    } else {  // --define
        size_t equals = value.find('=');
        if (equals == std::string::npos || equals == 0)
            return Fail("--define %s: not of the form NAME=VALUE", value.c_str());
        options->defines[value.substr(0, equals)] = value.substr(equals + 1);
    }
    return 0;
}

// release takes build's options and --key.
int32_t ParseOptions(int argc, char **argv, bool release, BuildOptions *options) {
    static const char *const kValueOptions[] = {"-o",       "--payloads", "--carry",    "--http",
                                                "--ftp",    "--mirror",   "--codepage", "--arch",
                                                "--define", "--updater",  "--key"};
    const char *usage = release ? kReleaseUsage : kUsage;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        bool takesValue =
            std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                         [&](const char *o) { return arg == o; }) != std::end(kValueOptions) &&
            (arg != "--key" || release);
        if (takesValue && i + 1 < argc) {
            if (ParseValueOption(arg, argv[++i], options) < 0)
                return -1;
        } else if (arg == "--quiet" || arg == "--strict") {
            (arg == "--quiet" ? options->quiet : options->strict) = true;
        } else if ((arg[0] != '-' || arg == "-") && options->templatePath.empty()) {
            options->templatePath = arg;
        } else {
            return Fail("%s: unknown option or missing value\n%s", argv[i], usage);
        }
    }
    if (options->templatePath.empty() || options->output.empty() ||
        (release && (options->signingKeyFile.empty() || options->mirror.empty())))
        return Fail("%s", usage);
    // A release's updater checks LATEST against the key that signs it.
    if (release && options->updaterKeyFile.empty())
        options->updaterKeyFile = options->signingKeyFile;
    if ((!options->http.empty() && CheckBaseUrl("--http", options->http, "http") < 0) ||
        (!options->ftp.empty() && CheckBaseUrl("--ftp", options->ftp, "ftp") < 0))
        return -1;
    if (options->payloads.empty()) {
        size_t slash = options->templatePath.find_last_of("/\\");
        options->payloads =
            slash == std::string::npos ? "." : options->templatePath.substr(0, slash);
    }
    return 0;
}

// Which files the installer carries: licences always, payloads per --carry.
int32_t ChooseCarried(const Template &tmpl, const std::string &carry, std::vector<bool> *carried) {
    bool all = carry == "all";
    carried->assign(tmpl.files.size(), all);
    if (all || carry == "none") {
        for (size_t i = 0; i < tmpl.files.size(); i++)
            (*carried)[i] = all || tmpl.files[i].licence;
        return 0;
    }
    for (size_t start = 0; start <= carry.size();) {
        size_t end = carry.find(',', start);
        if (end == std::string::npos)
            end = carry.size();
        std::string path = carry.substr(start, end - start);
        int32_t index = FindFile(tmpl, path);
        if (index < 0)
            return Fail("--carry %s: the template names no such file", path.c_str());
        (*carried)[index] = true;
        start = end + 1;
    }
    for (size_t i = 0; i < tmpl.files.size(); i++)
        (*carried)[i] = (*carried)[i] || tmpl.files[i].licence;
    return 0;
}

// Mirror files are written under temporary names and renamed once the
// installer is complete; whatever is left is removed, and so are the
// folders made for a mirror that was never completed.
struct Mirror {
    std::string folder;
    std::vector<std::string> temporaries, finals, madeFolders;
    bool committed = false;
    ~Mirror() {
        for (const std::string &t : temporaries)
            RemoveFile(t);
        if (!committed)
            for (size_t i = madeFolders.size(); i-- > 0;)
                RemoveEmptyFolder(madeFolders[i]);
    }
    int32_t Open(FILE **file, const std::string &what) {
        std::string path = folder + "/.mksetup-" + std::to_string(temporaries.size()) + ".part";
        *file = OpenFile(path, "wb");
        if (*file == nullptr)
            return Fail("--mirror %s: cannot create the copy of %s: %s", folder.c_str(),
                        what.c_str(), LastSystemError().c_str());
        temporaries.push_back(path);
        finals.push_back("");
        return 0;
    }
    int32_t Commit() {
        for (size_t i = 0; i < temporaries.size(); i++)
            if (RenameOver(temporaries[i], finals[i]) != 0)
                return Fail("%s: cannot rename to %s: %s", temporaries[i].c_str(),
                            finals[i].c_str(), LastSystemError().c_str());
        temporaries.clear();
        committed = true;
        return 0;
    }
};

// Writes bytes to the installer (when carried) and the mirror file (when
// open), hashing them.
struct Sink {
    ImageWriter *writer;  // null when not carried
    FILE *mirror;         // null without --mirror
    const std::string *mirrorFolder;
    std::string what;  // the file's name in messages
    Sha1Context sha1;
    int32_t Write(const void *data, uint32_t count) {
        Sha1Update(&sha1, data, count);
        if (writer != nullptr && writer->Write(data, count) < 0)
            return -1;
        if (mirror != nullptr && fwrite(data, 1, count, mirror) != count)
            return MirrorFailed();
        return 0;
    }
    int32_t MirrorFailed() const {
        return Fail("--mirror %s: cannot write the copy of %s: %s", mirrorFolder->c_str(),
                    what.c_str(), LastSystemError().c_str());
    }
};

// Streams one file (or a licence's text) through a sink and sets its
// digest, checking a ready file's digest against its name.
int32_t PackFile(PackedFile *file, Sink *sink, std::vector<unsigned char> *chunk,
                 Progress *progress) {
    Sha1Init(&sink->sha1);
    if (file->licence) {
        if (sink->Write(file->text.data(), (uint32_t)file->text.size()) < 0)
            return -1;
    } else {
        FILE *in = OpenFile(file->diskPath, "rb");
        if (in == nullptr)
            return Fail("%s: cannot open: %s", file->diskPath.c_str(), LastSystemError().c_str());
        uint64_t done = 0;
        int32_t status = 0;
        while (status == 0 && done < file->size) {
            size_t want = (size_t)std::min<uint64_t>(file->size - done, chunk->size());
            size_t n = fread(chunk->data(), 1, want, in);
            if (Interrupted())
                status = Fail("interrupted; nothing written");
            else if (n != want)
                status = Fail("%s: cannot read (did it change while being packaged?)",
                              file->diskPath.c_str());
            else
                status = sink->Write(chunk->data(), (uint32_t)n);
            done += n;
            progress->Add(n);
        }
        fclose(in);
        if (status < 0)
            return -1;
    }
    Sha1Final(&sink->sha1);
    Digest digest;
    DigestFromHash(&sink->sha1, &digest);
    if (file->ready && !DigestEqual(&digest, &file->digest))
        return Fail("%s: its contents do not match its digest name", file->diskPath.c_str());
    file->digest = digest;
    file->hashed = true;
    return 0;
}

// Placeholder resource names of the right length until digests are known.
ResourceKey PlaceholderName(size_t index) {
    std::string text = std::to_string(index);
    return DigestResourceName(std::string(kDigestNameLength - text.size(), '0') + text);
}

Resource Rcdata(size_t index, uint32_t size) {
    Resource r = {};
    r.type = {DATA_RESOURCE_TYPE, {}};
    r.name = PlaceholderName(index);
    r.size = size;
    return r;
}

std::string NameOf(const Digest &digest) {
    char name[kDigestNameLength + 1];
    DigestToName(&digest, name);
    return name;
}

// An installer that downloads files from the built-in base URLs looks for
// them on the end user's own machine: almost always a forgotten --http.
void WarnAboutBuiltInUrls(const Template &tmpl, const std::vector<bool> &carried,
                          const BuildOptions &options) {
    if (!options.http.empty() || !options.ftp.empty())
        return;
    for (size_t i = 0; i < tmpl.files.size(); i++)
        if (!carried[i] && tmpl.files[i].size != 0) {
            Warn(
                "%s is not carried and neither --http nor --ftp is given: the installer will "
                "download it from the built-in %s and %s, the end user's own machine",
                tmpl.files[i].path.c_str(), kDefaultHttpBase, kDefaultFtpBase);
            return;
        }
}

// Refuses an output that is one of the inputs: the installer would
// replace the publisher's own template or payload.
int32_t CheckOutputIsNew(const Template &tmpl, const std::string &output) {
    if (SameFile(output, tmpl.path))
        return Fail("-o %s: that is the template itself", output.c_str());
    for (const PackedFile &file : tmpl.files)
        if (SameFile(output, file.diskPath))
            return Fail("-o %s: that is the input file %s", output.c_str(), file.diskPath.c_str());
    return 0;
}

// Refuses a payload folder that is none, an output that is a folder and a
// mirror that is a file, by the option that names them.
int32_t CheckOptionPaths(const BuildOptions &options) {
    uint64_t size;
    // The default payload folder is the template's own, which exists when
    // the template does; a missing template is LoadTemplate's to report.
    FileKind payloads = StatPath(options.payloads, &size);
    if (payloads == kUnknownFile)
        return Fail("--payloads %s: %s", options.payloads.c_str(), LastSystemError().c_str());
    if (StatPath(options.templatePath, &size) == kRegularFile && payloads != kFolder)
        return Fail("--payloads %s: no such folder", options.payloads.c_str());
    if (StatPath(options.output, &size) == kFolder)
        return Fail("-o %s: is a folder", options.output.c_str());
    FileKind mirror = options.mirror.empty() ? kNoFile : StatPath(options.mirror, &size);
    if (mirror != kNoFile && mirror != kFolder)
        return Fail("--mirror %s: is a file, not a folder", options.mirror.c_str());
    return 0;
}

// A file of the build's own, removed when the build ends.
struct TemporaryFile {
    std::string path;
    ~TemporaryFile() {
        if (!path.empty())
            RemoveFile(path);
    }
};

// How the updater's file is named in the template's file list. A template
// names its own files first, so this one is found only by its own line.
const char kUpdaterPath[] = "<updater>";

// The text of the description's last line starting with letter, or "".
std::string LastLineText(const std::string &description, char letter) {
    std::string found;
    for (size_t start = 0; start < description.size();) {
        size_t end = description.find('\n', start);
        if (end == std::string::npos)
            end = description.size();
        if (description[start] == letter)
            found = description.substr(start + 1, end - start - 1);
        start = end + 1;
    }
    return found;
}

// Whether the template has an I line that installs a file of that name.
bool InstallsFileNamed(const std::string &description, const char *name) {
    std::string text = description;
    LineCursor cursor = {&text[0], (uint32_t)text.size(), 0};
    for (char *line = NextLine(&cursor); line != nullptr; line = NextLine(&cursor)) {
        InstallLine install;
        if (line[0] == 'I' && ParseInstallLine(line + 1, &install) == 0 &&
            FoldCase(install.fileName) == FoldCase(name))
            return true;
    }
    return false;
}

// --updater: writes the configured updater beside the output and adds it
// to the template as one more payload, installed as update.exe by an I line
// after the template's last I line (or its last F line), so that it lands
// in the product folder.
int32_t AddUpdater(Template *tmpl, const BuildOptions &options, TemporaryFile *file) {
    UpdaterSettings settings;
    std::string description;
    if (LoadUpdaterKey(options.updaterKeyFile, &settings.key) < 0 ||
        FillDescription(*tmpl, &description) < 0)
        return -1;
    if (InstallsFileNamed(description, kUpdaterFileName))
        return Fail("%s: installs a file named %s, which --updater adds", tmpl->path.c_str(),
                    kUpdaterFileName);
    settings.product = LastLineText(description, 'T');
    // Licences are read already; the updater compares a new release's with
    // these.
    for (const PackedFile &file : tmpl->files)
        if (file.licence) {
            Sha1Context sha1;
            Sha1Init(&sha1);
            Sha1Update(&sha1, file.text.data(),
                       (uint32_t)file.text.size());  // a licence: 4095 bytes at most
            Sha1Final(&sha1);
            Digest digest;
            DigestFromHash(&sha1, &digest);
            settings.licences += NameOf(digest);
        }
    settings.http = options.http;
    settings.ftp = options.ftp;
    file->path = options.output + ".updater.part";
    uint64_t size = 0;
    if (WriteUpdater(options.arch, settings, file->path) < 0)
        return -1;
    if (StatPath(file->path, &size) != kRegularFile)
        return Fail("%s: cannot read: %s", file->path.c_str(), LastSystemError().c_str());
    PackedFile packed = {};
    packed.path = kUpdaterPath;
    packed.diskPath = file->path;
    packed.size = size;
    tmpl->files.push_back(packed);
    size_t at = tmpl->lines.size();
    for (char letter : {'F', 'I'})
        for (size_t i = 0; i < tmpl->lines.size(); i++)
            if (!tmpl->lines[i].empty() && tmpl->lines[i][0] == letter)
                at = i + 1;
    std::string line = std::string("I") + kPlaceholderName + kUpdaterPath +
                       "}:" + kPlaceholderSize + kUpdaterPath + "}:" + kUpdaterFileName;
    tmpl->lines.insert(tmpl->lines.begin() + (ptrdiff_t)at, line);
    tmpl->refused.insert(tmpl->refused.begin() + (ptrdiff_t)at, false);
    return 0;
}

// Builds the installer (and the mirror); *descriptionName is set to the
// description's digest name.
int32_t Build(const BuildOptions &options, std::string *descriptionName) {
    Template tmpl;
    std::vector<bool> carried;
    if (CheckOptionPaths(options) < 0 ||
        LoadTemplate(options.templatePath, options.payloads, options.codePage, options.defines,
                     &tmpl) < 0 ||
        CheckOutputIsNew(tmpl, options.output) < 0)
        return -1;
    TemporaryFile updater;
    if ((!options.updaterKeyFile.empty() && AddUpdater(&tmpl, options, &updater) < 0) ||
        ChooseCarried(tmpl, options.carry, &carried) < 0)
        return -1;
    WarnAboutBuiltInUrls(tmpl, carried, options);
    if (StrictWarnings() > 0)
        return Fail("--strict: %d warning%s above, so nothing is written", StrictWarnings(),
                    StrictWarnings() == 1 ? "" : "s");
    Input stub = StubInput(options.arch);
    PeImage image;
    std::vector<Resource> stubResources;
    std::string why;
    if (ReadPeImage(stub, &image, &why) < 0 || ReadResources(stub, image, &stubResources, &why) < 0)
        return Fail("the installer stub is damaged (%s)", why.c_str());

    // Layout: the stub's resources, the carried files, the description, the
    // string table. Empty files are not carried: the installer makes them
    // without any source.
    std::vector<Resource> layout = stubResources;
    std::vector<size_t> slot(tmpl.files.size(), SIZE_MAX);
    uint64_t carriedBytes = 0;
    for (size_t i = 0; i < tmpl.files.size(); i++)
        if (carried[i] && tmpl.files[i].size != 0) {
            slot[i] = layout.size();
            layout.push_back(Rcdata(i, (uint32_t)tmpl.files[i].size));
            carriedBytes += tmpl.files[i].size;
        }
    std::string description;
    if (FillDescription(tmpl, &description) < 0)  // digests still zero: sizes only
        return -1;
    size_t descriptionSlot = layout.size();
    layout.push_back(Rcdata(tmpl.files.size(), (uint32_t)description.size()));
    std::string entries[16];
    entries[kHttpEntry - kStringBlockFirst] = options.http;
    entries[kFtpEntry - kStringBlockFirst] = options.ftp;
    entries[kDescriptionEntry - kStringBlockFirst] = std::string(kDigestNameLength, '0');
    Resource strings = {};
    strings.type = {kRtString, {}};
    strings.name = {kStringBlock, {}};
    strings.size = (uint32_t)EncodeStringBlock(entries).size();
    layout.push_back(strings);

    Mirror mirror;
    mirror.folder = options.mirror;
    if (!options.mirror.empty() && MakeFolders(options.mirror, &mirror.madeFolders) != 0)
        return Fail("%s: cannot create: %s", options.mirror.c_str(), LastSystemError().c_str());
    ImageWriter writer;
    if (writer.Begin(stub, image, layout, carriedBytes > kPageAlignAbove, options.output) < 0)
        return -1;
    for (const Resource &r : stubResources)
        if (CopyResource(stub, r, &writer) < 0)
            return -1;

    std::vector<unsigned char> chunk(kChunk);
    uint64_t total = 0;
    for (const PackedFile &file : tmpl.files)
        total += file.size;
    Progress progress(total, !options.quiet);
    // Every file is read once: hashed, carried and mirrored in one pass.
    auto pack = [&](PackedFile *file, bool carry, const std::string *bytes) -> int32_t {
        Sink sink = {carry ? &writer : nullptr,
                     nullptr,
                     &options.mirror,
                     bytes != nullptr ? std::string("the description") : file->path,
                     {}};
        if (!options.mirror.empty() && mirror.Open(&sink.mirror, sink.what) < 0)
            return -1;
        int32_t status = 0;
        if (bytes != nullptr) {
            Sha1Init(&sink.sha1);
            status = sink.Write(bytes->data(), (uint32_t)bytes->size());
            Sha1Final(&sink.sha1);
            DigestFromHash(&sink.sha1, &file->digest);
        } else {
            status = PackFile(file, &sink, &chunk, &progress);
        }
        if (sink.mirror != nullptr) {
            if (fclose(sink.mirror) != 0 && status == 0)
                status = sink.MirrorFailed();
            mirror.finals.back() = options.mirror + "/" + NameOf(file->digest);
        }
        if (status == 0 && carry)
            status = writer.EndResource();
        return status;
    };
    for (size_t i = 0; i < tmpl.files.size(); i++)
        if (pack(&tmpl.files[i], slot[i] != SIZE_MAX, nullptr) < 0)
            return -1;
    if (FillDescription(tmpl, &description) < 0)
        return -1;
    PackedFile descriptionFile = {};
    if (pack(&descriptionFile, true, &description) < 0)
        return -1;
    *descriptionName = NameOf(descriptionFile.digest);
    entries[kDescriptionEntry - kStringBlockFirst] = *descriptionName;
    std::vector<unsigned char> block = EncodeStringBlock(entries);
    if (writer.Write(block.data(), (uint32_t)block.size()) < 0 || writer.EndResource() < 0)
        return -1;
    for (size_t i = 0; i < tmpl.files.size(); i++)
        if (slot[i] != SIZE_MAX)
            writer.SetName(slot[i], DigestResourceName(NameOf(tmpl.files[i].digest)));
    writer.SetName(descriptionSlot, DigestResourceName(*descriptionName));
    if (writer.Finish() < 0)
        return -1;
    if (mirror.Commit() < 0) {
        RemoveFile(options.output);
        return -1;
    }

    Installer installer;
    if (OpenInstaller(options.output, &installer) < 0)
        return -1;
    if (!options.quiet)
        PrintListing(installer, options.codePage);
    return 0;
}

}  // namespace

int RunBuild(int argc, char **argv) {
    CatchInterrupts();
    BuildOptions options;
    if (ParseOptions(argc, argv, false, &options) < 0)
        return 2;
    SetWarnings(options.quiet, options.strict);
    std::string descriptionName;
    return Build(options, &descriptionName) < 0 ? 1 : 0;
}

int RunRelease(int argc, char **argv) {
    CatchInterrupts();
    BuildOptions options;
    if (ParseOptions(argc, argv, true, &options) < 0)
        return 2;
    SetWarnings(options.quiet, options.strict);
    // LATEST last: the mirror already holds every file it leads to, and it
    // is renamed into place whole.
    std::string descriptionName;
    if (Build(options, &descriptionName) < 0 ||
        WriteSignedLatest(options.signingKeyFile, descriptionName, options.mirror + "/LATEST") < 0)
        return 1;
    return 0;
}
