#include <QCoreApplication>
#include <QElapsedTimer>
#include <cmath>
#include <csignal>
#include <iomanip>

#include "app/OutputDestination.h"
#include "app/TerminationSignals.h"
#include "app/VoiceSettings.h"
#include "cli/CliCommand.h"
#include "platform/AtomicFile.h"
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
  return {
      "clone-voice", "clone-voice SAMPLE.wav --consent",
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
        // Consent is stored before anything is sent: without it no clone is made.
        if (!settings.setConsentGiven(true)) throw CommandFailed(*settings.statusMessage());
        if (!settings.hasKey())
          throw CommandFailed("Add your ElevenLabs API key in Settings first.");
        std::error_code error;
        if (!std::filesystem::exists(sample, error))
          throw CommandFailed("There is no voice sample at \u201C" + sample.string() + "\u201D.");
        try {
          requireRegularFile(sample);
        } catch (const FileError& failure) {
          throw CommandFailed(failure.what());
        }
        await(settings.cloneVoice(sample));
        // A clone that exists is told even when it could not be chosen: it is on the account.
        if (settings.clonedVoiceID()) context.out << *settings.clonedVoiceID() << "\n";
        if (settings.statusMessage() &&
            !settings.statusMessage()->starts_with("Could not load voices"))
          throw CommandFailed(*settings.statusMessage());
        return kSuccess;
      }};
}

Command recordVoiceCommand() {
  return {
      "record-voice", "record-voice -o FILE.wav [--seconds N]",
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
        if (const auto refusal = destinationRefusal(file, context.state.store(), OutputKind::sound))
          throw CommandFailed("Recording refused: " + *refusal);
        VoiceSampleRecorder recorder(file);
        recorder.setLongestSec(seconds);
        recorder.toggle();
        if (!recorder.isRecording())
          throw CommandFailed(recorder.failure().value_or(VoiceSampleRecorder::kUnavailableText));
        // Ctrl-C is how a reader says they are done: the sample so far is kept. SIGTERM
        // (a logout, `kill`) throws the recording away and leaves the file as it was.
        std::optional<int> terminatedBy;
        const TerminationSignals finishEarly([&](int signal) {
          if (signal == SIGINT) {
            recorder.stop();
            return;
          }
          terminatedBy = signal;
          recorder.abandon();
        });
        QElapsedTimer shown;
        shown.start();
        while (recorder.isRecording()) {
          QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                          50);
          if (shown.elapsed() >= 250) {
            const int bars = static_cast<int>(std::lround(recorder.level() * 20));
            context.err << "level " << std::string(static_cast<size_t>(bars), '#')
                        << std::string(static_cast<size_t>(20 - bars), '.') << "  " << std::fixed
                        << std::setprecision(1) << recorder.elapsedSec() << " s"
                        << (context.errIsTerminal ? "\r" : "\n") << std::flush;
            shown.restart();
          }
        }
        if (context.errIsTerminal) context.err << "\n";
        if (terminatedBy) throw Interrupted(*terminatedBy);
        if (recorder.failure()) throw CommandFailed(*recorder.failure());
        context.out << file.string() << "\n";
        return kSuccess;
      }};
}

}  // namespace brisklet::cli
