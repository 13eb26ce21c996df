// The host's scripting side: descriptor parameters with read and write procs and the handle procs
// a module gives descriptors back with. A descriptor is a global block in a format of our own,
// the bytes of --play and --record files: "VXD1", then (key, type, int32 value) triples, all
// little-endian. Every proc checks what the module hands it; anything amiss is a protocol error.
#include <algorithm>
#include <cstring>

#include "host/descriptor_records.h"
#include "testhost/testhost.h"

namespace testhost {
namespace {

using vexel::DescriptorKeyID;
using vexel::DescType;
using vexel::HostHandle;
using vexel::OSErr;

constexpr char kMagic[4] = {'V', 'X', 'D', '1'};
constexpr OSErr kErrWrongType = -1703;
constexpr OSErr kErrBadToken = -50;

struct Entry {
    DescriptorKeyID key;
    DescType type;
    std::int32_t value;
};

struct Reader {
    std::vector<Entry> entries;
    std::size_t next = 0; // the entry getKey reports next; the current one is next - 1
};

struct Writer {
    std::vector<Entry> entries;
};

struct DescriptorState {
    vexel::PIDescriptorParameters parameters{};
    vexel::ReadDescriptorProcs readProcs{};
    vexel::WriteDescriptorProcs writeProcs{};
    vexel::HandleProcs handleProcs{};
    SmallSet<HGLOBAL> live;     // descriptors the host made and not yet got back
    SmallSet<HGLOBAL> recorded; // of those, the ones closeWrite made
    SmallSet<Reader*> readers;
    SmallSet<Writer*> writers;
    HGLOBAL played = nullptr;
    bool active = false;
    // What the module saw and did in the current run, for the report.
    bool playedDisposed = false;
    int disposeCalls = 0, integersRead = 0;
    std::vector<std::string> runJson;
    // The records as they were before a call, to find what the module changed.
    vexel::PIDescriptorParameters parametersBefore{};
    std::vector<std::uint8_t> procsBefore;
};

DescriptorState state;

std::vector<std::uint8_t> encode(const std::vector<Entry>& entries) {
    std::vector<std::uint8_t> bytes(kMagic, kMagic + 4);
    for (const Entry& e : entries) {
        for (std::uint32_t v : {e.key, e.type, static_cast<std::uint32_t>(e.value)})
            for (int i = 0; i < 4; ++i)
                bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    return bytes;
}

bool decode(const std::uint8_t* bytes, std::size_t size, std::vector<Entry>& entries) {
    if (size < 4 || std::memcmp(bytes, kMagic, 4) != 0 || (size - 4) % 12 != 0) return false;
    auto word = [bytes](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | bytes[at + static_cast<std::size_t>(i)];
        return v;
    };
    for (std::size_t at = 4; at < size; at += 12)
        entries.push_back({word(at), word(at + 4), static_cast<std::int32_t>(word(at + 8))});
    return true;
}

HGLOBAL newDescriptor(const std::vector<std::uint8_t>& bytes) {
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (handle == nullptr) return nullptr;
    std::memcpy(GlobalLock(handle), bytes.data(), bytes.size());
    GlobalUnlock(handle);
    state.live.insert(handle);
    return handle;
}

bool entriesOf(HGLOBAL handle, std::vector<Entry>& entries) {
    const void* p = GlobalLock(handle);
    if (p == nullptr) return false;
    const bool ok = decode(static_cast<const std::uint8_t*>(p), GlobalSize(handle), entries);
    GlobalUnlock(handle);
    return ok;
}

// ---- the procs the module calls --------------------------------------------------------------

vexel::ReadToken __cdecl openRead(HostHandle descriptor, DescriptorKeyID* keys) {
    auto handle = static_cast<HGLOBAL>(descriptor);
    if (keys == nullptr) protocolError("openReadDescriptor without a key array");
    if (handle == nullptr) return nullptr;
    if (state.live.count(handle) == 0) {
        protocolError("openReadDescriptor of a handle the host did not hand over");
        return nullptr;
    }
    auto* reader = new Reader;
    if (!entriesOf(handle, reader->entries)) protocolError("a descriptor the host cannot read");
    state.readers.insert(reader);
    return reader;
}

Reader* readerOf(vexel::ReadToken token, const char* proc) {
    auto* reader = static_cast<Reader*>(token);
    if (state.readers.count(reader) != 0) return reader;
    protocolError(std::string(proc) + " with a token the host did not give");
    return nullptr;
}

OSErr __cdecl closeRead(vexel::ReadToken token) {
    Reader* reader = readerOf(token, "closeReadDescriptor");
    if (reader == nullptr) return kErrBadToken;
    state.readers.erase(reader);
    delete reader;
    return 0;
}

vexel::HostBoolean __cdecl getKey(vexel::ReadToken token, DescriptorKeyID* key, DescType* type,
                                  std::int32_t* flags) {
    Reader* reader = readerOf(token, "getKey");
    if (reader == nullptr || reader->next >= reader->entries.size()) return 0;
    const Entry& e = reader->entries[reader->next++];
    if (key != nullptr) *key = e.key;
    if (type != nullptr) *type = e.type;
    if (flags != nullptr) *flags = 0;
    return 1;
}

OSErr __cdecl getInteger(vexel::ReadToken token, std::int32_t* value) {
    Reader* reader = readerOf(token, "getInteger");
    if (reader == nullptr) return kErrBadToken;
    if (reader->next == 0 || value == nullptr) {
        protocolError("getInteger before getKey or without room for the value");
        return kErrBadToken;
    }
    const Entry& e = reader->entries[reader->next - 1];
    if (e.type != vexel::kTypeInteger) return kErrWrongType;
    *value = e.value;
    ++state.integersRead;
    return 0;
}

vexel::WriteToken __cdecl openWrite() {
    auto* writer = new Writer;
    state.writers.insert(writer);
    return writer;
}

Writer* writerOf(vexel::WriteToken token, const char* proc) {
    auto* writer = static_cast<Writer*>(token);
    if (state.writers.count(writer) != 0) return writer;
    protocolError(std::string(proc) + " with a token the host did not give");
    return nullptr;
}

OSErr __cdecl putInteger(vexel::WriteToken token, DescriptorKeyID key, std::int32_t value) {
    Writer* writer = writerOf(token, "putInteger");
    if (writer == nullptr) return kErrBadToken;
    writer->entries.push_back({key, vexel::kTypeInteger, value});
    return 0;
}

OSErr __cdecl closeWrite(vexel::WriteToken token, HostHandle* descriptor) {
    Writer* writer = writerOf(token, "closeWriteDescriptor");
    if (writer == nullptr) return kErrBadToken;
    HGLOBAL handle = newDescriptor(encode(writer->entries));
    state.recorded.insert(handle);
    state.writers.erase(writer);
    delete writer;
    if (descriptor == nullptr) {
        protocolError("closeWriteDescriptor without room for the descriptor");
        return kErrBadToken;
    }
    *descriptor = handle;
    return 0;
}

void __cdecl disposeHandle(HostHandle handle) {
    auto h = static_cast<HGLOBAL>(handle);
    ++state.disposeCalls;
    if (state.live.count(h) == 0) {
        protocolError("disposeHandle of a handle the host does not hold");
        return;
    }
    if (h == state.played) state.playedDisposed = true;
    state.live.erase(h);
    state.recorded.erase(h);
    GlobalFree(h);
}

// ---- set-up per fault --------------------------------------------------------------------------

std::vector<std::uint8_t> procBytes() {
    constexpr std::size_t readSize = sizeof(vexel::ReadDescriptorProcs);
    constexpr std::size_t writeSize = sizeof(vexel::WriteDescriptorProcs);
    std::vector<std::uint8_t> bytes(readSize + writeSize + sizeof(vexel::HandleProcs));
    std::memcpy(bytes.data(), &state.readProcs, readSize);
    std::memcpy(bytes.data() + readSize, &state.writeProcs, writeSize);
    std::memcpy(bytes.data() + readSize + writeSize, &state.handleProcs, sizeof state.handleProcs);
    return bytes;
}

std::string entriesJson(const std::vector<Entry>& entries) {
    std::string json = "[";
    for (const Entry& e : entries) {
        if (json.size() > 1) json += ",";
        json += numbersJson({e.key, e.type, e.value});
    }
    return json + "]";
}

} // namespace

constexpr const char* kPlayInfoNames[] = {"dont-display", "display", "silent"};
constexpr const char* kDescriptorFaults[] = {
    "null-parameters", "no-procs",         "procs-version",  "few-procs",
    "null-descriptor", "empty-descriptor", "no-handle-procs"};

bool parsePlayInfo(const std::string& text, int& playInfo) {
    for (int i = 0; i < 3; ++i)
        if (text == kPlayInfoNames[i]) playInfo = i;
    return std::find(std::begin(kPlayInfoNames), std::end(kPlayInfoNames), text) !=
           std::end(kPlayInfoNames);
}

bool parseDescriptorFault(const std::string& text) {
    return std::find(std::begin(kDescriptorFaults), std::end(kDescriptorFaults), text) !=
           std::end(kDescriptorFaults);
}

// The record's descriptorParameters and the procs behind it, shaped by --descriptor-fault.
void setUpDescriptors(std::vector<std::uint8_t>& recordBytes) {
    const Options& o = host.opt;
    state.active = !o.playFile.empty() || !o.recordFile.empty() || !o.descriptorFault.empty();
    if (!state.active) return;
    const std::string& fault = o.descriptorFault;
    const std::int16_t version = fault == "procs-version" ? 1 : vexel::kProcsVersion;
    state.readProcs = {version,  static_cast<std::int16_t>(fault == "few-procs" ? 3 : 18),
                       openRead, closeRead,
                       getKey,   getInteger,
                       {}};
    state.writeProcs = {version,    static_cast<std::int16_t>(fault == "few-procs" ? 2 : 16),
                        openWrite,  closeWrite,
                        putInteger, {}};
    state.handleProcs = {1, 8, nullptr, disposeHandle, {}};
    state.parameters.readProcs = fault == "no-procs" ? nullptr : &state.readProcs;
    state.parameters.writeProcs = fault == "no-procs" ? nullptr : &state.writeProcs;
    if (fault != "no-handle-procs") filterRecord().handleProcs = &state.handleProcs;
    vexel::PIDescriptorParameters* pointer =
        fault == "null-parameters" ? nullptr : &state.parameters;
    std::memcpy(recordBytes.data() + vexel::kDescriptorParametersOffset, &pointer, sizeof pointer);
}

// Before a run: the played descriptor (afresh from --play) and the host's playInfo.
bool beginDescriptorRun(std::string& error) {
    if (!state.active) return true;
    state.playedDisposed = false;
    state.disposeCalls = state.integersRead = 0;
    state.parameters.playInfo = static_cast<std::int16_t>(host.opt.playInfo);
    state.parameters.recordInfo = 2; // none, until a module records
    state.played = nullptr;
    if (host.opt.descriptorFault == "empty-descriptor") {
        state.played = newDescriptor(encode({}));
    } else if (!host.opt.playFile.empty() && host.opt.descriptorFault != "null-descriptor") {
        std::vector<std::uint8_t> bytes;
        std::vector<Entry> entries;
        if (!readFile(host.opt.playFile, bytes) || !decode(bytes.data(), bytes.size(), entries)) {
            error = "cannot read the descriptor " + host.opt.playFile;
            return false;
        }
        state.played = newDescriptor(bytes);
    }
    state.parameters.descriptor = state.played;
    return true;
}

void beforeDescriptorCall() {
    if (!state.active) return;
    state.parametersBefore = state.parameters;
    state.procsBefore = procBytes();
}

// After a call: the module may change only the descriptor and recordInfo, and may only put there
// a descriptor of closeWrite's after giving back the one it replaced.
void afterDescriptorCall() {
    if (!state.active) return;
    const vexel::PIDescriptorParameters& before = state.parametersBefore;
    const vexel::PIDescriptorParameters& now = state.parameters;
    if (now.version != before.version || now.playInfo != before.playInfo ||
        now.readProcs != before.readProcs || now.writeProcs != before.writeProcs ||
        procBytes() != state.procsBefore)
        protocolError("the descriptor parameters or procs were written");
    auto descriptor = static_cast<HGLOBAL>(now.descriptor);
    if (descriptor != before.descriptor) {
        if (before.descriptor != nullptr &&
            state.live.count(static_cast<HGLOBAL>(before.descriptor)))
            protocolError("a descriptor was replaced without being given back");
        if (descriptor != nullptr && state.recorded.count(descriptor) == 0)
            protocolError("the descriptor field holds a handle closeWrite did not make");
    }
    if (now.recordInfo != before.recordInfo && now.recordInfo != vexel::kRecordDialogOptional)
        protocolError("recordInfo set to " + std::to_string(now.recordInfo));
}

// After a run: the host takes the recorded descriptor (into --record), and what is left.
void endDescriptorRun() {
    if (!state.active) return;
    auto descriptor = static_cast<HGLOBAL>(state.parameters.descriptor);
    std::vector<Entry> recorded;
    const bool haveRecord = descriptor != nullptr && state.recorded.count(descriptor) != 0 &&
                            entriesOf(descriptor, recorded);
    if (haveRecord && !host.opt.recordFile.empty()) {
        const std::vector<std::uint8_t> bytes = encode(recorded);
        if (!writeFile(host.opt.recordFile, bytes))
            protocolError("cannot write " + host.opt.recordFile);
    }
    JsonObject run;
    run.num("run", host.run)
        .boolean("played", state.played != nullptr)
        .boolean("played_disposed", state.playedDisposed)
        .num("dispose_calls", state.disposeCalls)
        .num("integers_read", state.integersRead)
        .num("record_info", state.parameters.recordInfo)
        .raw("recorded", haveRecord ? entriesJson(recorded) : "null");
    // Everything the host handed over or made comes back to it now.
    for (HGLOBAL handle : state.live)
        GlobalFree(handle);
    state.live.clear();
    state.recorded.clear();
    state.parameters.descriptor = nullptr;
    if (!state.readers.empty() || !state.writers.empty())
        protocolError("descriptor readers or writers left open");
    run.num("open_tokens", static_cast<long long>(state.readers.size() + state.writers.size()));
    Guard guard(host.lock);
    state.runJson.push_back(run.done());
}

std::string descriptorsJson() {
    std::string json = "[";
    for (const std::string& run : state.runJson)
        json += (json.size() > 1 ? "," : "") + run;
    return json + "]";
}

} // namespace testhost
