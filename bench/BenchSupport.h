#pragma once

// Small helpers the hand-run benchmarks share.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace bench {

// Wall-clock seconds `work` takes.
inline double seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs a shell command; a failure ends the benchmark.
inline void run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

// What a shell command writes on stdout (and, with 2>&1, on stderr).
inline std::string output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, read);
    pclose(pipe);
  }
  return text;
}

// The bench video: 10 minutes of 1920×1080 30 fps H.264 (GOP 60, B-frames) with sound, made once
// into /tmp/brisklet-bench/.
inline std::filesystem::path tenMinuteVideo() {
  std::filesystem::create_directories("/tmp/brisklet-bench");
  const std::filesystem::path video = "/tmp/brisklet-bench/ten-minutes-1080p30.mp4";
  if (!std::filesystem::exists(video)) {
    std::printf("generating %s (once)…\n", video.c_str());
    run("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=1920x1080:r=30:d=600 "
        "-f lavfi -i sine=f=330:d=600 -c:v libx264 -preset veryfast -g 60 -bf 2 "
        "-pix_fmt yuv420p -c:a aac -shortest " +
        video.string());
  }
  return video;
}

inline long peakRssMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace bench
