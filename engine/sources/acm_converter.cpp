#include "engine/sources/acm_converter.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace tunefold {

using namespace platform;

// ---------------------------------------------------------------------------------------------
// the manager binding

namespace {

std::mutex bindingLock;
TAcmBinding binding;
bool bound = false;

template <typename Fn>
void Bind(Fn& slot, const char* name) {
    slot = reinterpret_cast<Fn>(acmGetProcAddress(name));
}

void BindLocked() {
    binding = TAcmBinding{};
    Bind(binding.GetVersion, "acmGetVersion");
    if (binding.GetVersion == nullptr) {
        bound = true; // no version entry point: the manager is treated as absent
        return;
    }
    Bind(binding.FormatSuggest, "acmFormatSuggest");
    Bind(binding.StreamOpen, "acmStreamOpen");
    Bind(binding.StreamClose, "acmStreamClose");
    Bind(binding.StreamSize, "acmStreamSize");
    Bind(binding.StreamPrepareHeader, "acmStreamPrepareHeader");
    Bind(binding.StreamUnprepareHeader, "acmStreamUnprepareHeader");
    Bind(binding.StreamConvert, "acmStreamConvert");
    Bind(binding.Metrics, "acmMetrics");
    const DWORD version = binding.GetVersion();
    binding.usable = (version >> 16) >= 0x0200 && binding.FormatSuggest && binding.StreamOpen &&
                     binding.StreamClose && binding.StreamSize && binding.StreamPrepareHeader &&
                     binding.StreamUnprepareHeader && binding.StreamConvert;
    bound = true;
}

// A format record with room for the extra bytes of any suggestion.
struct FormatBuffer {
    alignas(8) std::uint8_t bytes[256] = {};
    WAVEFORMATEX* Get() { return reinterpret_cast<WAVEFORMATEX*>(bytes); }
};

bool Suggest(const WAVEFORMATEX& source, const WAVEFORMATEX& want, DWORD flags, WAVEFORMATEX& out) {
    FormatBuffer buffer;
    std::memcpy(buffer.bytes, &want, sizeof want);
    if (AcmManager().FormatSuggest(nullptr, &source, buffer.Get(), sizeof buffer.bytes, flags) !=
        MMSYSERR_NOERROR) {
        return false;
    }
    out = *buffer.Get();
    return out.wFormatTag != 0;
}

bool Query(const WAVEFORMATEX& source, const WAVEFORMATEX& destination, DWORD flags) {
    return AcmManager().StreamOpen(nullptr, nullptr, &source, &destination, nullptr, 0, 0,
                                   flags | ACM_STREAMOPENF_QUERY) == MMSYSERR_NOERROR;
}

DWORD QueryFlags(TMMConvertQuality quality) {
    return ACM_STREAMOPENF_QUERY | (quality == cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0);
}

// The formats a conversion passes through, source first; false when none is found. PCM is only
// ever the intermediate, so a step's formats hold no extra bytes beyond the source's.
bool Plan(const WAVEFORMATEX& source, const WAVEFORMATEX& destination, DWORD flags,
          std::vector<WAVEFORMATEX>& path, int depth) {
    if (depth > 8) {
        return false;
    }
    if (!WaveFormatsDiffer(&source, &destination)) {
        return true;
    }
    if (Query(source, destination, flags)) {
        path.push_back(destination);
        return true;
    }
    WAVEFORMATEX r{};
    if (source.wFormatTag == WAVE_FORMAT_PCM) {
        if (destination.nChannels == source.nChannels &&
            destination.nSamplesPerSec == source.nSamplesPerSec) {
            return false;
        }
        WAVEFORMATEX want{};
        want.nChannels = destination.nChannels;
        want.nSamplesPerSec = destination.nSamplesPerSec;
        if (!Suggest(source, want, ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC, r)) {
            return false;
        }
        if (!Query(r, destination, flags)) {
            want.wBitsPerSample = r.wBitsPerSample == 16 ? 8 : 16;
            if (!Suggest(source, want,
                         ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                             ACM_FORMATSUGGESTF_WBITSPERSAMPLE,
                         r)) {
                return false;
            }
        }
    } else {
        WAVEFORMATEX want{};
        want.wFormatTag = WAVE_FORMAT_PCM;
        want.nChannels = destination.nChannels;
        want.nSamplesPerSec = destination.nSamplesPerSec;
        if (!Suggest(source, want,
                     ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                         ACM_FORMATSUGGESTF_NSAMPLESPERSEC,
                     r) &&
            !Suggest(source, want, ACM_FORMATSUGGESTF_WFORMATTAG, r)) {
            return false;
        }
    }
    if (!Query(source, r, flags)) {
        return false;
    }
    path.push_back(r);
    if (WaveFormatsDiffer(&r, &destination)) {
        return Plan(r, destination, flags, path, depth + 1);
    }
    return true;
}

} // namespace

const TAcmBinding& AcmManager() {
    std::lock_guard guard(bindingLock);
    if (!bound) {
        BindLocked();
    }
    return binding;
}

void ReloadAcmManager() {
    std::lock_guard guard(bindingLock);
    BindLocked();
}

bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* destination, TMMConvertQuality quality) {
    if (!AcmManager().usable || source == nullptr || destination == nullptr) {
        return false;
    }
    std::vector<WAVEFORMATEX> path;
    return Plan(*source, *destination, QueryFlags(quality), path, 0);
}

WAVEFORMATEX SuggestPCMFormat(const WAVEFORMATEX* format) {
    WAVEFORMATEX result{};
    if (format == nullptr) {
        return result;
    }
    // PCM the chain can take as it is stays as it is; wider samples or more channels are what the
    // manager's PCM driver suggests for them.
    const bool plain = format->wFormatTag == WAVE_FORMAT_PCM &&
                       (format->wBitsPerSample == 8 || format->wBitsPerSample == 16) &&
                       format->nChannels <= 2;
    if (plain || (format->wFormatTag == WAVE_FORMAT_PCM && !AcmManager().usable)) {
        std::memcpy(&result, format, sizeof result);
        result.cbSize = 0;
        return result;
    }
    if (!AcmManager().usable) {
        return result;
    }
    WAVEFORMATEX want{};
    want.wFormatTag = WAVE_FORMAT_PCM;
    WAVEFORMATEX r{};
    if (Suggest(*format, want, ACM_FORMATSUGGESTF_WFORMATTAG, r) && Query(*format, r, 0)) {
        result = r;
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// the conversion chain

TMMConversionChain::~TMMConversionChain() {
    const auto& acm = AcmManager();
    for (auto& step : steps_) {
        if (step->stream != nullptr && acm.StreamClose != nullptr) {
            if ((step->header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) != 0) {
                step->header.cbSrcLength = step->header.dwReservedDriver[0];
                step->header.cbDstLength = step->header.dwReservedDriver[1];
                acm.StreamUnprepareHeader(step->stream, &step->header, 0);
            }
            acm.StreamClose(step->stream, 0);
        }
    }
}

bool TMMConversionChain::AddStep(const WAVEFORMATEX& from, const WAVEFORMATEX& to, DWORD openFlags,
                                 std::uint32_t sourceBytes) {
    const auto& acm = AcmManager();
    auto step = std::make_unique<TMMConversionStep>();
    if (acm.StreamOpen(&step->stream, nullptr, &from, &to, nullptr, 0, 0, openFlags) != MMSYSERR_NOERROR) {
        return false;
    }
    DWORD out = 0;
    if (acm.StreamSize(step->stream, sourceBytes, &out, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR ||
        out == 0) {
        acm.StreamClose(step->stream, 0);
        return false;
    }
    step->source.assign(sourceBytes, 0);
    step->destination.assign(out, 0);
    step->header.pbSrc = step->source.data();
    step->header.cbSrcLength = sourceBytes;
    step->header.pbDst = step->destination.data();
    step->header.cbDstLength = out;
    if (acm.StreamPrepareHeader(step->stream, &step->header, 0) != MMSYSERR_NOERROR) {
        acm.StreamClose(step->stream, 0);
        return false;
    }
    steps_.push_back(std::move(step));
    return true;
}

std::unique_ptr<TMMConversionChain> TMMConversionChain::Build(const WAVEFORMATEX& source,
                                                              const WAVEFORMATEX& destination,
                                                              TMMConvertQuality quality,
                                                              std::uint32_t chunkSize) {
    if (!AcmManager().usable) {
        return nullptr;
    }
    std::vector<WAVEFORMATEX> path;
    const DWORD flags = QueryFlags(quality);
    if (!Plan(source, destination, flags, path, 0) || path.empty()) {
        return nullptr;
    }
    auto chain = std::unique_ptr<TMMConversionChain>(new TMMConversionChain);
    const std::uint32_t block = std::max<std::uint32_t>(source.nBlockAlign, 1);
    chain->chunkSize_ = chunkSize >= block ? chunkSize - chunkSize % block : block;
    const DWORD openFlags = flags & ~ACM_STREAMOPENF_QUERY;
    // The first step takes the whole source record (extra bytes and all).
    const WAVEFORMATEX* from = &source;
    std::uint32_t sourceBytes = 4 * chain->chunkSize_;
    for (const auto& to : path) {
        if (!chain->AddStep(*from, to, openFlags, sourceBytes)) {
            return nullptr;
        }
        from = &to;
        // A later step reads the previous step's output; room for its carried bytes on top.
        sourceBytes = 2 * static_cast<std::uint32_t>(chain->steps_.back()->destination.size());
    }
    return chain;
}

std::int32_t TMMConversionChain::Run(std::uint32_t n, DWORD flags) {
    const auto& acm = AcmManager();
    n = std::min(n, chunkSize_);
    unconsumed_ = false;
    consumedNoOutput_ = false;
    std::uint32_t count = n;
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        TMMConversionStep& step = *steps_[i];
        std::uint8_t* buf = step.source.data();
        const std::uint64_t total64 = static_cast<std::uint64_t>(step.carried) + count;
        if (total64 > step.source.size()) {
            return -1; // a stream that keeps refusing its input: nothing sane can follow
        }
        if (i == 0) {
            if (step.carried > 0) {
                std::memmove(buf + step.carried, buf, count);
                std::memcpy(buf, step.carry.data(), step.carried);
            }
        } else {
            if (step.carried > 0) {
                std::memcpy(buf, step.carry.data(), step.carried);
            }
            std::memcpy(buf + step.carried, steps_[i - 1]->destination.data(), count);
        }
        const auto total = static_cast<std::uint32_t>(total64);
        step.sourceLength = total;
        step.header.cbSrcLength = total;
        step.header.cbDstLength = static_cast<DWORD>(step.destination.size());
        if (acm.StreamConvert(step.stream, &step.header, flags) != MMSYSERR_NOERROR) {
            return -1;
        }
        // The manager converts synchronously; a header it did not mark done is a failed call.
        for (int spin = 0; (step.header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE) == 0; ++spin) {
            if (spin > 1000000) {
                return -1;
            }
        }
        const std::uint32_t used = std::min<std::uint32_t>(step.header.cbSrcLengthUsed, total);
        const std::uint32_t out = std::min<std::uint32_t>(
            step.header.cbDstLengthUsed, static_cast<std::uint32_t>(step.destination.size()));
        step.carried = total - used;
        if (step.carried > 0) {
            step.carry.assign(buf + used, buf + total);
            unconsumed_ = true;
        }
        if (used > 0 && out == 0) {
            consumedNoOutput_ = true;
        }
        count = out;
    }
    converted_ = count;
    readPos_ = 0;
    return static_cast<std::int32_t>(count);
}

std::int32_t TMMConversionChain::ConvertChunk(std::uint32_t n) {
    return Run(n, ACM_STREAMCONVERTF_BLOCKALIGN);
}

std::int32_t TMMConversionChain::FlushChain(std::uint32_t n) {
    return Run(n, ACM_STREAMCONVERTF_END);
}

void TMMConversionChain::Reset() {
    const auto& acm = AcmManager();
    readPos_ = converted_;
    unconsumed_ = false;
    consumedNoOutput_ = false;
    for (auto& step : steps_) {
        step->carried = 0;
        step->sourceLength = 0;
        step->header.cbSrcLength = 0;
        step->header.cbDstLength = static_cast<DWORD>(step->destination.size());
        acm.StreamConvert(step->stream, &step->header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
    }
}

// ---------------------------------------------------------------------------------------------
// TMMACMConverter

TMMACMConverter::TMMACMConverter(TComponent* owner) : TMMDSPComponent(owner) {}

TMMACMConverter::~TMMACMConverter() {
    Destroying();
    chain_.reset();
}

void TMMACMConverter::SetEnabled(bool value) {
    if (value == enabled_) {
        return;
    }
    enabled_ = value;
    Reconfigure();
}

void TMMACMConverter::SetQuality(TMMConvertQuality value) {
    if (value == quality_) {
        return;
    }
    quality_ = value;
    Reconfigure();
}

void TMMACMConverter::InputFormatChanged(const WAVEFORMATEX* format) {
    if (format != nullptr && format == input_.get()) {
        return;
    }
    input_ = DuplicateWaveFormat(format);
    Reconfigure();
}

void TMMACMConverter::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format == nullptr || IsLoadingReadingOrDestroying()) {
        return;
    }
    requested_ = DuplicateWaveFormat(format);
    Reconfigure();
}

void TMMACMConverter::ComputeOutputFormat() {
    if (enabled_) {
        output_ = DuplicateWaveFormat(requested_.get());
    }
}

void TMMACMConverter::Reconfigure() {
    needed_ = false;
    possible_ = false;
    if (input_ && enabled_) {
        ComputeOutputFormat();
        if (output_ && WaveFormatsDiffer(input_.get(), output_.get())) {
            needed_ = true;
            if (CanConvert(input_.get(), output_.get(), quality_)) {
                possible_ = true;
                WaveFormatPtr copy = DuplicateWaveFormat(output_.get());
                SetOwnFormat(copy.get());
                return;
            }
        }
    }
    WaveFormatPtr copy = DuplicateWaveFormat(input_.get());
    SetOwnFormat(copy.get());
}

void TMMACMConverter::Loaded() {
    TMMDSPComponent::Loaded();
    Reconfigure();
}

void TMMACMConverter::Prepare() {
    if (prepared_ || !enabled_) {
        return;
    }
    if (needed_ && possible_) {
        chunkSize_ = 8192;
        chain_.reset();
        if (input_ && PWaveFormat() != nullptr) {
            chain_ = TMMConversionChain::Build(*input_, *PWaveFormat(), quality_, chunkSize_);
        }
        if (!chain_) {
            possible_ = false;
        }
    }
    if (needed_ && !possible_) {
        throw EMMConverterError("Unable to convert to destination format");
    }
    prepared_ = true;
}

void TMMACMConverter::Opened() {
    Prepare();
    TMMDSPComponent::Opened();
}

void TMMACMConverter::Closed() {
    if (prepared_) {
        running_ = false;
        prepared_ = false;
        chain_.reset();
    }
    TMMDSPComponent::Closed();
}

void TMMACMConverter::Started() {
    TMMDSPComponent::Started();
    if (prepared_ && !running_) {
        running_ = true;
        inputHasMore_ = false;
        inputExhausted_ = false;
    }
}

void TMMACMConverter::Stopped() {
    if (running_) {
        running_ = false;
        if (chain_) {
            chain_->DropConverted();
        }
    }
    TMMDSPComponent::Stopped();
}

void TMMACMConverter::Reset() {
    TMMDSPComponent::Reset();
    if (chain_) {
        chain_->Reset();
    }
    inputExhausted_ = false;
}

void TMMACMConverter::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (!(prepared_ && running_) || !Converting()) {
        if (prepared_ && running_ && FInput == nullptr) {
            return;
        }
        TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
        return;
    }
    if (FInput == nullptr) {
        return;
    }
    TMMBufferHeader* out = AsBufferHeader(lpWaveHdr);
    TMMConversionChain& chain = *chain_;
    std::uint32_t wanted = lpWaveHdr->dwBufferLength > lpWaveHdr->dwBytesRecorded
                               ? lpWaveHdr->dwBufferLength - lpWaveHdr->dwBytesRecorded
                               : 0;
    int attempts = 0;
    for (;;) {
        const std::uint32_t n = std::min(chain.Available(), wanted);
        if (n > 0) {
            std::memcpy(lpWaveHdr->lpData + lpWaveHdr->dwBytesRecorded,
                        chain.Converted() + chain.ReadPosition(), n);
            chain.Advance(n);
            lpWaveHdr->dwBytesRecorded += n;
            wanted -= n;
        }
        if (out->LoopRestart != 0 || !running_ || wanted == 0) {
            break;
        }
        std::uint32_t d = 0;
        if (!inputExhausted_) {
            private_ = TMMBufferHeader{};
            private_.wh.lpData = reinterpret_cast<char*>(chain.SourceBuffer());
            private_.wh.dwBufferLength = chain.ChunkSize();
            private_.LoopEnabled = out->LoopEnabled;
            private_.LoopCount = out->LoopCount;
            private_.LoopsLeft = out->LoopsLeft;
            private_.LoopRestart = out->LoopRestart;
            bool more = false;
            TMMDSPComponent::BufferLoad(AsWaveHdr(&private_), more);
            inputHasMore_ = more;
            out->LoopEnabled = private_.LoopEnabled;
            out->LoopCount = private_.LoopCount;
            out->LoopsLeft = private_.LoopsLeft;
            out->LoopRestart = private_.LoopRestart;
            d = std::min(private_.wh.dwBytesRecorded, chain.ChunkSize());
            if (!more || d == 0) {
                inputExhausted_ = true;
            }
        }
        if (d > 0) {
            if (!running_) {
                break;
            }
            if (chain.ConvertChunk(d) > 0) {
                continue;
            }
            if (!inputExhausted_) {
                if (++attempts >= 5) {
                    possible_ = false;
                    throw EMMConverterError("Unable to convert to destination format");
                }
                continue;
            }
            // The last input gave nothing yet: what it left in the streams comes with the flush.
            if (chain.FlushChain(0) <= 0) {
                break;
            }
            continue;
        }
        if (!running_) {
            break;
        }
        if (chain.FlushChain(0) <= 0) {
            break;
        }
    }
    MoreBuffers = inputHasMore_ || chain.Available() > 0 || chain.InputCarried();
}

void TMMACMConverter::BufferReady(PWaveHdr lpWaveHdr) {
    if (!(prepared_ && running_) || !Converting()) {
        if (prepared_ && running_ && FOutput == nullptr) {
            return;
        }
        TMMDSPComponent::BufferReady(lpWaveHdr);
        return;
    }
    if (FOutput == nullptr) {
        return;
    }
    TMMConversionChain& chain = *chain_;
    const std::uint32_t total = lpWaveHdr->dwBytesRecorded;
    const std::uint32_t limit = static_cast<std::uint32_t>(std::max(BufferSize(), 1));
    std::uint32_t pos = 0;
    while (pos < total && running_) {
        const std::uint32_t part = std::min(chain.ChunkSize(), total - pos);
        std::memcpy(chain.SourceBuffer(), lpWaveHdr->lpData + pos, part);
        pos += part;
        if (chain.ConvertChunk(part) <= 0 && !chain.InputCarried() && !chain.ConsumedWithoutOutput()) {
            possible_ = false;
            throw EMMConverterError("Unable to convert to destination format");
        }
        while (running_ && chain.Available() > 0) {
            const std::uint32_t n = std::min(chain.Available(), limit);
            private_ = TMMBufferHeader{};
            private_.wh.lpData =
                const_cast<char*>(reinterpret_cast<const char*>(chain.Converted() + chain.ReadPosition()));
            private_.wh.dwBufferLength = n;
            private_.wh.dwBytesRecorded = n;
            chain.Advance(n);
            TMMDSPComponent::BufferReady(AsWaveHdr(&private_));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TMMPCMConverter

TMMPCMConverter::TMMPCMConverter(TComponent* owner) : TMMACMConverter(owner) {}

void TMMPCMConverter::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != nullptr && !IsLoadingReadingOrDestroying() && !IsValidPCMFormat(format)) {
        throw EMMConverterError("Invalid WaveFormat");
    }
    TMMACMConverter::SetPWaveFormat(format);
}

void TMMPCMConverter::ComputeOutputFormat() {
    if (!Enabled()) {
        return;
    }
    WAVEFORMATEX result{};
    if (autoConvert_ && input_) {
        result = SuggestPCMFormat(input_.get());
    } else if (input_) {
        const WAVEFORMATEX s = SuggestPCMFormat(input_.get());
        int bits = s.wBitsPerSample, channels = s.nChannels;
        DWORD rate = s.nSamplesPerSec;
        if (required_.Contains(rpBits)) {
            bits = 8 * (bitLength_ + 1);
        }
        if (required_.Contains(rpChannels)) {
            channels = mode_ + 1;
        }
        if (required_.Contains(rpSampleRate)) {
            rate = static_cast<DWORD>(sampleRate_);
        }
        MakePCMFormat(result, bits, channels, rate);
    } else {
        MakePCMFormat(result, 8 * (bitLength_ + 1), mode_ + 1, static_cast<DWORD>(sampleRate_));
    }
    if (result.wFormatTag != 0) {
        output_ = DuplicateWaveFormat(&result);
    }
}

void TMMPCMConverter::Update() {
    ComputeOutputFormat();
    const WAVEFORMATEX* f = output_ ? output_.get() : input_.get();
    WaveFormatPtr copy = DuplicateWaveFormat(f);
    SetPWaveFormat(copy.get());
}

void TMMPCMConverter::SetAutoConvert(bool value) {
    if (value == autoConvert_) {
        return;
    }
    autoConvert_ = value;
    Update();
}

void TMMPCMConverter::SetBitLength(TMMBits value) {
    if (value == bitLength_) {
        return;
    }
    bitLength_ = value;
    Update();
}

void TMMPCMConverter::SetMode(TMMMode value) {
    if (value != mMono && value != mStereo) {
        return;
    }
    if (value == mode_) {
        return;
    }
    mode_ = value;
    Update();
}

void TMMPCMConverter::SetSampleRate(std::int32_t value) {
    value = Clamp(value, 8000, 88200);
    if (value == sampleRate_) {
        return;
    }
    sampleRate_ = value;
    Update();
}

void TMMPCMConverter::SetRequired(TMMRequiredParams value) {
    if (value == required_) {
        return;
    }
    required_ = value;
    Update();
}

} // namespace tunefold
