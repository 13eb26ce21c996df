// Play and record of the settings through the host's descriptor procs. Everything the host hands
// over here is checked before use: the procs' version and count, every proc we call, the handle
// procs we give the descriptor back with. Values are taken only within the dialog's ranges.
#include "host/descriptor.h"

#include <cstring>

#include "host/plugin_globals.h"
#include "ui/dialog_logic.h"

namespace vexel {

namespace {

// A setting's range as its dialog row accepts it.
constexpr DescriptorKey settingKey(DescriptorKeyID key, std::int16_t ParamBlock::*field,
                                   std::int16_t Settings::*setting) {
    for (const ValueRow& row : kValueRows)
        if (row.setting == setting) return {key, field, row.min, row.max};
    return {key, field, 0, -1};
}

// The centre is a position in the filter rectangle; the dialog never makes a negative one.
constexpr std::int16_t kCentreMax = 32767;

// A host whose getKey never ends would hold the run: no descriptor of ours has this many keys.
constexpr int kMaxKeysLookedAt = 256;

PIDescriptorParameters* descriptorParameters() {
    if (g.host.hostRecord == nullptr) return nullptr;
    // A copy: the field is a pointer the record need not hold aligned.
    void* field = nullptr;
    std::memcpy(&field,
                static_cast<const std::uint8_t*>(g.host.hostRecord) + kDescriptorParametersOffset,
                sizeof field);
    return static_cast<PIDescriptorParameters*>(field);
}

bool usable(const ReadDescriptorProcs* procs) {
    return procs != nullptr && procs->version == kProcsVersion &&
           procs->count >= kReadProcsNeeded && procs->openRead != nullptr &&
           procs->closeRead != nullptr && procs->getKey != nullptr && procs->getInteger != nullptr;
}

bool usable(const WriteDescriptorProcs* procs) {
    return procs != nullptr && procs->version == kProcsVersion &&
           procs->count >= kWriteProcsNeeded && procs->openWrite != nullptr &&
           procs->closeWrite != nullptr && procs->putInteger != nullptr;
}

// The host's dispose proc for descriptors, or none when it offers no usable one.
DisposeHandleProc hostDisposeProc() {
    const auto* procs = static_cast<const HandleProcs*>(filterRecord().handleProcs);
    if (procs == nullptr || procs->count < kHandleProcsNeeded) return nullptr;
    return procs->disposeProc;
}

// Reads every key the descriptor reports; false when the host would not open it.
bool readDescriptor(const ReadDescriptorProcs& procs, HostHandle descriptor, PlayedValues& played) {
    std::array<DescriptorKeyID, kDescriptorKeyCount + 1> keys{}; // zero-terminated
    for (std::size_t i = 0; i < kDescriptorKeyCount; ++i)
        keys[i] = kDescriptorKeys[i].key;
    ReadToken token = procs.openRead(descriptor, keys.data());
    if (token == nullptr) return false;
    DescriptorKeyID key = 0;
    DescType type = 0;
    std::int32_t flags = 0;
    for (int looked = 0; looked < kMaxKeysLookedAt && procs.getKey(token, &key, &type, &flags) != 0;
         ++looked) {
        // Only integers of our keys are fetched; the host skips whatever is not read.
        if (descriptorKeyIndex(key) == kNoDescriptorKey || type != kTypeInteger) continue;
        std::int32_t value = 0;
        if (procs.getInteger(token, &value) == 0) takePlayedValue(key, type, value, played);
    }
    procs.closeRead(token); // its missing-keys error is ours to judge, from `played`
    return true;
}

void applyToHostBlock(const PlayedValues& played, std::int16_t playInfo) {
    std::uint8_t* address = lockParamBlock();
    if (address == nullptr) return;
    const std::span<std::uint8_t, kParamBlockBytes> bytes(address, kParamBlockBytes);
    ParamBlock block = decodeParamBlock(bytes);
    applyPlayedValues(played, playInfo, block);
    encodeParamBlock(block, bytes);
    unlockParamBlock();
}

} // namespace

const std::array<DescriptorKey, kDescriptorKeyCount> kDescriptorKeys{{
    settingKey(fourCharCode("vxSt"), &ParamBlock::stretch, &Settings::stretch),
    settingKey(fourCharCode("vxAn"), &ParamBlock::angle, &Settings::angle),
    settingKey(fourCharCode("vxHt"), &ParamBlock::height, &Settings::height),
    settingKey(fourCharCode("vxWd"), &ParamBlock::width, &Settings::width),
    settingKey(fourCharCode("vxSg"), &ParamBlock::strength, &Settings::strength),
    {fourCharCode("vxCx"), &ParamBlock::centerX, 0, kCentreMax},
    {fourCharCode("vxCy"), &ParamBlock::centerY, 0, kCentreMax},
}};

std::size_t descriptorKeyIndex(DescriptorKeyID key) {
    for (std::size_t i = 0; i < kDescriptorKeyCount; ++i)
        if (kDescriptorKeys[i].key == key) return i;
    return kNoDescriptorKey;
}

bool takePlayedValue(DescriptorKeyID key, DescType type, std::int32_t value, PlayedValues& played) {
    const std::size_t index = descriptorKeyIndex(key);
    if (index == kNoDescriptorKey || type != kTypeInteger) return false;
    const DescriptorKey& entry = kDescriptorKeys[index];
    if (value < entry.min || value > entry.max) return false;
    played.values.*entry.field = static_cast<std::int16_t>(value);
    played.read = static_cast<std::uint8_t>(played.read | (1u << index));
    return true;
}

void applyPlayedValues(const PlayedValues& played, std::int16_t playInfo, ParamBlock& block) {
    if (played.read == 0) return;
    for (std::size_t i = 0; i < kDescriptorKeyCount; ++i) {
        const auto field = kDescriptorKeys[i].field;
        if ((played.read & (1u << i)) != 0) block.*field = played.values.*field;
    }
    if (playInfo == playinfo::dontDisplay)
        block.showDialog = played.read == kAllDescriptorKeys ? 0 : 1;
    if (playInfo == playinfo::display) block.showDialog = 1;
    if (playInfo == playinfo::silent) block.showDialog = 0;
}

void playDescriptor() {
    PIDescriptorParameters* parameters = descriptorParameters();
    if (parameters == nullptr || parameters->descriptor == nullptr) return;
    const ReadDescriptorProcs* procs = parameters->readProcs;
    if (!usable(procs)) return;
    PlayedValues played;
    if (!readDescriptor(*procs, parameters->descriptor, played)) return;
    // Read: the descriptor is ours to give back. Without the host's dispose proc it stays where
    // it is, the host's still (a handle dropped here would be lost).
    if (DisposeHandleProc dispose = hostDisposeProc(); dispose != nullptr) {
        dispose(parameters->descriptor);
        parameters->descriptor = nullptr;
    }
    applyToHostBlock(played, parameters->playInfo);
}

void recordDescriptor(const ParamBlock& block) {
    PIDescriptorParameters* parameters = descriptorParameters();
    if (parameters == nullptr || !usable(parameters->writeProcs)) return;
    const DisposeHandleProc dispose = hostDisposeProc();
    // An earlier descriptor that cannot be given back is kept rather than lost.
    if (parameters->descriptor != nullptr && dispose == nullptr) return;
    const WriteDescriptorProcs& procs = *parameters->writeProcs;
    WriteToken token = procs.openWrite();
    if (token == nullptr) return;
    for (const DescriptorKey& entry : kDescriptorKeys)
        procs.putInteger(token, entry.key, block.*entry.field);
    HostHandle recorded = nullptr;
    procs.closeWrite(token, &recorded);
    if (recorded == nullptr) return;
    if (parameters->descriptor != nullptr) dispose(parameters->descriptor);
    parameters->descriptor = recorded;
    parameters->recordInfo = kRecordDialogOptional;
}

} // namespace vexel
