// Chunked line reading for the log store; see line_reader.h.
#include "stats/line_reader.h"

#include <cstring>

#include "stats/read_counters.h"

namespace stats {

LogReadCounters& LogReads() {
    static LogReadCounters counters;
    return counters;
}

LineReader::LineReader(platform::File& file, Mode mode, std::size_t maxLine, LongLineSink* sink)
    : file_(file), mode_(mode), maxLine_(maxLine), sink_(sink), buffer_(new char[kChunkBytes]) {}

void LineReader::BeginLongLine(std::string_view held) {
    if (sink_ != nullptr) {
        sink_->Begin();
        sink_->Take(held);
    }
}

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
                if (!tooLong) {
                    BeginLongLine(*line);
                }
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
        if (!tooLong && contentBytes + content > maxLine_ + 1) {
            // One byte of slack lets a CR that belongs to the line end through; the exact
            // check follows once the end is known. What was held so far is all content.
            tooLong = true;
            BeginLongLine(*line);
            line->clear();
        }
        if (!tooLong) {
            line->append(start, mode_ == Mode::Raw ? take : content);
        } else if (sink_ != nullptr) {
            sink_->Take(std::string_view(start, take));
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
                BeginLongLine(*line);
                if (mode_ == Mode::Text && sink_ != nullptr) {
                    sink_->Take("\n");  // a text line holds no LF of its own
                }
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
