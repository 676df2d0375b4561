#include "platform/win32/movie_audio.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

// clang-format off
#include "platform/win32/win32_api.h"
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>
// clang-format on

namespace dbx::win32 {
namespace {

// ------------------------------------------------------------------------------------------
// waveOut: a thread keeps a few buffers queued, refilling each from the source as the device
// hands it back.

constexpr int kBuffers = 4;
constexpr std::size_t kFramesPerBuffer = 1024;  // about 23 ms each

class WaveOutput final : public AudioOutput {
 public:
  explicit WaveOutput(AudioSource source) : source_(std::move(source)) {}

  ~WaveOutput() override {
    if (thread_) {
      stop_ = true;
      SetEvent(event_);
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    }
    if (wave_) {
      waveOutReset(wave_);
      for (auto& h : headers_)
        if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(wave_, &h, sizeof h);
      waveOutClose(wave_);
    }
    if (event_) CloseHandle(event_);
  }

  bool Open() {
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event_) return false;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;
    if (waveOutOpen(&wave_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event_), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR) {
      wave_ = nullptr;
      return false;
    }
    for (int i = 0; i < kBuffers; ++i) {
      buffers_[i].assign(kFramesPerBuffer * 2, 0);
      WAVEHDR& h = headers_[i];
      h = WAVEHDR{};
      h.lpData = reinterpret_cast<LPSTR>(buffers_[i].data());
      h.dwBufferLength = static_cast<DWORD>(kFramesPerBuffer * 4);
      if (waveOutPrepareHeader(wave_, &h, sizeof h) != MMSYSERR_NOERROR) return false;
      h.dwFlags |= WHDR_DONE;  // free to fill
    }
    thread_ = CreateThread(nullptr, 0, &WaveOutput::Run, this, 0, nullptr);
    return thread_ != nullptr;
  }

 private:
  static DWORD WINAPI Run(void* self) {
    static_cast<WaveOutput*>(self)->Loop();
    return 0;
  }

  void Loop() {
    while (!stop_) {
      for (int i = 0; i < kBuffers && !stop_; ++i) {
        WAVEHDR& h = headers_[i];
        if (!(h.dwFlags & WHDR_DONE)) continue;
        source_(buffers_[i].data(), kFramesPerBuffer);
        h.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        if (waveOutWrite(wave_, &h, sizeof h) != MMSYSERR_NOERROR) {
          h.dwFlags |= WHDR_DONE;
          Sleep(20);  // a device that refuses buffers is not spun on
        }
      }
      WaitForSingleObject(event_, 100);
    }
  }

  AudioSource source_;
  HWAVEOUT wave_ = nullptr;
  HANDLE event_ = nullptr;
  HANDLE thread_ = nullptr;
  std::atomic<bool> stop_{false};
  std::array<std::vector<std::int16_t>, kBuffers> buffers_;
  std::array<WAVEHDR, kBuffers> headers_{};
};

// ------------------------------------------------------------------------------------------
// MP3 through the audio compression manager: bytes in, 16-bit PCM of the same rate and channels
// out. Input that does not fill a whole block waits for the next call.

class AcmMp3Decoder final : public Mp3Decoder {
 public:
  AcmMp3Decoder(HACMSTREAM stream, int rate, int channels)
      : stream_(stream), rate_(rate), channels_(channels) {}
  ~AcmMp3Decoder() override { acmStreamClose(stream_, 0); }

  bool Feed(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out) override {
    if (failed_) return false;
    pending_.insert(pending_.end(), data, data + size);
    constexpr std::size_t kChunk = 8 << 10;
    while (!pending_.empty()) {
      const std::size_t take = std::min(kChunk, pending_.size());
      std::vector<std::uint8_t> in(pending_.begin(),
                                   pending_.begin() + static_cast<std::ptrdiff_t>(take));
      // Room for everything the input can hold (a byte of MP3 holds at most 16 samples per
      // channel, at 8 kbit/s and 8 kHz) and for what the decoder held back from the last call:
      // the size the manager suggests can be too small for a decoder that carries samples over,
      // and what does not fit is lost.
      DWORD outBytes = 0;
      if (acmStreamSize(stream_, static_cast<DWORD>(take), &outBytes, ACM_STREAMSIZEF_SOURCE) != 0)
        outBytes = 0;
      outBytes = std::max<DWORD>(outBytes, static_cast<DWORD>(take * 64 + 4 * 1152 * 4));
      std::vector<std::uint8_t> pcm(outBytes);
      ACMSTREAMHEADER h{};
      h.cbStruct = sizeof h;
      h.pbSrc = in.data();
      h.cbSrcLength = static_cast<DWORD>(take);
      h.pbDst = pcm.data();
      h.cbDstLength = outBytes;
      if (acmStreamPrepareHeader(stream_, &h, 0) != 0) {
        failed_ = true;
        return false;
      }
      const DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN | (started_ ? 0 : ACM_STREAMCONVERTF_START);
      const MMRESULT rc = acmStreamConvert(stream_, &h, flags);
      started_ = true;
      const std::size_t used = rc == 0 ? h.cbSrcLengthUsed : 0;
      const std::size_t produced = rc == 0 ? h.cbDstLengthUsed : 0;
      acmStreamUnprepareHeader(stream_, &h, 0);
      if (rc != 0) {
        failed_ = true;
        return false;
      }
      const auto* samples = reinterpret_cast<const std::int16_t*>(pcm.data());
      out.insert(out.end(), samples, samples + produced / 2);
      if (used == 0) break;  // less than a block: wait for more
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
    }
    // A stream that never converts anything keeps at most a little of its input.
    if (pending_.size() > (64u << 10)) pending_.clear();
    return true;
  }
  int SampleRate() const override { return rate_; }
  int Channels() const override { return channels_; }

 private:
  HACMSTREAM stream_;
  int rate_, channels_;
  std::vector<std::uint8_t> pending_;
  bool started_ = false;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<AudioOutput> OpenWaveOutput(AudioSource source) {
  if (!source || waveOutGetNumDevs() == 0) return nullptr;
  auto out = std::make_unique<WaveOutput>(std::move(source));
  if (!out->Open()) return nullptr;
  return out;
}

std::unique_ptr<Mp3Decoder> CreateAcmMp3Decoder(int rate, int channels) {
  if (rate <= 0 || (channels != 1 && channels != 2)) return nullptr;
  MPEGLAYER3WAVEFORMAT mp3{};
  mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  mp3.wfx.nChannels = static_cast<WORD>(channels);
  mp3.wfx.nSamplesPerSec = static_cast<DWORD>(rate);
  mp3.wfx.nAvgBytesPerSec = 128000 / 8;
  mp3.wfx.nBlockAlign = 1;
  mp3.wfx.wBitsPerSample = 0;
  mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  mp3.wID = MPEGLAYER3_ID_MPEG;
  mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
  mp3.nBlockSize = static_cast<WORD>(144 * 128000 / rate);
  mp3.nFramesPerBlock = 1;
  mp3.nCodecDelay = 1393;
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = static_cast<WORD>(channels);
  pcm.nSamplesPerSec = static_cast<DWORD>(rate);
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<WORD>(2 * channels);
  pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
  HACMSTREAM stream = nullptr;
  if (acmStreamOpen(&stream, nullptr, &mp3.wfx, &pcm, nullptr, 0, 0, 0) != 0) return nullptr;
  return std::make_unique<AcmMp3Decoder>(stream, rate, channels);
}

}  // namespace dbx::win32
