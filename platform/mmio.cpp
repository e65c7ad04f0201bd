#include "platform/mmio.h"

#include <cstring>
#include <limits>

namespace tunefold::platform {

namespace {

bool ReadExact(MmioStream& s, void* buffer, long count) {
    return s.Read(buffer, count) == count;
}

// The furthest offset the streams can seek to.
constexpr std::int64_t kMaxOffset = std::numeric_limits<long>::max();

DWORD Le32(const std::uint8_t* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

void PutLe32(std::uint8_t* p, DWORD v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

} // namespace

HMMIO mmioOpenFile(const std::string& name, DWORD flags) {
    auto stream = detail::OpenFileStream(name, flags);
    if (!stream) {
        return nullptr;
    }
    return new MmioFile(std::move(stream));
}

HMMIO mmioOpenMemory(const void* data, long size, bool writable) {
    if (size < 0 || (data == nullptr && size > 0)) {
        return nullptr;
    }
    return new MmioFile(detail::OpenMemoryStream(data, size, writable));
}

MMRESULT mmioClose(HMMIO handle) {
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    // Closing hands the data to the system; it does not wait for the disk (mmioFlush does).
    bool closed = handle->Stream().Close();
    delete handle;
    return closed ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

long mmioRead(HMMIO handle, void* buffer, long count) {
    if (handle == nullptr || count < 0) {
        return -1;
    }
    return handle->Stream().Read(buffer, count);
}

long mmioWrite(HMMIO handle, const void* buffer, long count) {
    if (handle == nullptr || count < 0) {
        return -1;
    }
    return handle->Stream().Write(buffer, count);
}

long mmioSeek(HMMIO handle, long offset, int origin) {
    if (handle == nullptr) {
        return -1;
    }
    return handle->Stream().Seek(offset, origin);
}

MMRESULT mmioSetBuffer(HMMIO handle, long bytes) {
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    return handle->Stream().SetBuffer(bytes) ? MMSYSERR_NOERROR : MMIOERR_OUTOFMEMORY;
}

MMRESULT mmioFlush(HMMIO handle) {
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    return handle->Stream().Flush() ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

MMRESULT mmioDescend(HMMIO handle, MMCKINFO& chunk, const MMCKINFO* parent, DWORD flags) {
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    MmioStream& s = handle->Stream();
    const FOURCC wantedId = chunk.ckid;
    const FOURCC wantedType = chunk.fccType;
    // The parent's end bounds the search; parents of the RIFF/LIST kind start with their form type.
    const std::int64_t parentEnd =
        parent != nullptr ? static_cast<std::int64_t>(parent->dwDataOffset) + parent->cksize : -1;
    for (;;) {
        long pos = s.Seek(0, SEEK_FROM_CURRENT);
        if (pos < 0) {
            return MMIOERR_CANNOTSEEK;
        }
        if (parentEnd >= 0 && pos + 8 > parentEnd) {
            return MMIOERR_CHUNKNOTFOUND;
        }
        std::uint8_t header[8];
        if (!ReadExact(s, header, 8)) {
            return MMIOERR_CHUNKNOTFOUND;
        }
        MMCKINFO found;
        found.ckid = Le32(header);
        found.cksize = Le32(header + 4);
        found.dwDataOffset = static_cast<std::int64_t>(pos) + 8;
        found.fccType = 0;
        found.dwFlags = 0;
        const bool hasType = found.ckid == FOURCC_RIFF || found.ckid == FOURCC_LIST;
        if (hasType) {
            std::uint8_t type[4];
            if (!ReadExact(s, type, 4)) {
                return MMIOERR_CHUNKNOTFOUND;
            }
            found.fccType = Le32(type);
        }
        bool match = true;
        if ((flags & MMIO_FINDCHUNK) != 0) {
            match = found.ckid == wantedId;
        } else if ((flags & MMIO_FINDRIFF) != 0) {
            match = found.ckid == FOURCC_RIFF && found.fccType == wantedType;
        } else if ((flags & MMIO_FINDLIST) != 0) {
            match = found.ckid == FOURCC_LIST && found.fccType == wantedType;
        }
        if (match) {
            chunk = found;
            return MMSYSERR_NOERROR;
        }
        std::int64_t next = static_cast<std::int64_t>(found.dwDataOffset) + found.cksize + (found.cksize & 1);
        if (next > kMaxOffset || s.Seek(static_cast<long>(next), SEEK_FROM_START) < 0) {
            return MMIOERR_CHUNKNOTFOUND;
        }
    }
}

MMRESULT mmioAscend(HMMIO handle, MMCKINFO& chunk, DWORD /*flags*/) {
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    MmioStream& s = handle->Stream();
    if ((chunk.dwFlags & MMIO_DIRTY) != 0) {
        long end = s.Seek(0, SEEK_FROM_CURRENT);
        if (end < 0 || end < chunk.dwDataOffset) {
            return MMIOERR_CANNOTSEEK;
        }
        if (end - chunk.dwDataOffset > 0xFFFFFFFF) {
            return MMIOERR_CANNOTWRITE; // more than a RIFF size can say
        }
        chunk.cksize = static_cast<DWORD>(end - chunk.dwDataOffset);
        if ((chunk.cksize & 1) != 0) {
            const std::uint8_t pad = 0;
            if (s.Write(&pad, 1) != 1) {
                return MMIOERR_CANNOTWRITE;
            }
        }
        std::uint8_t size[4];
        PutLe32(size, chunk.cksize);
        if (s.Seek(static_cast<long>(chunk.dwDataOffset) - 4, SEEK_FROM_START) < 0 || s.Write(size, 4) != 4) {
            return MMIOERR_CANNOTWRITE;
        }
        chunk.dwFlags &= ~MMIO_DIRTY;
    }
    std::int64_t next = static_cast<std::int64_t>(chunk.dwDataOffset) + chunk.cksize + (chunk.cksize & 1);
    if (next > kMaxOffset) {
        return MMIOERR_CANNOTSEEK;
    }
    // A last chunk of odd size often comes without its pad byte: the end of the stream counts.
    long size = s.Size();
    if (!s.Writable() && (chunk.cksize & 1) != 0 && next == static_cast<std::int64_t>(size) + 1) {
        next = size;
    }
    if (s.Seek(static_cast<long>(next), SEEK_FROM_START) < 0) {
        return MMIOERR_CANNOTSEEK;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO handle, MMCKINFO& chunk, DWORD flags) {
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    MmioStream& s = handle->Stream();
    long pos = s.Seek(0, SEEK_FROM_CURRENT);
    if (pos < 0) {
        return MMIOERR_CANNOTSEEK;
    }
    if ((flags & MMIO_CREATERIFF) != 0) {
        chunk.ckid = FOURCC_RIFF;
    } else if ((flags & MMIO_CREATELIST) != 0) {
        chunk.ckid = FOURCC_LIST;
    }
    std::uint8_t header[12];
    PutLe32(header, chunk.ckid);
    PutLe32(header + 4, chunk.cksize);
    long bytes = 8;
    if (chunk.ckid == FOURCC_RIFF || chunk.ckid == FOURCC_LIST) {
        PutLe32(header + 8, chunk.fccType);
        bytes = 12;
    }
    if (s.Write(header, bytes) != bytes) {
        return MMIOERR_CANNOTWRITE;
    }
    chunk.dwDataOffset = static_cast<std::int64_t>(pos) + 8;
    chunk.dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

} // namespace tunefold::platform
