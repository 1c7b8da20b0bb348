// What velkor-cli tells its user while it works: progress bars on a
// terminal, plain lines when the output is a file or a pipe, or one JSON
// object per event for programs.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/operation_outcome.hpp"
#include "app/progress_estimate.hpp"
#include "app/view.hpp"
#include "data/image_digest.hpp"

namespace velkor::cli {

enum class OutputStyle { Terminal, Plain, Json };

// Terminal when standard output is one, otherwise plain lines.
OutputStyle DefaultOutputStyle();

class EventOutput {
 public:
  EventOutput(OutputStyle style, bool logLines, std::FILE* out = stdout, std::FILE* errors = stderr);

  // A line of the information log (shown only when asked for).
  void LogLine(const std::string& line);
  // A message box of the window.
  void Message(MessageKind kind, const std::string& text);
  // A programmer was identified on a port.
  void ProgrammerFound(int channel, const std::string& port, const std::string& identification);
  // An operation started on a programmer.
  void Started(int channel, const std::string& operation);
  // The programmer's gauge (progress of maximum) and what its progress line
  // shows.
  void Progress(int channel, int progress, int maximum, const ProgressFigures& figures);
  // The result line of one programmer.
  void Result(const OperationOutcome& outcome, const std::string& identification);
  // A file was written (a chip read, a conversion).
  void FileWritten(const std::string& what, const std::string& path, std::size_t bytes,
                   const std::optional<ImageDigest>& digest = std::nullopt);
  // An object file was loaded: the image's used range and its digests.
  void ImageLoaded(const std::string& path, uint32_t first, uint32_t last, const ImageDigest& digest);
  // The end, with the exit status.
  void Finished(int status);
  // A line of a listing (ports, chips, programmers), already formatted for
  // people, or as JSON for programs.
  void Listing(const std::string& humanLine, const std::string& jsonLine);

 private:
  struct Bar {
    bool active = false;
    std::string operation;
    int progress = 0;
    int maximum = 0;
    ProgressFigures figures;
    int lastReported = -1;  // percent
    std::string lastStage;
  };
  void DrawBars(bool force);
  // Takes the bars off the terminal; the cursor is left where the first was.
  void ClearBars();
  // The bar of one programmer as its terminal line shows it.
  std::string BarLine(int programmer, const Bar& bar) const;
  void Emit(const std::string& text);  // one line to out_
  void EmitJson(const std::string& json);

  OutputStyle style_;
  bool logLines_;
  std::FILE* out_;
  std::FILE* errors_;
  // The bar of programmer n, made when first needed.
  Bar& BarOf(int programmer);
  std::vector<Bar> bars_;
  // How many terminal lines the bars take now (one per programmer).
  int barLines_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace velkor::cli
