#include "tools/mksetup/progress.h"

#include <stdio.h>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

constexpr std::chrono::milliseconds kRedraw(200);
const double kMiB = 1024.0 * 1024.0;

}  // namespace

Progress::Progress(uint64_t total, bool enabled)
    : total_(total),
      active_(enabled && isatty(fileno(stderr))),
      start_(Clock::now()),
      next_(start_ + kRedraw) {}

Progress::~Progress() {
    if (drawn_)
        fprintf(stderr, "\r%79s\r", "");
}

void Progress::Add(uint64_t bytes) {
    done_ += bytes;
    if (!active_)
        return;
    Clock::time_point now = Clock::now();
    if (now >= next_)
        Draw(now);
}

void Progress::Draw(Clock::time_point now) {
    double seconds = std::chrono::duration<double>(now - start_).count();
    double rate = done_ / seconds;
    double left = rate > 0 && total_ > done_ ? (total_ - done_) / rate : 0;
    fprintf(stderr, "\rmksetup: %.0f of %.0f MiB hashed and written, %.0f MB/s, %.0f s left   ",
            done_ / kMiB, total_ / kMiB, rate / 1e6, left);
    fflush(stderr);
    drawn_ = true;
    next_ = now + kRedraw;
}
