// Command-line options of the test host.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "testhost/image_mode.h"
#include "testhost/testhost.h"

namespace testhost {

bool parseLong(const std::string& text, long long& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 0);
    return errno == 0 && end != nullptr && *end == '\0';
}

namespace {

struct OptionHelp {
    const char* name;
    const char* arg;
    const char* help;
};

constexpr OptionHelp kOptionHelp[] = {
    {"--plugin", "FILE", "the .8bf to load (also the first bare argument)"},
    {"--input", "FILE.png", "image to filter (default: a 64 x 48 grey ramp)"},
    {"--raw-size", "W,H", "read --input FILE.raw: W x H pixels of --planes samples as held"},
    {"--output", "FILE.png", "write the image after the last run (FILE.raw: samples as held)"},
    {"--planes", "1..8",
     "grey, RGB, or 4 raw planes from an RGBA PNG; any count from raw input (default 3, or by "
     "--mode)"},
    {"--mode", "N", "imageMode to report (default by planes and depth: 1, 3, 4 or 10, 11, 13)"},
    {"--depth", "8|16", "bits per sample (default 8, or by --mode); 16-bit samples are 0..32768"},
    {"--full-scale", "N", "16-bit full intensity: 32768 (default) or 65535 as some hosts hold it"},
    {"--rect", "T,L,B,R", "filter rectangle (default the whole image)"},
    {"--mask", "FILE.png", "grey selection mask, sets haveMask"},
    {"--floating", "", "set isFloating"},
    {"--max-space", "N", "maxSpace in bytes (default 100000000)"},
    {"--host-sig", "ABCD", "hostSig as four characters (default 8BIM)"},
    {"--null-window", "", "pass a null window handle in platformData"},
    {"--no-progress", "", "leave progressProc null"},
    {"--display-pixels", "", "offer displayPixels (records and draws every call)"},
    {"--max-display-records", "N", "displayPixels calls kept in the report (default 2000)"},
    {"--record-size", "N", "bytes of the zeroed FilterRecord buffer (default 452)"},
    {"--record-guard-page", "", "end the record at a no-access page (a read past it crashes)"},
    {"--pad-rows", "N", "extra bytes after every row of inData, outData, maskData"},
    {"--in-from-current", "", "fill inData from the image as written so far"},
    {"--move-buffers", "", "new inData and maskData for every call, old ones poisoned"},
    {"--settings", "K=V,...",
     "20-byte block: angle stretch strength height width centerX "
     "centerY showDialog"},
    {"--params-in", "FILE", "raw parameter block to start with"},
    {"--params-out", "FILE", "write the parameter block after the last run"},
    {"--fresh-params", "", "hand a null parameters handle to every run"},
    {"--ask", "", "call Parameters before Prepare"},
    {"--selectors", "LIST",
     "comma list of about parameters prepare start continue finish "
     "or numbers (sent once, e.g. 6,255,-1)"},
    {"--keep-going", "", "do not end a run at a failing selector"},
    {"--no-finish", "", "skip Finish after a successful run (as some hosts do)"},
    {"--end-on-in-right-zero", "",
     "end the Continue loop once inRect.right is 0 (as some hosts do)"},
    {"--runs", "N", "runs in one process, sharing the parameters handle (default 1)"},
    {"--chain", "", "each run filters the previous run's output"},
    {"--max-calls", "N", "Continue calls allowed per run (default 4*(rows+10)+100000)"},
    {"--log-calls", "", "record the rectangles left by every call"},
    {"--auto-answer", "", "answer the module's message boxes with their default button"},
    {"--instrument", "", "count the module's global blocks and GDI objects"},
    {"--fail-alloc-above", "N", "the module's GlobalAlloc fails above N bytes"},
    {"--fail-alloc-nth", "K", "the module's K-th GlobalAlloc (from 1) fails"},
    {"--register-big-view-first", "", "register class big_view under the module's instance"},
    {"--script", "FILE", "dialog script run by a second thread (see below)"},
    {"--dialog-answer", "ok|cancel", "press OK or Cancel on every Vexel dialog that opens"},
    {"--profile", "NAME", "behave as one kind of host does (see the list below)"},
    {"--ask-first", "", "call Parameters before the first run only"},
    {"--finish-after-success-only", "", "skip Finish after a failed or cancelled run"},
    {"--save-params-after-parameters", "",
     "every run gets a copy of the block as it was right after the last Parameters"},
    {"--alpha-plane", "", "hold an RGB image as 4 planes (alpha 255), imageMode stays RGB"},
    {"--zero-unrequested-planes", "",
     "write back whole output rows from a buffer that starts at 0: planes never requested become "
     "0"},
    {"--ignore-low-plane", "",
     "fill inData from plane 0 and write outData back to plane 0 on, whatever the low planes say"},
    {"--lose-last-row-column", "", "filterRect leaves out the image's last row and column"},
    {"--resolution", "DPI", "imageHRes and imageVRes (default 72)"},
    {"--guard-pages", "", "a no-access page right after every inData, outData, maskData"},
    {"--mask-row-bytes", "N", "declare maskRowBytes N: mask rows N bytes apart, cut to N"},
    {"--null-mask-data", "", "haveMask set but maskData null"},
    {"--fail-dialogs", "K", "the module's dialogs fail from the K-th (from 1) on"},
    {"--fail-message-boxes", "", "the module's message boxes fail (return 0, nothing shown)"},
    {"--play", "FILE", "hand every run the descriptor in FILE (as --record writes it)"},
    {"--play-info", "dont-display|display|silent", "the host's playInfo (default dont-display)"},
    {"--record", "FILE", "offer descriptor procs and write the descriptor a run records"},
    {"--descriptor-fault", "NAME",
     "a broken scripting host: null-parameters no-procs procs-version few-procs "
     "null-descriptor empty-descriptor no-handle-procs"},
    {"--unload-after-run", "", "unload the module after every run, load it again for the next"},
    {"--unload-mid-run", "N",
     "end the first run after N Continue calls, no Finish, and unload the module (what it holds "
     "before and after is reported with --instrument); the next run loads it again"},
    {"--user", "NAME", "act as Windows user NAME: a private HKEY_CURRENT_USER for the module"},
    {"--forget-settings", "", "delete the user's remembered settings before the first run"},
    {"--remembered-value", "[TYPE:]HEX",
     "store these bytes as the remembered settings first (registry type, default 3 binary)"},
    {"--timeout", "S", "give up after S seconds (default 300)"},
    {"--report", "FILE.json", "machine-readable report of everything"},
    {"--quiet", "", "do not print one line per call"},
    {"--help", "", "this text"},
};

// Host kinds as they were seen driving the module, each a set of the options above.
struct Profile {
    const char* name;
    const char* help;
    const char* options[12];
};

constexpr Profile kProfiles[] = {
    {"original",
     "the default: Parameters on request, the handle kept, Finish after every started run",
     {}},
    {"library",
     "an editor's host library: Parameters every run with a null handle, maxSpace 2.1e9, "
     "4 planes for RGB, 96 dpi, Finish only after success, the module unloaded after every run, "
     "every plane range taken as starting at plane 0",
     {"--ask", "--fresh-params", "--max-space=2100000000", "--host-sig=spHO", "--alpha-plane",
      "--resolution=96", "--finish-after-success-only", "--unload-after-run",
      "--ignore-low-plane"}},
    {"filter-host",
     "a filter-host plug-in: host window 0, new buffers every call, maxSpace 100,000,000, no "
     "Finish after success, the block saved right after Parameters, output planes never "
     "requested written back as 0",
     {"--null-window", "--move-buffers", "--max-space=100000000", "--host-sig=GIMP", "--no-finish",
      "--save-params-after-parameters", "--zero-unrequested-planes"}},
    {"short-rect",
     "a host whose filterRect leaves out the last row and column",
     {"--lose-last-row-column"}},
};

bool parseInt(const std::string& text, int& value, long long lo, long long hi) {
    long long v = 0;
    if (!parseLong(text, v) || v < lo || v > hi) return false;
    value = static_cast<int>(v);
    return true;
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        parts.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return parts;
}

bool parseRect(const std::string& text, vexel::HostRect& rect) {
    std::vector<std::string> parts = splitList(text);
    if (parts.size() != 4) return false;
    int v[4];
    for (int i = 0; i < 4; ++i)
        if (!parseInt(parts[static_cast<std::size_t>(i)], v[i], -32768, 32767)) return false;
    rect = {static_cast<std::int16_t>(v[0]), static_cast<std::int16_t>(v[1]),
            static_cast<std::int16_t>(v[2]), static_cast<std::int16_t>(v[3])};
    return true;
}

void putLe(std::array<std::uint8_t, 20>& block, std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        block[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The 20-byte block: int16 centerX, centerY, angle, stretch, strength, height, width,
// 2 reserved bytes, int32 showDialog.
bool parseSettings(const std::string& text, std::array<std::uint8_t, 20>& block) {
    struct Key {
        const char* name;
        std::size_t offset;
        int bytes;
        long long value;
    };
    Key keys[] = {{"centerX", 0, 2, 0},  {"centerY", 2, 2, 0},    {"angle", 4, 2, 0},
                  {"stretch", 6, 2, 20}, {"strength", 8, 2, 50},  {"height", 10, 2, 50},
                  {"width", 12, 2, 50},  {"showDialog", 16, 4, 0}};
    if (!text.empty()) {
        for (const std::string& item : splitList(text)) {
            std::size_t eq = item.find('=');
            if (eq == std::string::npos) return false;
            std::string name = item.substr(0, eq);
            long long value = 0;
            if (!parseLong(item.substr(eq + 1), value)) return false;
            bool found = false;
            for (Key& key : keys) {
                if (name != key.name) continue;
                long long lo = key.bytes == 2 ? -32768 : INT32_MIN;
                long long hi = key.bytes == 2 ? 65535 : 0xFFFFFFFFLL;
                if (value < lo || value > hi) return false;
                key.value = value;
                found = true;
            }
            if (!found) return false;
        }
    }
    block.fill(0);
    for (const Key& key : keys)
        putLe(block, key.offset, static_cast<std::uint32_t>(key.value & 0xFFFFFFFFLL), key.bytes);
    return true;
}

// [TYPE:]HEX: a registry value type and the value's bytes.
bool parseRememberedValue(const std::string& text, Options& opt) {
    std::string hex = text;
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        long long type = 0;
        if (!parseLong(text.substr(0, colon), type) || type < 0 || type > 11) return false;
        opt.rememberedType = static_cast<DWORD>(type);
        hex = text.substr(colon + 1);
    }
    if (hex.size() % 2 != 0) return false;
    opt.rememberedValue.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        long long byte = 0;
        if (!parseLong("0x" + hex.substr(i, 2), byte)) return false;
        opt.rememberedValue.push_back(static_cast<std::uint8_t>(byte));
    }
    opt.haveRememberedValue = true;
    return true;
}

bool parseSelectors(const std::string& text, std::vector<SelectorStep>& steps) {
    static const char* const names[] = {"about", "parameters", "prepare",
                                        "start", "continue",   "finish"};
    for (const std::string& item : splitList(text)) {
        SelectorStep step;
        bool named = false;
        for (int i = 0; i < 6; ++i) {
            if (item == names[i]) {
                step.name = item;
                step.code = static_cast<std::int16_t>(i);
                named = true;
            }
        }
        if (!named) {
            long long v = 0;
            if (!parseLong(item, v) || v < -32768 || v > 65535) return false;
            step.code = static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF));
            step.name = std::to_string(step.code);
            step.raw = true;
        }
        steps.push_back(step);
    }
    return !steps.empty();
}

bool takesValue(const char* name) {
    for (const OptionHelp& o : kOptionHelp)
        if (std::strcmp(o.name, name) == 0) return o.arg[0] != '\0';
    return false;
}

bool known(const char* name) {
    for (const OptionHelp& o : kOptionHelp)
        if (std::strcmp(o.name, name) == 0) return true;
    return false;
}

bool applyProfile(const std::string& name, Options& opt);

bool applyOption(const std::string& name, const std::string& value, Options& opt) {
    long long n = 0;
    if (name == "--plugin")
        opt.plugin = value;
    else if (name == "--input")
        opt.input = value;
    else if (name == "--output")
        opt.output = value;
    else if (name == "--planes") {
        opt.havePlanes = true;
        return parseInt(value, opt.planes, 1, 8);
    } else if (name == "--mode") {
        opt.haveMode = true;
        return parseInt(value, opt.mode, -32768, 32767);
    } else if (name == "--depth") {
        opt.haveDepth = true;
        return parseInt(value, opt.depth, 8, 16) && (opt.depth == 8 || opt.depth == 16);
    } else if (name == "--full-scale") {
        return parseInt(value, opt.fullScale, 1, 65535);
    } else if (name == "--rect") {
        opt.haveRect = true;
        return parseRect(value, opt.rect);
    } else if (name == "--mask")
        opt.mask = value;
    else if (name == "--floating")
        opt.floating = true;
    else if (name == "--max-space") {
        if (!parseLong(value, n) || n < INT32_MIN || n > INT32_MAX) return false;
        opt.maxSpace = static_cast<std::int32_t>(n);
    } else if (name == "--host-sig") {
        if (value.size() != 4) return false;
        opt.hostSig = 0;
        for (char c : value)
            opt.hostSig = (opt.hostSig << 8) | static_cast<std::uint8_t>(c);
    } else if (name == "--null-window")
        opt.nullWindow = true;
    else if (name == "--no-progress")
        opt.noProgress = true;
    else if (name == "--record-guard-page")
        opt.recordGuardPage = true;
    else if (name == "--display-pixels")
        opt.displayPixels = true;
    else if (name == "--max-display-records")
        return parseInt(value, opt.maxDisplayRecords, 0, 10000000);
    else if (name == "--record-size")
        return parseInt(value, opt.recordSize, sizeof(vexel::FilterRecord), 1 << 20);
    else if (name == "--pad-rows")
        return parseInt(value, opt.padRows, 0, 1 << 20);
    else if (name == "--in-from-current")
        opt.inFromCurrent = true;
    else if (name == "--move-buffers")
        opt.moveBuffers = true;
    else if (name == "--no-finish")
        opt.noFinish = true;
    else if (name == "--end-on-in-right-zero")
        opt.endOnInRightZero = true;
    else if (name == "--dialog-answer") {
        opt.dialogAnswer = value;
        return value == "ok" || value == "cancel";
    } else if (name == "--settings") {
        opt.haveSettings = true;
        return parseSettings(value, opt.settings);
    } else if (name == "--params-in")
        opt.paramsIn = value;
    else if (name == "--params-out")
        opt.paramsOut = value;
    else if (name == "--fresh-params")
        opt.freshParams = true;
    else if (name == "--ask")
        opt.ask = true;
    else if (name == "--selectors") {
        opt.haveSelectors = true;
        return parseSelectors(value, opt.selectors);
    } else if (name == "--keep-going")
        opt.keepGoing = true;
    else if (name == "--runs")
        return parseInt(value, opt.runs, 0, 1000000);
    else if (name == "--chain")
        opt.chain = true;
    else if (name == "--max-calls")
        return parseLong(value, opt.maxCalls) && opt.maxCalls >= 0;
    else if (name == "--log-calls")
        opt.logCalls = true;
    else if (name == "--auto-answer")
        opt.autoAnswer = true;
    else if (name == "--instrument")
        opt.instrument = true;
    else if (name == "--fail-alloc-above")
        return parseLong(value, opt.failAllocAbove) && opt.failAllocAbove >= 0;
    else if (name == "--fail-alloc-nth")
        return parseLong(value, opt.failAllocNth) && opt.failAllocNth >= 1;
    else if (name == "--register-big-view-first")
        opt.registerBigViewFirst = true;
    else if (name == "--script")
        opt.script = value;
    else if (name == "--profile")
        return applyProfile(value, opt);
    else if (name == "--ask-first")
        opt.askFirst = true;
    else if (name == "--finish-after-success-only")
        opt.finishAfterSuccessOnly = true;
    else if (name == "--save-params-after-parameters")
        opt.saveParamsAfterParameters = true;
    else if (name == "--alpha-plane")
        opt.alphaPlane = true;
    else if (name == "--zero-unrequested-planes")
        opt.zeroUnrequestedPlanes = true;
    else if (name == "--ignore-low-plane")
        opt.ignoreLowPlane = true;
    else if (name == "--raw-size") {
        const std::vector<std::string> parts = splitList(value);
        return parts.size() == 2 && parseInt(parts[0], opt.rawWidth, 1, 32767) &&
               parseInt(parts[1], opt.rawHeight, 1, 32767);
    } else if (name == "--lose-last-row-column")
        opt.loseLastRowColumn = true;
    else if (name == "--resolution")
        return parseInt(value, opt.dpi, 1, 32767);
    else if (name == "--guard-pages")
        opt.guardPages = true;
    else if (name == "--mask-row-bytes")
        return parseInt(value, opt.maskRowBytes, 0, 1 << 20);
    else if (name == "--null-mask-data")
        opt.nullMaskData = true;
    else if (name == "--fail-dialogs")
        return parseInt(value, opt.failDialogsFrom, 1, 1000000);
    else if (name == "--fail-message-boxes")
        opt.failMessageBoxes = true;
    else if (name == "--play")
        opt.playFile = value;
    else if (name == "--play-info")
        return parsePlayInfo(value, opt.playInfo);
    else if (name == "--record")
        opt.recordFile = value;
    else if (name == "--descriptor-fault") {
        opt.descriptorFault = value;
        return parseDescriptorFault(value);
    } else if (name == "--unload-after-run")
        opt.unloadAfterRun = true;
    else if (name == "--unload-mid-run")
        return parseInt(value, opt.unloadMidRun, 1, 1000000);
    else if (name == "--user") {
        opt.user = value;
        return !value.empty() && value.find('\\') == std::string::npos;
    } else if (name == "--forget-settings")
        opt.forgetSettings = true;
    else if (name == "--remembered-value")
        return parseRememberedValue(value, opt);
    else if (name == "--timeout")
        return parseInt(value, opt.timeoutSeconds, 1, 86400);
    else if (name == "--report")
        opt.report = value;
    else if (name == "--quiet")
        opt.quiet = true;
    else
        return false;
    return true;
}

// A profile's options, applied where --profile stands: later options still override them.
bool applyProfile(const std::string& name, Options& opt) {
    for (const Profile& profile : kProfiles) {
        if (name != profile.name) continue;
        opt.profile = name;
        for (const char* option : profile.options) {
            if (option == nullptr) break;
            const std::string text = option;
            const std::size_t eq = text.find('=');
            const std::string optionName = text.substr(0, eq);
            const std::string value = eq == std::string::npos ? "" : text.substr(eq + 1);
            if (!applyOption(optionName, value, opt)) return false;
        }
        return true;
    }
    return false;
}

} // namespace

void printHelp() {
    std::printf("usage: vexel_testhost [options] [--plugin] FILE.8bf\n"
                "Loads a filter module and drives it as an image editor does.\n"
                "Default run: [parameters] prepare start continue... finish.\n\n");
    for (const OptionHelp& o : kOptionHelp) {
        std::string left = std::string(o.name) + (o.arg[0] ? " " : "") + o.arg;
        std::printf("  %-28s %s\n", left.c_str(), o.help);
    }
    std::printf("\nProfiles (--profile NAME):\n");
    for (const Profile& p : kProfiles) {
        std::printf("  %-13s %s\n", p.name, p.help);
        std::string set;
        for (const char* option : p.options) {
            if (option == nullptr) break;
            set += std::string(set.empty() ? "" : " ") + option;
        }
        if (!set.empty()) std::printf("  %-13s = %s\n", "", set.c_str());
    }
    printScriptHelp();
    std::printf("Exit status: 0 ok, 2 usage, 3 load, 4 max calls, 5 timeout, 6 crash, 7 script "
                "failed.\n");
}

int parseOptions(int argc, char** argv, Options& opt) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            printHelp();
            return 1;
        }
        if (arg.rfind("--", 0) != 0) {
            if (!opt.plugin.empty()) {
                std::fprintf(stderr, "unexpected argument: %s\n", arg.c_str());
                return 2;
            }
            opt.plugin = arg;
            continue;
        }
        std::string name = arg, value;
        std::size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        } else if (takesValue(name.c_str())) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", name.c_str());
                return 2;
            }
            value = argv[++i];
        }
        if (!known(name.c_str())) {
            std::fprintf(stderr, "unknown option %s (see --help)\n", name.c_str());
            return 2;
        }
        if (!applyOption(name, value, opt)) {
            std::fprintf(stderr, "bad value for %s: '%s'\n", name.c_str(), value.c_str());
            return 2;
        }
    }
    if (opt.plugin.empty()) {
        std::fprintf(stderr, "no plug-in given (see --help)\n");
        return 2;
    }
    if (!opt.script.empty() && !opt.dialogAnswer.empty()) {
        std::fprintf(stderr, "--script and --dialog-answer exclude each other\n");
        return 2;
    }
    if (opt.haveSettings && !opt.paramsIn.empty()) {
        std::fprintf(stderr, "--settings and --params-in exclude each other\n");
        return 2;
    }
    // Planes and depth follow from the mode, or the mode from them.
    if (!opt.haveMode) {
        opt.mode = modeForPlanes(opt.planes, opt.depth);
    } else {
        if (!opt.havePlanes) opt.planes = planesForMode(opt.mode);
        if (!opt.haveDepth) opt.depth = sampleBytesForMode(opt.mode) == 2 ? 16 : 8;
    }
    return 0;
}

} // namespace testhost
