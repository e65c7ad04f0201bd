// The converter stages: TMMACMConverter converts its input to a requested format through the audio
// compression manager, chaining several conversion streams when no single one does the job;
// TMMPCMConverter derives the PCM format it must deliver from its settings. When no conversion is
// needed, or none is possible, both pass their input through untouched.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"
#include "engine/framework/mm_types.h"
#include "platform/acm/acm.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMConverterError, EMMError);

enum TMMConvertQuality { cqHigh, cqLow };
enum TMMRequiredParam { rpBits, rpChannels, rpSampleRate };

class TMMRequiredParams {
public:
    constexpr TMMRequiredParams() = default;
    constexpr TMMRequiredParams(std::initializer_list<TMMRequiredParam> members) {
        for (auto m : members) {
            bits_ |= 1u << m;
        }
    }
    constexpr bool Contains(TMMRequiredParam m) const { return (bits_ & (1u << m)) != 0; }
    constexpr bool operator==(const TMMRequiredParams&) const = default;

private:
    unsigned bits_ = 0;
};

// The compression manager as the converter binds it: looked up by name on first use.
struct TAcmBinding {
    decltype(&platform::acmGetVersion) GetVersion = nullptr;
    decltype(&platform::acmFormatSuggest) FormatSuggest = nullptr;
    decltype(&platform::acmStreamOpen) StreamOpen = nullptr;
    decltype(&platform::acmStreamClose) StreamClose = nullptr;
    decltype(&platform::acmStreamSize) StreamSize = nullptr;
    decltype(&platform::acmStreamPrepareHeader) StreamPrepareHeader = nullptr;
    decltype(&platform::acmStreamUnprepareHeader) StreamUnprepareHeader = nullptr;
    decltype(&platform::acmStreamConvert) StreamConvert = nullptr;
    decltype(&platform::acmMetrics) Metrics = nullptr;
    // Version 2.00 or later with every entry point the converter calls.
    bool usable = false;
};
const TAcmBinding& AcmManager();
// Binds the manager again (tests switch it off and on).
void ReloadAcmManager();

// One conversion stream of a chain with its buffers.
struct TMMConversionStep {
    platform::HACMSTREAM stream = nullptr;
    platform::ACMSTREAMHEADER header;
    std::vector<std::uint8_t> source;      // input of this step (carried bytes first)
    std::vector<std::uint8_t> destination; // output of this step
    std::vector<std::uint8_t> carry;       // source bytes the last call did not use
    std::uint32_t carried = 0;
    std::uint32_t sourceLength = 0;
};

class TMMConversionChain {
public:
    ~TMMConversionChain();
    std::uint32_t ChunkSize() const { return chunkSize_; }
    // Where the caller puts up to ChunkSize() bytes of input.
    std::uint8_t* SourceBuffer() { return steps_.front()->source.data(); }
    const std::uint8_t* Converted() const { return steps_.back()->destination.data(); }
    std::uint32_t Available() const { return converted_ - readPos_; }
    // The most one conversion call can yield (the last step's destination buffer).
    std::uint32_t Capacity() const { return static_cast<std::uint32_t>(steps_.back()->destination.size()); }
    std::uint32_t ReadPosition() const { return readPos_; }
    void Advance(std::uint32_t n) { readPos_ += n; }
    void DropConverted() { readPos_ = converted_; }
    bool InputCarried() const { return unconsumed_; }
    bool ConsumedWithoutOutput() const { return consumedNoOutput_; }
    std::size_t StepCount() const { return steps_.size(); }

    // Converts n bytes at SourceBuffer(); the converted byte count, -1 on a manager error.
    std::int32_t ConvertChunk(std::uint32_t n);
    // The same with the end flag: the streams give what they hold.
    std::int32_t FlushChain(std::uint32_t n);
    void Reset();

    // Builds the chain from `source` to `destination` (the same decisions as CanConvert, opening
    // real streams); none when it cannot be built.
    static std::unique_ptr<TMMConversionChain> Build(const WAVEFORMATEX& source,
                                                     const WAVEFORMATEX& destination,
                                                     TMMConvertQuality quality, std::uint32_t chunkSize);

private:
    std::int32_t Run(std::uint32_t n, DWORD flags);
    bool AddStep(const WAVEFORMATEX& from, const WAVEFORMATEX& to, DWORD openFlags,
                 std::uint32_t sourceBytes);

    std::uint32_t chunkSize_ = 0;
    std::vector<std::unique_ptr<TMMConversionStep>> steps_;
    std::uint32_t converted_ = 0;
    std::uint32_t readPos_ = 0;
    bool unconsumed_ = false;
    bool consumedNoOutput_ = false;
};

// Query only: can the manager turn `source` into `destination`, in one stream or a chain.
bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* destination, TMMConvertQuality quality);
// The PCM format the manager suggests for `format` (the format itself for PCM), zeros when none.
WAVEFORMATEX SuggestPCMFormat(const WAVEFORMATEX* format);

class TMMACMConverter : public TMMDSPComponent {
public:
    explicit TMMACMConverter(TComponent* owner = nullptr);
    ~TMMACMConverter() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    TMMConvertQuality Quality() const { return quality_; }
    void SetQuality(TMMConvertQuality value);

    const WAVEFORMATEX* InputFormat() const { return input_.get(); }
    const WAVEFORMATEX* OutputFormat() const { return output_.get(); }
    bool ConversionNeeded() const { return needed_; }
    bool ConversionPossible() const { return possible_; }
    bool Prepared() const { return prepared_; }
    const TMMConversionChain* Chain() const { return chain_.get(); }

    void InputFormatChanged(const WAVEFORMATEX* format) override;
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Loaded() override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Reset() override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;
    void BufferReady(PWaveHdr lpWaveHdr) override;

protected:
    virtual void ComputeOutputFormat();
    void Reconfigure();
    void Prepare();
    void SetOwnFormat(const WAVEFORMATEX* format) { TMMDSPComponent::SetPWaveFormat(format); }

    WaveFormatPtr input_;
    WaveFormatPtr requested_;
    WaveFormatPtr output_;

private:
    bool Converting() const { return needed_ && possible_ && chain_ != nullptr; }

    bool enabled_ = true;
    TMMConvertQuality quality_ = cqLow;
    bool needed_ = false;
    bool possible_ = false;
    bool prepared_ = false;
    bool running_ = false;
    std::uint32_t chunkSize_ = 0;
    std::unique_ptr<TMMConversionChain> chain_;
    bool inputHasMore_ = false;
    bool inputExhausted_ = false;
    TMMBufferHeader private_{};
};

class TMMPCMConverter : public TMMACMConverter {
public:
    explicit TMMPCMConverter(TComponent* owner = nullptr);

    bool AutoConvert() const { return autoConvert_; }
    void SetAutoConvert(bool value);
    TMMBits BitLength() const { return bitLength_; }
    void SetBitLength(TMMBits value);
    TMMMode Mode() const { return mode_; }
    void SetMode(TMMMode value);
    std::int32_t SampleRate() const { return sampleRate_; }
    void SetSampleRate(std::int32_t value);
    TMMRequiredParams Required() const { return required_; }
    void SetRequired(TMMRequiredParams value);

    void SetPWaveFormat(const WAVEFORMATEX* format) override;

protected:
    void ComputeOutputFormat() override;

private:
    void Update();

    bool autoConvert_ = true;
    TMMBits bitLength_ = b8Bit;
    TMMMode mode_ = mMono;
    std::int32_t sampleRate_ = 11025;
    TMMRequiredParams required_{rpBits, rpChannels, rpSampleRate};
};

} // namespace tunefold
