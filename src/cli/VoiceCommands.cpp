#include <QCoreApplication>
#include <QElapsedTimer>
#include <cmath>
#include <iomanip>

#include "app/TerminationSignals.h"
#include "app/VoiceSettings.h"
#include "cli/CliCommand.h"
#include "voice/VoiceSampleRecorder.h"

namespace brisklet::cli {
namespace {

// Runs the event loop until `task` has ended.
void await(QCoro::Task<> task) { QCoro::waitFor(std::move(task)); }

}  // namespace

Command voicesCommand() {
  return {"voices", "voices", "the ElevenLabs voices of the account, as the settings list them",
          [](Context& context, Arguments arguments) {
            if (!parseArguments(arguments, {}).positional.empty())
              throw UsageError("voices takes no arguments");
            VoiceSettings settings(context.state);
            if (!settings.hasKey())
              throw CommandFailed("Add your ElevenLabs API key in Settings first.");
            await(settings.loadVoices());
            if (settings.statusMessage()) throw CommandFailed(*settings.statusMessage());
            const std::string chosen = settings.voiceID();
            for (const auto& voice : settings.accountVoices())
              context.out << (voice.id == chosen ? "* " : "  ") << std::left << std::setw(24)
                          << voice.id << "  " << voiceLabel(voice) << "\n";
            return kSuccess;
          }};
}

Command cloneVoiceCommand() {
  return {"clone-voice", "clone-voice SAMPLE.wav --consent",
          "makes a clone of your voice from a sample and speaks narration with it; prints its id",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {"--consent"});
            if (parsed.positional.size() != 1) throw UsageError("clone-voice takes one sample");
            if (!parsed.has("--consent"))
              throw UsageError(
                  "--consent confirms this is your own voice and that you consent to creating "
                  "an AI clone of it for narration");
            const std::filesystem::path sample = std::filesystem::absolute(parsed.positional[0]);
            VoiceSettings settings(context.state);
            settings.setConsentGiven(true);
            if (!settings.hasKey())
              throw CommandFailed("Add your ElevenLabs API key in Settings first.");
            std::error_code error;
            if (!std::filesystem::is_regular_file(sample, error))
              throw CommandFailed("There is no voice sample at \u201C" + sample.string() + "\u201D.");
            await(settings.cloneVoice(sample));
            if (settings.statusMessage() &&
                !settings.statusMessage()->starts_with("Could not load voices"))
              throw CommandFailed(*settings.statusMessage());
            context.out << settings.voiceID() << "\n";
            return kSuccess;
          }};
}

Command recordVoiceCommand() {
  return {"record-voice", "record-voice -o FILE.wav [--seconds N]",
          "records a voice sample from the default input (level on stderr, Ctrl-C ends it early); "
          "prints the path",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {}, {"--seconds"});
            double seconds = VoiceSampleRecorder::kLongestSec;
            if (const std::optional<std::string> given = parsed.value("--seconds")) {
              seconds = numberArgument(*given, "--seconds");
              if (!(seconds > 0)) throw UsageError("--seconds takes a positive number of seconds");
            }
            const std::vector<std::string>& rest = parsed.positional;
            if (rest.size() != 2 || rest[0] != "-o") throw UsageError("record-voice takes -o FILE.wav");
            const std::filesystem::path file = std::filesystem::absolute(rest[1]);
            VoiceSampleRecorder recorder(file);
            recorder.setLongestSec(seconds);
            recorder.toggle();
            if (!recorder.isRecording()) throw CommandFailed(VoiceSampleRecorder::kUnavailableText);
            // Ctrl-C is how a reader says they are done: the sample so far is kept.
            const TerminationSignals finishEarly([&](int) { recorder.stop(); });
            QElapsedTimer shown;
            shown.start();
            while (recorder.isRecording()) {
              QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
              if (shown.elapsed() >= 250) {
                const int bars = static_cast<int>(std::lround(recorder.level() * 20));
                context.err << "level " << std::string(static_cast<size_t>(bars), '#')
                            << std::string(static_cast<size_t>(20 - bars), '.') << "  "
                            << std::fixed << std::setprecision(1) << recorder.elapsedSec() << " s"
                            << (context.errIsTerminal ? "\r" : "\n") << std::flush;
                shown.restart();
              }
            }
            if (context.errIsTerminal) context.err << "\n";
            context.out << file.string() << "\n";
            return kSuccess;
          }};
}

}  // namespace brisklet::cli
