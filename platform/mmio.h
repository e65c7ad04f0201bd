// Buffered RIFF file input/output in the shape of the platform's mmio calls: open a file or a block
// of memory, read, write, seek, give the file a read buffer, and walk RIFF chunks (descend into a
// chunk, ascend out of it, create one for writing). Also the few file-system queries the sources
// need (exists, size, full path, read-only, free space), so the engine never touches the OS itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/wave_types.h"

namespace tunefold::platform {

using FOURCC = std::uint32_t;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<std::uint8_t>(a)) |
           (static_cast<FOURCC>(static_cast<std::uint8_t>(b)) << 8) |
           (static_cast<FOURCC>(static_cast<std::uint8_t>(c)) << 16) |
           (static_cast<FOURCC>(static_cast<std::uint8_t>(d)) << 24);
}

constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');

// A chunk as descend reports it: the data offset is the file position of the first body byte
// (for RIFF and LIST the form type is the first four body bytes). Sizes are the 32-bit unsigned
// values of the file; offsets are 64-bit, since a RIFF of 4 GiB ends past any 32-bit offset.
struct MMCKINFO {
    FOURCC ckid = 0;
    DWORD cksize = 0;
    FOURCC fccType = 0;
    std::int64_t dwDataOffset = 0;
    DWORD dwFlags = 0;
};

// Open flags.
constexpr DWORD MMIO_READ = 0x0000;
constexpr DWORD MMIO_WRITE = 0x0001;
constexpr DWORD MMIO_READWRITE = 0x0002;
constexpr DWORD MMIO_CREATE = 0x1000;
constexpr DWORD MMIO_ALLOCBUF = 0x00010000;
// Descend / create flags.
constexpr DWORD MMIO_FINDCHUNK = 0x0010;
constexpr DWORD MMIO_FINDRIFF = 0x0020;
constexpr DWORD MMIO_FINDLIST = 0x0040;
constexpr DWORD MMIO_CREATERIFF = 0x0020;
constexpr DWORD MMIO_CREATELIST = 0x0040;
constexpr DWORD MMIO_DIRTY = 0x10000000; // chunk created for writing: its size is fixed on ascend

// Seek origins.
constexpr int SEEK_FROM_START = 0;
constexpr int SEEK_FROM_CURRENT = 1;
constexpr int SEEK_FROM_END = 2;

// Result codes.
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = 265;
constexpr MMRESULT MMIOERR_CANNOTSEEK = 262;
constexpr MMRESULT MMIOERR_CANNOTREAD = 259;
constexpr MMRESULT MMIOERR_CANNOTWRITE = 260;
constexpr MMRESULT MMIOERR_OUTOFMEMORY = 258;
constexpr MMRESULT MMIOERR_CANNOTOPEN = 257;

// The byte stream under an open handle: a file or a block of memory.
class MmioStream {
public:
    virtual ~MmioStream() = default;
    // Bytes read (0 at the end), -1 on an error.
    virtual long Read(void* buffer, long count) = 0;
    virtual long Write(const void* buffer, long count) = 0;
    // The new absolute position, -1 when it cannot be reached (before the start, or past the end of a
    // stream opened for reading only).
    virtual long Seek(long offset, int origin) = 0;
    virtual long Size() = 0;
    virtual bool Writable() const = 0;
    // A read buffer of `bytes` (files only; memory streams accept and ignore it).
    virtual bool SetBuffer(long bytes) = 0;
    // Writes what the system holds of the stream to the medium (mmioFlush).
    virtual bool Flush() = 0;
    // Ends the stream; false when the system reports a write that failed. Nothing works after it.
    virtual bool Close() = 0;
};

// An open RIFF file.
class MmioFile {
public:
    explicit MmioFile(std::unique_ptr<MmioStream> stream) : stream_(std::move(stream)) {}
    MmioStream& Stream() { return *stream_; }

private:
    std::unique_ptr<MmioStream> stream_;
};
using HMMIO = MmioFile*;

// Opens a file (MMIO_READ, MMIO_WRITE, MMIO_READWRITE, with MMIO_CREATE to create or truncate).
// Null when it cannot be opened.
HMMIO mmioOpenFile(const std::string& name, DWORD flags);
// Opens a block of memory the caller keeps alive; read-only unless `writable`.
HMMIO mmioOpenMemory(const void* data, long size, bool writable = false);
MMRESULT mmioClose(HMMIO handle);
long mmioRead(HMMIO handle, void* buffer, long count);
long mmioWrite(HMMIO handle, const void* buffer, long count);
long mmioSeek(HMMIO handle, long offset, int origin);
MMRESULT mmioSetBuffer(HMMIO handle, long bytes);
MMRESULT mmioFlush(HMMIO handle);

// Reads a chunk header at the current position (within `parent` when given). With MMIO_FINDCHUNK,
// MMIO_FINDRIFF or MMIO_FINDLIST it skips chunks until one with the wanted id (and, for RIFF/LIST,
// form type) is found. Leaves the position at the first body byte (after the form type for RIFF and
// LIST).
MMRESULT mmioDescend(HMMIO handle, MMCKINFO& chunk, const MMCKINFO* parent, DWORD flags);
// Moves to the end of the chunk (body plus pad byte). A chunk created for writing first gets its
// size written and its pad byte appended.
MMRESULT mmioAscend(HMMIO handle, MMCKINFO& chunk, DWORD flags);
// Writes a chunk header (with the form type for MMIO_CREATERIFF / MMIO_CREATELIST) and marks the
// chunk dirty so that ascend fixes its size.
MMRESULT mmioCreateChunk(HMMIO handle, MMCKINFO& chunk, DWORD flags);

// ---- file-system queries ----
bool mmioFileExists(const std::string& name);
// -1 when the file cannot be queried.
std::int64_t mmioFileSize(const std::string& name);
// The absolute, normalised form of a name (no symlink resolution); empty stays empty.
std::string mmioFullPath(const std::string& name);
bool mmioFileReadOnly(const std::string& name);
// Free bytes on the file system that holds `name` (or its folder); -1 when unknown.
std::int64_t mmioDiskFree(const std::string& name);

namespace detail {
std::unique_ptr<MmioStream> OpenFileStream(const std::string& name, DWORD flags);
std::unique_ptr<MmioStream> OpenMemoryStream(const void* data, long size, bool writable);
} // namespace detail

} // namespace tunefold::platform
