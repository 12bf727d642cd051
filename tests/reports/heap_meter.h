// The most heap a piece of code holds at once: while a Meter lives, every allocation through
// operator new is counted, so a test can show that a writer's memory does not grow with its
// input. One Meter at a time.
#pragma once

#include <cstddef>

namespace heap_meter {

class Meter {
  public:
    Meter();
    ~Meter();
    Meter(const Meter&) = delete;
    Meter& operator=(const Meter&) = delete;

    // The highest number of bytes held at once, counted from the Meter's start.
    std::size_t Peak() const;
};

}  // namespace heap_meter
