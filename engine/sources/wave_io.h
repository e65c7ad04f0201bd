// RIFF WAVE parsing and reading: a file is parsed once into a TMMWaveIORecord (format, where the
// data lies, how many frames it holds, the INFO and DISP metadata) and closed again; it is reopened
// for playing, seeked by sample frame and read sequentially. Files are also written here (the
// sink mode of the wave file stage).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/framework/pcm.h"
#include "platform/mmio.h"

namespace tunefold {

// Open modes of a record.
constexpr int wioFile = 1;     // a file name
constexpr int wioResource = 2; // a wave resource, read through a memory file
constexpr int wioMemory = 4;   // a caller-prepared memory file description
constexpr int wioHandle = 8;   // a plain file handle

// Result codes of the routines.
constexpr int WIOERR_NOERROR = 0;
constexpr int WIOERR_NOFORMAT = 101; // no "fmt " chunk
constexpr int WIOERR_FILEERROR = 106;
constexpr int WIOERR_NOMEMORY = 107;
constexpr int WIOERR_BADFORMAT = 108; // a format whose frame or byte rate is zero

// A memory file description for wioMemory (and the resource mode): the bytes stay the caller's.
struct TMMWaveMemory {
    const void* data = nullptr;
    long size = 0;
};

// One remembered INFO subchunk: its code and where its text lies within the list body.
struct TMMInfoEntry {
    platform::FOURCC code = 0;
    std::uint32_t offset = 0; // of the text, from the start of the list body
    std::uint32_t size = 0;
};

struct TMMDispEntry {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

struct TMMWaveIORecord {
    std::uint32_t RecordSize = 0;
    int OpenMode = wioFile;
    platform::HMMIO Handle = nullptr;
    platform::MMCKINFO RiffChunk;
    platform::MMCKINFO DataChunk;
    // Sizes, offsets and positions are 64-bit: a RIFF file holds up to 4 GiB of data.
    std::int64_t FileSize = 0;
    std::int64_t DataSize = 0;
    std::int64_t DataOffset = 0;
    std::int64_t TotalSamples = 0;
    std::int64_t EndSample = 0;
    std::int64_t BytesLeft = 0;
    std::int64_t Position = 0;
    std::string FileName;
    std::vector<TMMDispEntry> DispList;
    std::vector<std::uint8_t> InfoBody; // the INFO list body after its form type
    std::vector<TMMInfoEntry> InfoList;
    WaveFormatPtr Format;
    // For memory records: the bytes the memory file reads.
    TMMWaveMemory Memory;
    // Set for a record created for writing: the data chunk is open and sizes are fixed on close.
    bool Writing = false;
    std::int64_t BytesWritten = 0;
};
using PWaveIORecord = TMMWaveIORecord*;

// The format conversions of the framework (same rounding) for the 64-bit sizes and positions of
// wave files.
std::int64_t WaveBytesToSamples(const WAVEFORMATEX& format, std::int64_t bytes);
std::int64_t WaveSamplesToBytes(const WAVEFORMATEX& format, std::int64_t samples);
std::int64_t WaveSamplesToMs(const WAVEFORMATEX& format, std::int64_t samples);
std::int64_t WaveMsToSamples(const WAVEFORMATEX& format, std::int64_t ms);

// Parses a WAVE file (mode wioFile: `name` is a file name) or a memory image (modes wioResource
// and wioMemory: `memory` describes it). 0 and a new record with its file closed, or a code and
// no record.
int WaveIOOpenInfo(PWaveIORecord& record, const std::string& name, platform::FOURCC formType, int mode,
                   const TMMWaveMemory* memory = nullptr);
bool IsWaveFile(const std::string& name, int mode);
int WaveIOReopen(TMMWaveIORecord& record);
int WaveIOSetBuffer(TMMWaveIORecord& record, long size);
int WaveIOSeek(TMMWaveIORecord& record, std::int64_t sample);
// Bytes read, 0 when the file yields nothing, -1 without an open file or when no bytes are left.
std::int32_t WaveIORead(TMMWaveIORecord* record, void* buffer, std::int32_t count);
// Closes the file (a record being written gets its sizes, fact chunk and metadata first) and frees
// the record.
void WaveIOClose(PWaveIORecord& record);
// Closes the file of a record but keeps the record (parsed, closed).
int WaveIOCloseFile(TMMWaveIORecord& record);
bool WaveFileExists(const std::string& name);

// Creates `name` as a WAVE file for `format` with an open data chunk; the record is new.
int WaveIOCreate(PWaveIORecord& record, const std::string& name, const WAVEFORMATEX& format);
// Appends data to a record being written; the count written or -1.
std::int32_t WaveIOWrite(TMMWaveIORecord& record, const void* buffer, std::int32_t count);

} // namespace tunefold
