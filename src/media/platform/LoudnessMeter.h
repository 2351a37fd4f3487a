#pragma once

#include <memory>
#include <optional>
#include <span>

namespace brisklet {

// Integrated loudness (EBU R128 / ITU-R BS.1770, in LUFS) and true peak of interleaved float
// sound, fed block by block.
class LoudnessMeter {
 public:
  LoudnessMeter(int sampleRate, int channels);
  LoudnessMeter(LoudnessMeter&&) noexcept;
  LoudnessMeter& operator=(LoudnessMeter&&) noexcept;
  ~LoudnessMeter();

  void add(std::span<const float> interleaved);
  // None while everything so far is silence (or too short to gate).
  std::optional<double> integratedLufs() const;
  // The largest true peak of any channel, in dBTP; none for silence.
  std::optional<double> truePeakDb() const;

 private:
  class State;
  std::unique_ptr<State> state_;
};

}  // namespace brisklet
