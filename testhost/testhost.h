// The test host: a console program that loads a filter module and drives it the way real hosts
// do, recording everything the module does for the tests that run it under Wine.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "testhost/small_containers.h"

namespace testhost {

// The cross compiler's runtime has no std::mutex; a critical section does the same job.
struct Mutex {
    CRITICAL_SECTION section;
    Mutex() { InitializeCriticalSection(&section); }
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
};

struct Guard {
    Mutex& mutex;
    explicit Guard(Mutex& m) : mutex(m) { EnterCriticalSection(&mutex.section); }
    ~Guard() { LeaveCriticalSection(&mutex.section); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

// Exit statuses; the report carries the same value.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;        // bad options, unreadable files
inline constexpr int kExitLoad = 3;         // module or entry point not found
inline constexpr int kExitMaxCalls = 4;     // the module never ended the Continue loop
inline constexpr int kExitTimeout = 5;      // the whole run took longer than --timeout
inline constexpr int kExitCrash = 6;        // an exception escaped the module
inline constexpr int kExitScriptFailed = 7; // a dialog script command failed

using EntryPoint = void(__cdecl*)(std::int16_t selector, void* record, std::intptr_t* data,
                                  std::int16_t* result);

struct Image {
    int width = 0;
    int height = 0;
    int planes = 0;                   // samples per pixel, interleaved
    std::vector<std::uint8_t> pixels; // rows of width * planes samples, no padding
    int sampleBytes = 1;              // 2: 16-bit samples, native (little-endian) order
};

// 16-bit samples as the original host holds them: 0..32768, 32768 being full intensity. Some
// hosts use the whole 0..65535.
inline constexpr int kHostFullScale = 32768;

// One entry of --selectors: a named step follows the host's rules (a failure ends the run,
// "continue" is the whole loop), a number is sent once as it stands.
struct SelectorStep {
    std::string name;
    std::int16_t code = 0;
    bool raw = false;
};

struct Options {
    std::string plugin, input, output, mask, paramsIn, paramsOut, report, script;
    std::string dialogAnswer; // "ok" or "cancel"
    int planes = 3;
    int mode = 3;
    int depth = 8;                  // bits per sample: 8, or 16 for the 16-bit modes
    int fullScale = kHostFullScale; // a 16-bit sample's full intensity
    bool havePlanes = false, haveMode = false, haveDepth = false;
    bool haveRect = false;
    vexel::HostRect rect{};
    bool floating = false, nullWindow = false, noProgress = false, displayPixels = false;
    bool recordGuardPage = false;
    bool ask = false, autoAnswer = false, instrument = false, logCalls = false, quiet = false;
    bool registerBigViewFirst = false, keepGoing = false, chain = false, freshParams = false;
    bool inFromCurrent = false, moveBuffers = false, noFinish = false, endOnInRightZero = false;
    bool haveSettings = false;
    std::string profile;   // the host kind whose behaviour the options below were set from
    bool askFirst = false; // Parameters before the first run only
    bool finishAfterSuccessOnly = false;    // no Finish after a failed or cancelled run
    bool saveParamsAfterParameters = false; // each run gets the block as it was after Parameters
    bool alphaPlane = false;                // an RGB image held as 4 planes (mode stays RGB)
    bool zeroUnrequestedPlanes = false;     // output planes never requested come back as 0
    bool ignoreLowPlane = false;            // planes delivered and taken back from plane 0 on
    int rawWidth = 0, rawHeight = 0;        // of a .raw input
    bool loseLastRowColumn = false;         // filterRect without the image's last row and column
    bool guardPages = false;                // a no-access page right after every buffer
    bool nullMaskData = false;              // haveMask set, maskData null
    int maskRowBytes = -1;                  // maskRowBytes to declare (rows that far apart)
    int dpi = 72;
    int failDialogsFrom = 0;       // the module's dialogs fail from this one on (1 = all)
    bool failMessageBoxes = false; // the module's message boxes cannot be shown
    bool unloadAfterRun = false;   // FreeLibrary after every run, LoadLibrary before the next
    int unloadMidRun = 0;          // the first run ends after this many Continue calls, unloaded
    std::string user;              // act as this Windows user (a private HKEY_CURRENT_USER)
    bool forgetSettings = false;   // delete the user's remembered settings before the first run
    bool haveRememberedValue = false;
    DWORD rememberedType = REG_BINARY;
    std::vector<std::uint8_t> rememberedValue; // stored as the remembered settings before the runs
    std::array<std::uint8_t, 20> settings{};
    std::int32_t maxSpace = 100000000;
    std::uint32_t hostSig = 0x3842494D; // '8BIM'
    int runs = 1;
    int padRows = 0;
    long long maxCalls = -1; // -1: from the image height
    long long failAllocAbove = -1;
    long long failAllocNth = 0;
    int recordSize = static_cast<int>(vexel::kHostFilterRecordBytes);
    int timeoutSeconds = 300;
    int maxDisplayRecords = 2000;
    bool haveSelectors = false;
    std::vector<SelectorStep> selectors;
    std::string playFile, recordFile; // descriptors played into and recorded out of every run
    int playInfo = 0;                 // dont-display
    std::string descriptorFault;      // a broken scripting host (see descriptors.cpp)
};

// What the report collects. Every append happens under `lock` (the script and watchdog
// threads read and write it too).
struct CallRecord {
    int run;
    std::string selector;
    int code;
    int result;
};

struct CallLogEntry {
    int run;
    int index; // Continue call number within the run, -1 for other selectors
    std::string selector;
    int result;
    vexel::HostRect inRect, outRect, maskRect;
    std::array<std::int16_t, 4> planes; // inLo, inHi, outLo, outHi
};

struct ProgressRecord {
    int run;
    std::int32_t done, total;
};

struct DisplayRecord {
    int run;
    int continueCall;
    vexel::PSPixelMap map;
    vexel::HostVRect srcRect;
    std::int32_t dstRow, dstCol;
    std::uint32_t checksum; // FNV-1a over the srcRect pixels, planes in order
    bool hadContext;
};

struct MessageBoxRecord {
    int run;
    std::string selector;
    std::string argCaption, argText; // as passed (ANSI, converted to UTF-8)
    std::string shownCaption, shownText;
    std::uintptr_t ownerArg = 0;
    std::uintptr_t actualOwner = 0;
    unsigned style = 0;
    int answer = 0;
    bool seen = false; // the box's window was found and answered
};

struct ProtocolError {
    int run;
    std::string selector;
    int call;
    std::string what;
};

struct ScriptResult {
    int line;
    std::string command;
    bool ok;
    std::string valueJson; // a JSON value, or empty
    std::string error;
};

struct AllocStats {
    long long allocCalls = 0, reallocCalls = 0, freeCalls = 0, failedAllocs = 0;
    long long injectedFailures = 0, freedWhileLocked = 0, freeUnknown = 0;
    long long liveBlocks = 0, liveBytes = 0, peakLiveBytes = 0;
    long long gdiCreated = 0, gdiDeleted = 0, liveGdi = 0;
    long long dcCreated = 0, dcDeleted = 0, liveDc = 0;
    long long getDc = 0, releaseDc = 0;
    long long timersSet = 0, timersKilled = 0;
    long long liveClasses = 0; // window classes the module registered and has not unregistered
};

// Every count, with its name in the report.
struct AllocField {
    const char* name;
    long long AllocStats::*member;
};
inline constexpr AllocField kAllocFields[] = {
    {"alloc_calls", &AllocStats::allocCalls},
    {"realloc_calls", &AllocStats::reallocCalls},
    {"free_calls", &AllocStats::freeCalls},
    {"failed_allocs", &AllocStats::failedAllocs},
    {"injected_failures", &AllocStats::injectedFailures},
    {"freed_while_locked", &AllocStats::freedWhileLocked},
    {"free_unknown", &AllocStats::freeUnknown},
    {"live_blocks", &AllocStats::liveBlocks},
    {"live_bytes", &AllocStats::liveBytes},
    {"peak_live_bytes", &AllocStats::peakLiveBytes},
    {"gdi_created", &AllocStats::gdiCreated},
    {"gdi_deleted", &AllocStats::gdiDeleted},
    {"live_gdi", &AllocStats::liveGdi},
    {"dc_created", &AllocStats::dcCreated},
    {"dc_deleted", &AllocStats::dcDeleted},
    {"live_dc", &AllocStats::liveDc},
    {"get_dc", &AllocStats::getDc},
    {"release_dc", &AllocStats::releaseDc},
    {"timers_set", &AllocStats::timersSet},
    {"timers_killed", &AllocStats::timersKilled},
    {"live_classes", &AllocStats::liveClasses},
};

struct RunSummary {
    int index = 0;
    std::vector<std::pair<std::string, int>> results; // selector name, last result
    int continueCalls = 0;
    double seconds = 0;         // from the first selector of the run to the last
    double continueSeconds = 0; // the Continue loop alone
    bool finished = false;
    std::string paramsHex;
    AllocStats alloc;
    bool haveAlloc = false;
    bool unloadedMidRun = false; // --unload-mid-run: what the module held just before and after
    AllocStats beforeUnload, afterUnload;
};

struct HostState {
    Options opt;
    Mutex lock;
    HMODULE module = nullptr;
    int moduleLoads = 0;
    EntryPoint entry = nullptr;
    HWND window = nullptr;
    DWORD mainThread = 0;
    vexel::PlatformData platform{};
    std::vector<std::uint8_t> recordBytes; // the FilterRecord, with a guard tail
    std::uint8_t* guardedRecord = nullptr; // with --record-guard-page: the copy the module gets
    HGLOBAL parameters = nullptr;          // mirror of the record's field between calls
    std::intptr_t dataSlot = 0;
    Image source;  // the pixels the host delivers in inData
    Image current; // the pixels the module writes through outData
    Image mask;
    int run = 0;
    std::string selector; // the selector being called, for records
    int continueCall = -1;
    int exitStatus = kExitOk;
    std::string error;
    std::vector<std::string> importsPatched;
    std::vector<CallRecord> calls;
    std::vector<CallLogEntry> callLog;
    std::vector<ProgressRecord> progress;
    std::vector<DisplayRecord> display;
    long long displayCount = 0;
    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<ProtocolError> protocolErrors;
    std::vector<ScriptResult> script;
    std::vector<RunSummary> runs;
    long long beeps = 0;
    bool scriptDone = false;
    bool reportWritten = false;
};

extern HostState host;

vexel::FilterRecord& filterRecord();
void protocolError(const std::string& what);
std::string hexBytes(const std::uint8_t* bytes, std::size_t count);
// A JSON string literal of UTF-8 text.
std::string jsonQuoted(const std::string& text);

// A JSON array of whole numbers.
std::string numbersJson(std::initializer_list<long long> values);

// Appends "name":value pairs to a JSON object under construction.
struct JsonObject {
    std::string text = "{";
    JsonObject& raw(const char* name, const std::string& json) {
        if (text.size() > 1) text += ",";
        text += jsonQuoted(name) + ":" + json;
        return *this;
    }
    JsonObject& num(const char* name, long long value) { return raw(name, std::to_string(value)); }
    JsonObject& str(const char* name, const std::string& value) {
        return raw(name, jsonQuoted(value));
    }
    JsonObject& boolean(const char* name, bool value) {
        return raw(name, value ? "true" : "false");
    }
    std::string done() const { return text + "}"; }
};
std::string utf8FromWide(const wchar_t* text);
std::string utf8FromAnsi(const char* text);
std::string className(HWND window);

// options.cpp
bool parseLong(const std::string& text, long long& value); // a whole number, C notation
int parseOptions(int argc, char** argv, Options& opt);     // 0 ok, 1 help shown, 2 error
void printHelp();

// image_io.cpp
// A PNG of any depth as `planes` samples of `sampleBytes` bytes; 16-bit samples are scaled from
// the PNG's 0..65535 to 0..fullScale.
bool loadImage(const std::string& path, int planes, Image& image, std::string& error,
               int sampleBytes = 1, int fullScale = kHostFullScale);
// An 8-bit image as a PNG. A 16-bit one as a 16-bit PNG scaled from 0..fullScale to 0..65535
// (values past fullScale saturate), or, for a name ending in ".raw", as its samples unchanged.
bool saveImage(const std::string& path, const Image& image, std::string& error,
               int fullScale = kHostFullScale);
bool saveBgrPng(const std::string& path, int width, int height,
                const std::vector<std::uint8_t>& bgrRows, int rowBytes, std::string& error);
// Whole files through stdio, and text split at white space, as the stream classes would do.
bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes);
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::string> splitWords(const std::string& text);

// filter_driver.cpp
bool setUpHost(std::string& error);
void runAll();
std::string finalParametersHex();

// imports.cpp: the module's imports redirected to recording wrappers.
void patchModuleImports(HMODULE module, bool instrument);
AllocStats allocStatsNow();
void beginRunStats();
std::string instrumentJson(bool excludeParameters);

// message_boxes.cpp
int recordedMessageBox(HWND owner, const char* text, const char* caption, UINT style,
                       int(WINAPI* real)(HWND, LPCSTR, LPCSTR, UINT));

// dialog_script.cpp
bool loadScript(const std::string& path, std::string& error);
void installScriptHooks();
void runScript();   // on the helper thread (main.cpp): waits for startScript, then runs it
void startScript(); // once the host is set up
void waitScript(DWORD milliseconds);
void printScriptHelp(); // the commands, for --help

// descriptors.cpp: the descriptor parameters and handle procs (--play, --record)
bool parsePlayInfo(const std::string& text, int& playInfo);
bool parseDescriptorFault(const std::string& text);
void setUpDescriptors(std::vector<std::uint8_t>& recordBytes);
bool beginDescriptorRun(std::string& error);
void beforeDescriptorCall();
void afterDescriptorCall(); // protocol errors for anything written the interface does not allow
void endDescriptorRun();
std::string descriptorsJson();
// user_settings.cpp
bool setUpUserSettings(std::string& error); // --user, --forget-settings, --remembered-value
std::string rememberedSettingsJson();       // {"type", "hex"} of the stored value, or null

// report.cpp
void writeReport();
// The statistics of the module's blocks, GDI objects and timers, open for further fields.
JsonObject allocStatsJson(const AllocStats& stats);

} // namespace testhost
