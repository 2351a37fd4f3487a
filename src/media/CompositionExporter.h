#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <stop_token>

#include "media/CompositionBuilder.h"

namespace brisklet {

class CompositionExporterError : public std::runtime_error {
 public:
  enum class Case { cannotCreateSession, nothingToExport };

  static CompositionExporterError cannotCreateSession();
  static CompositionExporterError nothingToExport();
  Case which() const { return case_; }

 private:
  CompositionExporterError(Case which, const std::string& description);
  Case case_;
};

namespace CompositionExporter {

// The encoder settings: libx264 at this constant quality and speed (see the README for why).
struct Encoding {
  int crf = 18;
  std::string preset = "veryfast";
};

// Writes what the builder makes of `plan` (the same composition the preview plays) to the
// MPEG-4 movie `destination`: H.264 in 4:2:0 with the source's colour tags, AAC at 192 kb/s,
// index at the front. Any file there is replaced. `progress` gets the fraction done about every
// 0.3 s. Throws the builder's errors, CompositionExporterError, MediaError for unreadable
// sources and unwritable destinations, Cancelled when `stop` is requested; a failed export
// leaves no file at `destination`.
void exportMovie(const EditPlan& plan, const Asset& source, const CompositionBuilder::Inputs& inputs,
                 const std::filesystem::path& destination,
                 const std::function<void(double)>& progress, std::stop_token stop = {},
                 const Encoding& encoding = {});

}  // namespace CompositionExporter
}  // namespace brisklet
