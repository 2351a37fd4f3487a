#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "cli/ProgressPrinter.h"

namespace brisklet {
namespace {

TEST(ProgressPrinter, LogsOneLinePerStageOrTenth) {
  std::ostringstream stream;
  {
    cli::ProgressPrinter printer(stream, false);
    for (int step = 0; step <= 50; ++step) printer.report({"Detecting scenes…", step / 100.0});
    printer.report({"Scoring visual quality…", 0.5});
    printer.report({"Working…", -1});
  }
  EXPECT_EQ(stream.str(),
            "Detecting scenes… 0%\nDetecting scenes… 10%\nDetecting scenes… 20%\n"
            "Detecting scenes… 30%\nDetecting scenes… 40%\nDetecting scenes… 50%\n"
            "Scoring visual quality… 50%\nWorking…\n");
}

TEST(ProgressPrinter, RedrawsABarOnATerminalAndEndsItsLine) {
  std::ostringstream stream;
  {
    cli::ProgressPrinter printer(stream, true);
    printer.report({"Detecting scenes…", 0.5});
    printer.report({"Detecting scenes…", 0.5});  // nothing new: not drawn again
  }
  EXPECT_EQ(stream.str(), "\r\x1b[2K[###############---------------] Detecting scenes… 50%\n");
  std::ostringstream silent;
  { cli::ProgressPrinter printer(silent, true); }
  EXPECT_EQ(silent.str(), "");
}

}  // namespace
}  // namespace brisklet
