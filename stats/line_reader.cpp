// Chunked line reading for the log store; see line_reader.h.
#include "stats/line_reader.h"

#include <cstring>

#include "stats/read_counters.h"

namespace stats {

LogReadCounters& LogReads() {
    static LogReadCounters counters;
    return counters;
}

LineReader::LineReader(platform::File& file, Mode mode, std::size_t maxLine)
    : file_(file), mode_(mode), maxLine_(maxLine), buffer_(new char[kChunkBytes]) {}

bool LineReader::Refill() {
    if (eof_ || error_) {
        return false;
    }
    const std::int64_t n = file_.Read(buffer_.get(), kChunkBytes);
    if (n < 0) {
        error_ = true;
        return false;
    }
    if (n == 0) {
        eof_ = true;
        return false;
    }
    LogReads().bytesRead.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
    pos_ = 0;
    len_ = static_cast<std::size_t>(n);
    return true;
}

LineReader::Result LineReader::Next(std::string* line) {
    line->clear();
    bool tooLong = false;
    bool sawAnyByte = false;
    // Content bytes of the line so far, not counting its line end.
    std::size_t contentBytes = 0;
    for (;;) {
        if (pos_ >= len_ && !Refill()) {
            if (error_) {
                return Result::Error;
            }
            if (!sawAnyByte) {
                return Result::End;
            }
            if (tooLong || contentBytes > maxLine_) {
                line->clear();
                return Result::TooLong;
            }
            return Result::Line;
        }
        sawAnyByte = true;
        const char* start = buffer_.get() + pos_;
        const std::size_t avail = len_ - pos_;
        const void* lf = std::memchr(start, '\n', avail);
        const std::size_t take =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1 : avail;
        pos_ += take;
        const std::size_t content = lf ? take - 1 : take;
        if (!tooLong) {
            if (contentBytes + content > maxLine_ + 1) {
                // One byte of slack lets a CR that belongs to the line end through; the
                // exact check follows once the end is known.
                tooLong = true;
                line->clear();
            } else {
                line->append(start, mode_ == Mode::Raw ? take : content);
            }
        }
        contentBytes += content;
        if (lf) {
            if (tooLong) {
                return Result::TooLong;
            }
            std::size_t ownBytes = contentBytes;
            const bool crBeforeLf =
                contentBytes > 0 && (*line)[line->size() - (mode_ == Mode::Raw ? 2 : 1)] == '\r';
            if (crBeforeLf) {
                --ownBytes;
            }
            if (ownBytes > maxLine_) {
                line->clear();
                return Result::TooLong;
            }
            if (mode_ == Mode::Text && crBeforeLf) {
                line->pop_back();
            }
            return Result::Line;
        }
    }
}

}  // namespace stats
