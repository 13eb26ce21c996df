// Our own declarations of the host's scripting records (the descriptor parameters with their read
// and write procs) and of its handle procs, laid out as the interface publishes them for Windows.
// The host's headers declare these outside the 4-byte packed region: natural alignment.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_records.h"

namespace vexel {

using DescriptorKeyID = std::uint32_t;
using DescType = std::uint32_t;
using OSErr = std::int16_t;
using ReadToken = void*;
using WriteToken = void*;

using OpenReadDescriptorProc = ReadToken (*)(HostHandle descriptor, DescriptorKeyID* keys);
using CloseReadDescriptorProc = OSErr (*)(ReadToken token);
using GetKeyProc = HostBoolean (*)(ReadToken token, DescriptorKeyID* key, DescType* type,
                                   std::int32_t* flags);
using GetIntegerProc = OSErr (*)(ReadToken token, std::int32_t* value);
using OpenWriteDescriptorProc = WriteToken (*)();
using CloseWriteDescriptorProc = OSErr (*)(WriteToken token, HostHandle* descriptor);
using PutIntegerProc = OSErr (*)(WriteToken token, DescriptorKeyID key, std::int32_t value);
using DisposeHandleProc = void (*)(HostHandle handle);

// 18 procs in all; we call the first four.
struct ReadDescriptorProcs {
    std::int16_t version;
    std::int16_t count;
    OpenReadDescriptorProc openRead;
    CloseReadDescriptorProc closeRead;
    GetKeyProc getKey;
    GetIntegerProc getInteger;
    void* unused[14]; // getFloat ... getPinnedUnitFloat
};

// 16 procs in all; we call the first three.
struct WriteDescriptorProcs {
    std::int16_t version;
    std::int16_t count;
    OpenWriteDescriptorProc openWrite;
    CloseWriteDescriptorProc closeWrite;
    PutIntegerProc putInteger;
    void* unused[13]; // putFloat ... putObjectProc
};

struct PIDescriptorParameters {
    std::int16_t version;
    std::int16_t playInfo;
    std::int16_t recordInfo;
    HostHandle descriptor;
    WriteDescriptorProcs* writeProcs;
    ReadDescriptorProcs* readProcs;
};

// The host's handle procs (FilterRecord::handleProcs); we only dispose of descriptors with them.
struct HandleProcs {
    std::int16_t version;
    std::int16_t count;
    void* newProc;
    DisposeHandleProc disposeProc;
    void* unused[6]; // getSize, setSize, lock, unlock, recoverSpace, disposeRegularHandle
};

namespace playinfo {
inline constexpr std::int16_t dontDisplay = 0; // show the dialog only when a value is missing
inline constexpr std::int16_t display = 1;
inline constexpr std::int16_t silent = 2;
} // namespace playinfo
inline constexpr std::int16_t kRecordDialogOptional = 0;
inline constexpr std::int16_t kProcsVersion = 0;
inline constexpr std::int16_t kReadProcsNeeded = 4;   // open, close, getKey, getInteger
inline constexpr std::int16_t kWriteProcsNeeded = 3;  // open, close, putInteger
inline constexpr std::int16_t kHandleProcsNeeded = 2; // new, dispose
inline constexpr DescType kTypeInteger = 0x6C6F6E67;  // 'long'

// descriptorParameters lies past the fields we declare, inside the smallest record hosts allocate.
#if INTPTR_MAX == INT32_MAX
inline constexpr std::size_t kDescriptorParametersOffset = 356;
static_assert(offsetof(PIDescriptorParameters, descriptor) == 8);
static_assert(offsetof(PIDescriptorParameters, writeProcs) == 12);
static_assert(offsetof(PIDescriptorParameters, readProcs) == 16);
static_assert(sizeof(PIDescriptorParameters) == 20);
static_assert(offsetof(ReadDescriptorProcs, openRead) == 4 && sizeof(ReadDescriptorProcs) == 76);
static_assert(offsetof(WriteDescriptorProcs, openWrite) == 4 && sizeof(WriteDescriptorProcs) == 68);
static_assert(offsetof(HandleProcs, disposeProc) == 8 && sizeof(HandleProcs) == 36);
#else
inline constexpr std::size_t kDescriptorParametersOffset = 432;
static_assert(offsetof(PIDescriptorParameters, descriptor) == 8);
static_assert(offsetof(PIDescriptorParameters, writeProcs) == 16);
static_assert(offsetof(PIDescriptorParameters, readProcs) == 24);
static_assert(sizeof(PIDescriptorParameters) == 32);
static_assert(offsetof(ReadDescriptorProcs, openRead) == 8 && sizeof(ReadDescriptorProcs) == 152);
static_assert(offsetof(WriteDescriptorProcs, openWrite) == 8 &&
              sizeof(WriteDescriptorProcs) == 136);
static_assert(offsetof(HandleProcs, disposeProc) == 16 && sizeof(HandleProcs) == 72);
#endif
static_assert(offsetof(PIDescriptorParameters, playInfo) == 2 &&
              offsetof(PIDescriptorParameters, recordInfo) == 4);
static_assert(offsetof(ReadDescriptorProcs, getInteger) ==
              offsetof(ReadDescriptorProcs, openRead) + 3 * sizeof(void*));
static_assert(offsetof(WriteDescriptorProcs, putInteger) ==
              offsetof(WriteDescriptorProcs, openWrite) + 2 * sizeof(void*));
static_assert(kDescriptorParametersOffset >= sizeof(FilterRecord));
static_assert(kDescriptorParametersOffset + sizeof(void*) <= kHostFilterRecordBytes);

} // namespace vexel
