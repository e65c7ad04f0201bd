#include "engine/sources/wave_io.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tunefold {

using namespace platform;

namespace {

constexpr FOURCC ckWAVE = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC ckFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC ckData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC ckFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC ckInfo = mmioFOURCC('I', 'N', 'F', 'O');
constexpr FOURCC ckDisp = mmioFOURCC('D', 'I', 'S', 'P');

constexpr std::array<FOURCC, 23> kInfoCodes = {
    mmioFOURCC('I', 'A', 'R', 'L'), mmioFOURCC('I', 'A', 'R', 'T'), mmioFOURCC('I', 'C', 'M', 'S'),
    mmioFOURCC('I', 'C', 'M', 'T'), mmioFOURCC('I', 'C', 'O', 'P'), mmioFOURCC('I', 'C', 'R', 'D'),
    mmioFOURCC('I', 'C', 'R', 'P'), mmioFOURCC('I', 'D', 'I', 'M'), mmioFOURCC('I', 'D', 'P', 'I'),
    mmioFOURCC('I', 'E', 'N', 'G'), mmioFOURCC('I', 'G', 'N', 'R'), mmioFOURCC('I', 'K', 'E', 'Y'),
    mmioFOURCC('I', 'L', 'G', 'T'), mmioFOURCC('I', 'M', 'E', 'D'), mmioFOURCC('I', 'N', 'A', 'M'),
    mmioFOURCC('I', 'P', 'L', 'T'), mmioFOURCC('I', 'P', 'R', 'D'), mmioFOURCC('I', 'S', 'B', 'J'),
    mmioFOURCC('I', 'S', 'F', 'T'), mmioFOURCC('I', 'S', 'H', 'P'), mmioFOURCC('I', 'S', 'R', 'C'),
    mmioFOURCC('I', 'S', 'R', 'F'), mmioFOURCC('I', 'T', 'C', 'H'),
};

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

HMMIO OpenFor(const TMMWaveIORecord& record, bool forParse) {
    (void)forParse;
    if (record.OpenMode == wioResource || record.OpenMode == wioMemory) {
        return mmioOpenMemory(record.Memory.data, record.Memory.size, false);
    }
    // Parsing and playing only read: a read-only handle also keeps a read-only file readable.
    HMMIO h = mmioOpenFile(record.FileName, MMIO_READ | MMIO_ALLOCBUF);
    return h;
}

// Remembers the standard subchunks of an INFO list body; the walk stops at a subchunk that does not
// fit inside the body.
void WalkInfo(TMMWaveIORecord& record) {
    const auto& body = record.InfoBody;
    std::size_t pos = 0;
    while (pos + 8 <= body.size()) {
        FOURCC code = Le32(body.data() + pos);
        std::uint32_t size = Le32(body.data() + pos + 4);
        if (size > body.size() - pos - 8) {
            break;
        }
        if (std::find(kInfoCodes.begin(), kInfoCodes.end(), code) != kInfoCodes.end()) {
            record.InfoList.push_back({code, static_cast<std::uint32_t>(pos + 8), size});
        }
        pos += 8 + static_cast<std::size_t>(size) + (size % 2);
    }
}

// Reads `size` bytes of a chunk body at the current position; false on a short read.
bool ReadBody(HMMIO h, std::vector<std::uint8_t>& out, std::uint32_t size) {
    try {
        out.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return size == 0 || mmioRead(h, out.data(), static_cast<long>(size)) == static_cast<long>(size);
}

int Parse(TMMWaveIORecord& rec, HMMIO h, FOURCC formType) {
    MMCKINFO riff;
    if (mmioDescend(h, riff, nullptr, 0) != MMSYSERR_NOERROR || riff.ckid != FOURCC_RIFF ||
        riff.fccType != formType) {
        return WIOERR_FILEERROR;
    }
    long fileSize = mmioSeek(h, 0, SEEK_FROM_END);
    if (fileSize < 0 || mmioSeek(h, static_cast<long>(riff.dwDataOffset) + 4, SEEK_FROM_START) < 0) {
        return WIOERR_FILEERROR;
    }
    // What the writer declared, before any cut: whether the outer size can be trusted decides below
    // whether the data chunk's own size can.
    const std::int64_t riffDeclaredEnd = static_cast<std::int64_t>(riff.dwDataOffset) + riff.cksize;
    if (static_cast<std::int64_t>(riff.dwDataOffset) + riff.cksize > fileSize) {
        riff.cksize = static_cast<DWORD>(fileSize - riff.dwDataOffset);
    }
    const std::int64_t riffEnd = static_cast<std::int64_t>(riff.dwDataOffset) + riff.cksize;
    rec.RiffChunk = riff;
    rec.FileSize = fileSize;

    bool fmtSeen = false, dataSeen = false, factSeen = false, dataNonZero = false;
    bool nextAfterData = false; // a chunk header was found after the data chunk
    std::int64_t dataEnd = fileSize;
    std::int64_t dataDeclared = 0; // the data chunk's size as written, before any cut
    std::uint32_t fmtBytes = 0;
    for (;;) {
        MMCKINFO ck;
        if (mmioDescend(h, ck, &riff, 0) != MMSYSERR_NOERROR) {
            break;
        }
        if (dataSeen && !nextAfterData) {
            nextAfterData = true;
            dataEnd = static_cast<std::int64_t>(ck.dwDataOffset) - 8;
        }
        const std::int64_t ckEnd = static_cast<std::int64_t>(ck.dwDataOffset) + ck.cksize;
        const DWORD declaredSize = ck.cksize;
        if (ckEnd > riffEnd) {
            if (fmtSeen && dataSeen) {
                break;
            }
            if (ckEnd > fileSize) {
                ck.cksize = static_cast<DWORD>(fileSize - ck.dwDataOffset);
            }
        }
        bool stop = false;
        if (ck.ckid == ckFmt) {
            if (fmtSeen) {
                break;
            }
            fmtSeen = true;
            // The format area holds at least the whole record; missing bytes (cbSize too) read as 0.
            std::size_t bytes = std::max<std::size_t>(sizeof(WAVEFORMATEX), ck.cksize);
            void* block = std::calloc(1, bytes);
            if (block == nullptr) {
                return WIOERR_NOMEMORY;
            }
            rec.Format.reset(static_cast<WAVEFORMATEX*>(block));
            rec.RecordSize = static_cast<std::uint32_t>(sizeof(TMMWaveIORecord) + bytes);
            if (ck.cksize > 0 &&
                mmioRead(h, block, static_cast<long>(ck.cksize)) != static_cast<long>(ck.cksize)) {
                return WIOERR_FILEERROR;
            }
            fmtBytes = static_cast<std::uint32_t>(bytes);
        } else if (ck.ckid == ckData) {
            if (dataSeen) {
                break;
            }
            dataSeen = true;
            dataNonZero = ck.cksize > 0;
            dataDeclared = declaredSize;
            rec.DataChunk = ck;
            rec.DataOffset = ck.dwDataOffset;
        } else if (ck.ckid == ckFact) {
            if (factSeen) {
                break;
            }
            factSeen = true; // the sample count used is always computed from the data size
        } else if (ck.ckid == FOURCC_LIST && ck.fccType == ckInfo) {
            if (ck.cksize >= 5) {
                if (!ReadBody(h, rec.InfoBody, ck.cksize - 4)) {
                    return WIOERR_FILEERROR;
                }
                WalkInfo(rec);
            }
        } else if (ck.ckid == ckDisp) {
            if (ck.cksize >= 5) {
                std::vector<std::uint8_t> body;
                if (!ReadBody(h, body, ck.cksize)) {
                    return WIOERR_FILEERROR;
                }
                TMMDispEntry entry;
                entry.type = Le32(body.data());
                entry.data.assign(body.begin() + 4, body.end());
                rec.DispList.push_back(std::move(entry));
            }
        }
        if (stop) {
            break;
        }
        if (mmioAscend(h, ck, 0) != MMSYSERR_NOERROR) {
            if (dataSeen && dataNonZero) {
                break;
            }
            return WIOERR_FILEERROR;
        }
    }
    if (!fmtSeen) {
        return WIOERR_NOFORMAT;
    }
    WAVEFORMATEX& f = *rec.Format;
    // The extra bytes a compressed format claims must lie inside the area read from the file.
    if (f.wFormatTag != WAVE_FORMAT_PCM && sizeof(WAVEFORMATEX) + f.cbSize > fmtBytes) {
        f.cbSize = static_cast<WORD>(fmtBytes - sizeof(WAVEFORMATEX));
    }
    // Frame rounding divides by the stored block size: a zero there makes the file unplayable.
    if (f.nBlockAlign == 0) {
        return WIOERR_BADFORMAT;
    }
    std::int64_t dataBytes = 0;
    if (dataSeen) {
        // A finished file says exactly how much audio it holds: its pad byte, an ID3 tag or other
        // bytes behind the RIFF are not audio. The search for the next chunk is only for writers
        // that never fixed their sizes: a data size of 0, one past the end of the file, or an outer
        // size that runs past the file (a streamed placeholder; a missing last pad byte is
        // forgiven) or does not cover the data it holds.
        const std::int64_t declaredEnd = rec.DataOffset + dataDeclared;
        const bool riffTrusted = riffDeclaredEnd <= fileSize + 1 && declaredEnd <= riffDeclaredEnd;
        if (dataDeclared > 0 && declaredEnd <= fileSize && riffTrusted) {
            dataEnd = declaredEnd;
        }
        dataBytes = std::max<std::int64_t>(0, dataEnd - rec.DataOffset);
        dataBytes -= dataBytes % f.nBlockAlign;
    }
    if (f.wFormatTag == WAVE_FORMAT_PCM) {
        f.nBlockAlign = static_cast<WORD>((std::uint32_t{f.nChannels} * f.wBitsPerSample) / 8);
        f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
        if (f.nBlockAlign == 0) {
            return WIOERR_BADFORMAT;
        }
    }
    // Every position conversion divides by the byte and the frame rate.
    if (f.nAvgBytesPerSec == 0 || f.nSamplesPerSec == 0) {
        return WIOERR_BADFORMAT;
    }
    rec.DataSize = dataBytes;
    rec.TotalSamples = WaveBytesToSamples(f, rec.DataSize);
    rec.EndSample = rec.TotalSamples;
    rec.Position = 0;
    rec.BytesLeft = 0;
    return WIOERR_NOERROR;
}

} // namespace

namespace {

// a * b / c rounded as the framework's MulDivRound rounds (half away from zero), for a of up to
// 63 bits and b, c of up to 32 bits: the product is split so that nothing overflows.
std::int64_t MulDivRound64(std::int64_t a, std::int64_t b, std::int64_t c) {
    if (c <= 0 || b < 0) {
        return -1;
    }
    if (a < 0) {
        return -MulDivRound64(-a, b, c);
    }
    const std::int64_t q = a / c;
    const auto rb = static_cast<std::uint64_t>(a % c) * static_cast<std::uint64_t>(b);
    const auto uc = static_cast<std::uint64_t>(c);
    return q * b + static_cast<std::int64_t>(rb / uc) + static_cast<std::int64_t>((2 * (rb % uc)) / uc);
}

std::int64_t RoundUpToBlock64(std::int64_t bytes, WORD blockAlign) {
    if (blockAlign == 0) {
        return bytes;
    }
    const std::int64_t rest = bytes % blockAlign;
    return rest == 0 ? bytes : bytes + (blockAlign - rest);
}

} // namespace

std::int64_t WaveBytesToSamples(const WAVEFORMATEX& f, std::int64_t bytes) {
    return MulDivRound64(bytes, f.nSamplesPerSec, f.nAvgBytesPerSec);
}
std::int64_t WaveSamplesToBytes(const WAVEFORMATEX& f, std::int64_t samples) {
    return RoundUpToBlock64(MulDivRound64(samples, f.nAvgBytesPerSec, f.nSamplesPerSec), f.nBlockAlign);
}
std::int64_t WaveSamplesToMs(const WAVEFORMATEX& f, std::int64_t samples) {
    return MulDivRound64(samples, 1000, f.nSamplesPerSec);
}
std::int64_t WaveMsToSamples(const WAVEFORMATEX& f, std::int64_t ms) {
    return MulDivRound64(ms, f.nSamplesPerSec, 1000);
}

int WaveIOOpenInfo(PWaveIORecord& record, const std::string& name, FOURCC formType, int mode,
                   const TMMWaveMemory* memory) {
    record = nullptr;
    auto rec = std::make_unique<TMMWaveIORecord>();
    rec->OpenMode = mode;
    rec->FileName = name;
    if (mode == wioResource || mode == wioMemory) {
        if (memory == nullptr) {
            return WIOERR_FILEERROR;
        }
        rec->Memory = *memory;
    } else if (mode != wioFile) {
        return WIOERR_FILEERROR;
    }
    HMMIO h = OpenFor(*rec, true);
    if (h == nullptr) {
        return WIOERR_FILEERROR;
    }
    int code = Parse(*rec, h, formType);
    mmioClose(h);
    if (code != WIOERR_NOERROR) {
        return code;
    }
    record = rec.release();
    return WIOERR_NOERROR;
}

bool IsWaveFile(const std::string& name, int mode) {
    PWaveIORecord rec = nullptr;
    if (WaveIOOpenInfo(rec, name, ckWAVE, mode) != WIOERR_NOERROR) {
        return false;
    }
    WaveIOClose(rec);
    return true;
}

int WaveIOReopen(TMMWaveIORecord& record) {
    if (record.Handle == nullptr) {
        record.Handle = OpenFor(record, false);
        if (record.Handle == nullptr) {
            return WIOERR_FILEERROR;
        }
    }
    return WaveIOSeek(record, record.Position) == WIOERR_NOERROR ? WIOERR_NOERROR : WIOERR_FILEERROR;
}

int WaveIOSetBuffer(TMMWaveIORecord& record, long size) {
    if (record.Handle == nullptr) {
        return WIOERR_FILEERROR;
    }
    if (record.OpenMode != wioFile) {
        return WIOERR_NOERROR;
    }
    return mmioSetBuffer(record.Handle, size) == MMSYSERR_NOERROR ? WIOERR_NOERROR : WIOERR_NOMEMORY;
}

int WaveIOSeek(TMMWaveIORecord& record, std::int64_t sample) {
    if (sample < 0 || record.Handle == nullptr || !record.Format) {
        return WIOERR_FILEERROR;
    }
    sample = record.TotalSamples > 0 ? std::min(sample, record.TotalSamples - 1) : 0;
    MMCKINFO ck;
    ck.ckid = ckData;
    if (mmioSeek(record.Handle, record.DataOffset - 8, SEEK_FROM_START) < 0 ||
        mmioDescend(record.Handle, ck, nullptr, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) {
        return WIOERR_FILEERROR;
    }
    const WAVEFORMATEX& f = *record.Format;
    const std::int64_t offset = std::min(WaveSamplesToBytes(f, sample), record.DataSize);
    if (mmioSeek(record.Handle, static_cast<long>(offset), SEEK_FROM_CURRENT) < 0) {
        return WIOERR_FILEERROR;
    }
    const std::int64_t total = std::min(WaveSamplesToBytes(f, record.TotalSamples), record.DataSize);
    record.BytesLeft = std::max<std::int64_t>(0, total - offset);
    record.Position = WaveBytesToSamples(f, offset);
    return WIOERR_NOERROR;
}

std::int32_t WaveIORead(TMMWaveIORecord* record, void* buffer, std::int32_t count) {
    if (record == nullptr || record->Handle == nullptr || !record->Format) {
        return -1;
    }
    if (record->BytesLeft <= 0) {
        return -1;
    }
    const auto want = static_cast<long>(std::min<std::int64_t>(std::max(count, 0), record->BytesLeft));
    long got = mmioRead(record->Handle, buffer, want);
    if (got < 0) {
        got = 0;
    }
    if (got < count) {
        record->BytesLeft = 0; // a short read marks the end
    } else {
        record->BytesLeft = std::max<std::int64_t>(0, record->BytesLeft - got);
    }
    record->Position = record->TotalSamples - WaveBytesToSamples(*record->Format, record->BytesLeft);
    return static_cast<std::int32_t>(got);
}

namespace {

// Finishes a file being written: the data chunk's size, a fact chunk with the frame count, the
// INFO list and the DISP chunks, then the outer size.
int FinishWritten(TMMWaveIORecord& record) {
    HMMIO h = record.Handle;
    int code = WIOERR_NOERROR;
    if (mmioAscend(h, record.DataChunk, 0) != MMSYSERR_NOERROR) {
        code = WIOERR_FILEERROR;
    }
    record.DataSize = record.DataChunk.cksize;
    record.TotalSamples = record.Format ? WaveBytesToSamples(*record.Format, record.DataSize) : 0;
    record.EndSample = record.TotalSamples;
    MMCKINFO fact;
    fact.ckid = ckFact;
    std::uint8_t count[4];
    const auto n = static_cast<std::uint32_t>(std::clamp<std::int64_t>(record.TotalSamples, 0, 0xFFFFFFFF));
    for (int i = 0; i < 4; ++i) {
        count[i] = static_cast<std::uint8_t>(n >> (8 * i));
    }
    if (mmioCreateChunk(h, fact, 0) != MMSYSERR_NOERROR || mmioWrite(h, count, 4) != 4 ||
        mmioAscend(h, fact, 0) != MMSYSERR_NOERROR) {
        code = WIOERR_FILEERROR;
    }
    if (!record.InfoBody.empty()) {
        MMCKINFO list;
        list.fccType = ckInfo;
        if (mmioCreateChunk(h, list, MMIO_CREATELIST) != MMSYSERR_NOERROR ||
            mmioWrite(h, record.InfoBody.data(), static_cast<long>(record.InfoBody.size())) !=
                static_cast<long>(record.InfoBody.size()) ||
            mmioAscend(h, list, 0) != MMSYSERR_NOERROR) {
            code = WIOERR_FILEERROR;
        }
    }
    for (const auto& disp : record.DispList) {
        MMCKINFO ck;
        ck.ckid = ckDisp;
        std::uint8_t type[4];
        for (int i = 0; i < 4; ++i) {
            type[i] = static_cast<std::uint8_t>(disp.type >> (8 * i));
        }
        if (mmioCreateChunk(h, ck, 0) != MMSYSERR_NOERROR || mmioWrite(h, type, 4) != 4 ||
            mmioWrite(h, disp.data.data(), static_cast<long>(disp.data.size())) !=
                static_cast<long>(disp.data.size()) ||
            mmioAscend(h, ck, 0) != MMSYSERR_NOERROR) {
            code = WIOERR_FILEERROR;
        }
    }
    if (mmioAscend(h, record.RiffChunk, 0) != MMSYSERR_NOERROR) {
        code = WIOERR_FILEERROR;
    }
    long size = mmioSeek(h, 0, SEEK_FROM_END);
    record.FileSize = size < 0 ? 0 : size;
    record.Writing = false;
    return code;
}

} // namespace

int WaveIOCloseFile(TMMWaveIORecord& record) {
    int code = WIOERR_NOERROR;
    if (record.Handle != nullptr) {
        if (record.Writing) {
            code = FinishWritten(record);
        }
        if (mmioClose(record.Handle) != MMSYSERR_NOERROR) {
            code = WIOERR_FILEERROR;
        }
        record.Handle = nullptr;
    }
    return code;
}

void WaveIOClose(PWaveIORecord& record) {
    if (record == nullptr) {
        return;
    }
    WaveIOCloseFile(*record);
    delete record;
    record = nullptr;
}

bool WaveFileExists(const std::string& name) {
    return mmioFileExists(name);
}

int WaveIOCreate(PWaveIORecord& record, const std::string& name, const WAVEFORMATEX& format) {
    record = nullptr;
    auto rec = std::make_unique<TMMWaveIORecord>();
    rec->OpenMode = wioFile;
    rec->FileName = name;
    rec->Format = DuplicateWaveFormat(&format);
    if (!rec->Format) {
        return WIOERR_NOMEMORY;
    }
    HMMIO h = mmioOpenFile(name, MMIO_READWRITE | MMIO_CREATE);
    if (h == nullptr) {
        return WIOERR_FILEERROR;
    }
    rec->Handle = h;
    rec->RiffChunk.fccType = ckWAVE;
    MMCKINFO fmt;
    fmt.ckid = ckFmt;
    const long fmtSize = static_cast<long>(WaveFormatSize(rec->Format.get()));
    rec->DataChunk.ckid = ckData;
    if (mmioCreateChunk(h, rec->RiffChunk, MMIO_CREATERIFF) != MMSYSERR_NOERROR ||
        mmioCreateChunk(h, fmt, 0) != MMSYSERR_NOERROR ||
        mmioWrite(h, rec->Format.get(), fmtSize) != fmtSize || mmioAscend(h, fmt, 0) != MMSYSERR_NOERROR ||
        mmioCreateChunk(h, rec->DataChunk, 0) != MMSYSERR_NOERROR) {
        mmioClose(h);
        return WIOERR_FILEERROR;
    }
    rec->DataOffset = rec->DataChunk.dwDataOffset;
    rec->Writing = true;
    record = rec.release();
    return WIOERR_NOERROR;
}

std::int32_t WaveIOWrite(TMMWaveIORecord& record, const void* buffer, std::int32_t count) {
    if (record.Handle == nullptr || !record.Writing || count < 0) {
        return -1;
    }
    long n = mmioWrite(record.Handle, buffer, count);
    if (n != count) {
        return -1;
    }
    record.BytesWritten += count;
    return count;
}

} // namespace tunefold
